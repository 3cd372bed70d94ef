// The real monitor through a night across each daylight-saving change of
// Europe/Berlin, with a station writing local times.
#include "SteppedClock.h"

using namespace skyvane;
using namespace skyvane::testing;

// A night across each daylight-saving change, a station writing local times
// every 20 s: the data never turn too old at the change, the flag stays, and
// the user data file's lines follow the local clock in the order written.
TEST_F(ClockSteps, NightsAcrossTheDaylightSavingChanges)
{
    struct Change {
        const char* name;
        QDateTime atUtc;
        qint64 backSeconds; // how far the local clock goes back at the change
    };
    const Change changes[] = {{"autumn", QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC), 3600},
                              {"spring", QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC), -3600}};
    for (const Change& c : changes) {
        SCOPED_TRACE(c.name);
        QDir(settings).removeRecursively();
        QDir(dir.filePath("data")).removeRecursively();
        QDir().mkpath(dir.filePath("data"));
        writeSettings();
        clock->set(QDateTime::currentDateTimeUtc().secsTo(c.atUtc.addSecs(-25)));
        writeStation(station, clock->now(), 5, "NNE");
        // the sensor server runs on the same computer, on the same clock
        QProcessEnvironment onClock;
        clock->addTo(onClock);
        for (const QString& k : onClock.keys()) qputenv(k.toLocal8Bit().constData(), onClock.value(k).toLocal8Bit());
        SensorStandIn sim(bus, {"--ready-delay", "0"});
        for (const QString& k : onClock.keys()) qunsetenv(k.toLocal8Bit().constData());
        ASSERT_TRUE(sim.isRunning()) << sim.error().toStdString();
        ASSERT_TRUE(sim.setLevels(1, 1, 1));
        ASSERT_TRUE(startMonitor()) << monitor.log().toStdString();
        QVariantList append{false};
        ASSERT_TRUE(client->call("RecordStart", append).ok());
        ASSERT_GE(waitFlag("SAFE", 20), 0) << monitor.log().toStdString();
        const qsizetype from = monitor.log().size();

        double lastWrite = 0;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 55000) {
            if (double(t.elapsed()) / 1000.0 - lastWrite >= 20) {
                writeStation(station, clock->now(), 5, "NNE");
                lastWrite = double(t.elapsed()) / 1000.0;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(100);
        }
        ASSERT_TRUE(clock->now() > c.atUtc.addSecs(20));
        const QString night = monitor.log().mid(from);
        EXPECT_FALSE(night.contains("too old")) << night.toStdString();
        EXPECT_FALSE(night.contains("differs")) << night.toStdString();
        EXPECT_FALSE(night.contains("flag: UNSAFE")) << night.toStdString();
        EXPECT_FALSE(night.contains("clock stepped")) << night.toStdString();

        // the data lines: local date and time as the clock showed them, in
        // the order written; in autumn the hour after the change repeats
        client.reset();
        monitor.terminate();
        QFile data(dir.filePath("data/night.csv"));
        ASSERT_TRUE(data.open(QIODevice::ReadOnly));
        const QRegularExpression stamp(R"((\d{4}-\d{2}-\d{2})\D+(\d{2}:\d{2}:\d{2}))");
        QList<QDateTime> readings; // the local clock's reading, as if it were UTC
        for (const QByteArray& line : data.readAll().split('\n')) {
            const QRegularExpressionMatch mt = stamp.match(QString::fromUtf8(line));
            if (mt.hasMatch())
                readings << QDateTime(QDate::fromString(mt.captured(1), Qt::ISODate), QTime::fromString(mt.captured(2), "HH:mm:ss"), Qt::UTC);
        }
        ASSERT_GE(readings.size(), 40);
        // the monitor writes a line each cycle; the sensor's reading time
        // moves on its own period, so a gap of a few seconds is normal
        int back = 0, skipped = 0;
        for (qsizetype i = 1; i < readings.size(); ++i) {
            const qint64 d = readings[i - 1].secsTo(readings[i]);
            if (d >= 0 && d <= 5) continue;
            if (std::llabs(d + 3600) <= 5) ++back;         // autumn: the hour again
            else if (std::llabs(d - 3600) <= 5) ++skipped; // spring: the hour that is not
            else ADD_FAILURE() << "line " << i << " moves by " << d << " s";
        }
        EXPECT_EQ(back, c.backSeconds > 0 ? 1 : 0);
        EXPECT_EQ(skipped, c.backSeconds < 0 ? 1 : 0);
        const QDateTime endLocal = clock->now().toTimeZone(kBerlin);
        const QDateTime endReading(endLocal.date(), endLocal.time(), Qt::UTC);
        EXPECT_LE(std::llabs(readings.last().secsTo(endReading)), 5)
            << readings.last().toString(Qt::ISODate).toStdString() << " at " << endLocal.toString(Qt::ISODate).toStdString();
    }
}
