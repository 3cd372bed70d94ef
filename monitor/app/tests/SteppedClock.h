#pragma once
// The real monitor with its wall clock stepped while it runs: libfaketime
// moves the wall clock of the programs started on a SteppedClock through a
// control file that the test rewrites, and leaves their monotonic clock
// alone, as a real step (NTP, a user setting the time) does. The station
// file is written by the test, stamped with the same stepped local time.
#include "Automation.h"
#include "MonitorConfig.h"
#include "MonitorProcess.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"
#include "WaitFor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace skyvane::testing {

inline const QString kApp = QString::fromLatin1(kAppName);
inline const QTimeZone kBerlin("Europe/Berlin");

inline QString libfaketime()
{
    for (const char* p : {"/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1", "/usr/lib/aarch64-linux-gnu/faketime/libfaketimeMT.so.1",
                          "/usr/lib/faketime/libfaketimeMT.so.1", "/usr/local/lib/faketime/libfaketimeMT.so.1"})
        if (QFileInfo::exists(QString::fromLatin1(p))) return QString::fromLatin1(p);
    return {};
}

// The stepped wall clock: real time plus an offset, written to the control
// file that libfaketime reads on every call.
class SteppedClock {
public:
    explicit SteppedClock(const QString& file) : file_(file) { set(0); }
    void set(qint64 offsetSeconds)
    {
        offset_ = offsetSeconds;
        const QString tmp = file_ + ".new";
        QFile f(tmp);
        if (f.open(QIODevice::WriteOnly)) f.write((offsetSeconds < 0 ? "" : "+") + QByteArray::number(offsetSeconds) + "\n");
        f.close();
        QFile::remove(file_);
        QFile::rename(tmp, file_);
    }
    void step(qint64 seconds) { set(offset_ + seconds); }
    QDateTime now() const { return QDateTime::currentDateTimeUtc().addSecs(offset_); }
    // Variables that put a program on this clock, in Europe/Berlin.
    void addTo(QProcessEnvironment& env) const
    {
        env.insert("LD_PRELOAD", libfaketime());
        env.insert("FAKETIME_TIMESTAMP_FILE", file_);
        env.insert("FAKETIME_NO_CACHE", "1");
        env.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
        env.insert("NO_FAKE_STAT", "1");
        env.insert("TZ", "Europe/Berlin");
    }

private:
    QString file_;
    qint64 offset_ = 0;
};

// The station program: writes its file whole (a new file renamed into
// place), stamped with the local time of the stepped clock, and with that
// time as the file's modification time.
inline void writeStation(const QString& path, const QDateTime& nowUtc, double windKmh, const char* direction)
{
    const QDateTime local = nowUtc.toTimeZone(kBerlin);
    const QString tmp = path + ".tmp";
    QFile f(tmp);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("Date,,%1\nTime,,%2\nOutTemp,\u00b0C,5.2\nWindSpeed,km/h,%3\nGust,km/h,8\nWindDirection,,%4\n"
                           "RainDayMin,mm,0\nRainDayMax,mm,0\nOutHumidity,%,60\nDewPoint,\u00b0C,-2.0\nBarometer,hPa,1013\n")
                .arg(local.toString("dd/MM/yy"), local.toString("HH:mm:ss"))
                .arg(windKmh)
                .arg(QString::fromLatin1(direction))
                .toUtf8());
    ASSERT_TRUE(f.flush());
    ASSERT_TRUE(f.setFileTime(nowUtc, QFileDevice::FileModificationTime));
    f.close();
    ASSERT_EQ(::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(path).constData()), 0);
}

// The flag the monitor logged last ("" before the first).
inline QString lastFlag(MonitorProcess& m)
{
    const QStringList lines = m.log().split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        if (it->contains(" flag: ")) return it->section(" flag: ", 1).trimmed();
    return {};
}

class ClockSteps : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (libfaketime().isEmpty()) FAIL() << "libfaketime is not installed (Debian package faketime)";
        ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
        station = dir.filePath("station.csv");
        settings = dir.filePath("settings");
        clock = std::make_unique<SteppedClock>(dir.filePath("faketime"));
    }

    void writeSettings(const std::function<void(SettingsStore&)>& more = {})
    {
        SettingsStore store(settings);
        store.save(kApp, "Setup", "Emulator", "1");
        store.save(kApp, "Setup", "HTMFile", station);
        store.save(kApp, "Window", "PathName", dir.filePath("data"));
        store.save(kApp, "Window", "FileName", "night");
        store.save(kApp, "Window", "FreqSave", "1");
        if (more) more(store);
        store.sync();
    }

    bool startMonitor()
    {
        QProcessEnvironment extra;
        extra.insert("SKYVANE_TEST_READ_INTERVAL_MS", "500");
        extra.insert("HOME", settings);
        clock->addTo(extra);
        if (!monitor.start(bus, settings, {"--headless"}, extra)) return false;
        conn = bus.connection("client");
        client = attachToMonitor(conn);
        return client != nullptr;
    }

    // Waits until the logged flag is want; the real seconds it took, or -1.
    double waitFlag(const QString& want, double seconds, const std::function<void(double)>& meanwhile = {})
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < qint64(seconds * 1000)) {
            if (lastFlag(monitor) == want) return double(t.elapsed()) / 1000.0;
            if (meanwhile) meanwhile(double(t.elapsed()) / 1000.0);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(50);
        }
        return -1;
    }

    QTemporaryDir dir;
    PrivateBus bus;
    QString station, settings;
    std::unique_ptr<SteppedClock> clock;
    MonitorProcess monitor;
    QDBusConnection conn{QString()};
    std::unique_ptr<automation::LateBoundObject> client;
};

// Steps at given moments (real seconds after the start of a wait); the
// station writes after each step and every few seconds, as a station on
// the same computer does.
struct Steps {
    QList<QPair<double, qint64>> at; // seconds into the wait, step in seconds
    int done = 0;
    double lastWrite = -100;
};

} // namespace skyvane::testing
