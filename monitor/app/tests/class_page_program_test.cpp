// The class page (docs/nephor-class.md) against the shipped program: the
// desktop monitor and the headless one each serve every member the page
// lists, none of them answers that it is missing, and the members that reach
// the monitor's own user data file and graph history do what the page says.
// The real program runs on a private bus with the sensor stand-in.
#include "WaitFor.h"
#include "Automation.h"
#include "MonitorConfig.h"
#include "MonitorProcess.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

const QString kApp = QString::fromLatin1(kAppName);
constexpr int kGraphFreq = 2; // not the default (6), so that a made-up answer shows

struct PageMember {
    int slot = 0;
    QString dbusName;
};

// The member table of the page as a reader sees it: slot and D-Bus method.
QList<PageMember> pageMembers(QString* error)
{
    QFile f(QDir(qEnvironmentVariable("SKYVANE_SOURCE_DIR")).filePath(QStringLiteral("docs/nephor-class.md")));
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.fileName() + QStringLiteral(": ") + f.errorString();
        return {};
    }
    static const QRegularExpression row(QStringLiteral(R"(^\| (\d+) \| `([A-Za-z0-9_]+)` \| )"));
    QList<PageMember> out;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const auto m = row.match(line);
        if (m.hasMatch()) out << PageMember{m.captured(1).toInt(), m.captured(2)};
    }
    return out;
}

struct ServedMethod {
    QString name;
    QString inSignature;
};

// The methods of the class interface as the instance's introspection data
// gives them, in order.
QList<ServedMethod> servedMethods(QDBusConnection& conn, const QString& owner, const QString& path, QString* error)
{
    QDBusMessage m = QDBusMessage::createMethodCall(owner, path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                    QStringLiteral("Introspect"));
    const QDBusMessage reply = conn.call(m, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        *error = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        return {};
    }
    QList<ServedMethod> out;
    QXmlStreamReader x(reply.arguments().first().toString());
    bool inClass = false;
    while (!x.atEnd()) {
        x.readNext();
        if (x.isStartElement() && x.name() == QLatin1String("interface"))
            inClass = x.attributes().value(QLatin1String("name")) == QLatin1String(kMonitorProgId);
        else if (x.isEndElement() && x.name() == QLatin1String("interface"))
            inClass = false;
        else if (inClass && x.isStartElement() && x.name() == QLatin1String("method"))
            out << ServedMethod{x.attributes().value(QLatin1String("name")).toString(), QString()};
        else if (inClass && x.isStartElement() && x.name() == QLatin1String("arg") && !out.isEmpty() &&
                 x.attributes().value(QLatin1String("direction")) != QLatin1String("out"))
            out.last().inSignature += x.attributes().value(QLatin1String("type")).toString();
    }
    if (x.hasError()) *error = x.errorString();
    return out;
}

// A plain value of each type a client may pass: 0, False, "".
QVariantList neutralArguments(const QString& signature)
{
    QVariantList args;
    for (const QChar t : signature) {
        switch (t.toLatin1()) {
        case 'i': args << qint32(0); break;
        case 'd': args << 0.0; break;
        case 'b': args << false; break;
        case 'v': args << QVariant::fromValue(QDBusVariant(QVariant(qint32(0)))); break;
        default: args << QString(); break;
        }
    }
    return args;
}

struct Answer {
    bool ok = false;
    QString errorName;
    QString errorText;
    QVariantList values;
};

Answer callRaw(QDBusConnection& conn, const QString& owner, const QString& path, const QString& method,
               const QVariantList& args)
{
    QDBusMessage m = QDBusMessage::createMethodCall(owner, path, QString::fromLatin1(kMonitorProgId), method);
    m.setArguments(args);
    const QDBusMessage reply = conn.call(m, QDBus::Block, 8000);
    Answer a;
    a.ok = reply.type() == QDBusMessage::ReplyMessage;
    a.errorName = reply.errorName();
    a.errorText = reply.errorMessage();
    a.values = reply.arguments();
    return a;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

enum class Mode { Desktop, Headless };

struct Program {
    PrivateBus bus;
    std::unique_ptr<SensorStandIn> sim;
    QTemporaryDir dir;
    MonitorProcess monitor;
    QDBusConnection conn{QString()};
    std::unique_ptr<automation::LateBoundObject> client;
    qint64 intervalMs = 0;

    QString dataFile() const { return dir.filePath(QStringLiteral("data/night.csv")); }

    // Starts the program with a short read period, a calm station file, a
    // user data file that records every cycle and a graph sample every
    // kGraphFreq cycles, attaches a client and starts monitoring.
    bool start(Mode mode, QString* why)
    {
        if (!bus.isRunning()) return *why = bus.error(), false;
        sim = std::make_unique<SensorStandIn>(bus, QStringList{"--ready-delay", "0"});
        if (!sim->isRunning()) return *why = sim->error(), false;
        SettingsStore store(dir.path());
        store.save(kApp, "Setup", "Emulator", "1");
        store.save(kApp, "Setup", "HTMFile", dir.filePath("station.csv"));
        store.save(kApp, "Setup", "RefreshRead", "0"); // 5 s
        store.save(kApp, "Window", "PathName", dir.filePath("data"));
        store.save(kApp, "Window", "FileName", "night");
        store.save(kApp, "Window", "FreqSave", "1");
        store.save(kApp, "Window", "PathNameCCDAP4", dir.filePath("ccd"));
        store.save(kApp, "Graphs", "GraphFreq", QString::number(kGraphFreq));
        store.save(kApp, "Graphs", "GraphImagePath", dir.filePath("images"));
        store.sync();
        for (const char* d : {"data", "ccd", "images"}) QDir().mkpath(dir.filePath(d));
        if (!writeCalmStation(dir.filePath("station.csv"))) return *why = QStringLiteral("no station file"), false;

        QProcessEnvironment extra;
        extra.insert("HOME", dir.path());
        if (mode == Mode::Headless) {
            // The headless program alone has the short test period.
            extra.insert("SKYVANE_TEST_READ_INTERVAL_MS", "1000");
            intervalMs = 1000;
        } else {
            intervalMs = 5000;
        }
        if (!monitor.start(bus, dir.path(), mode == Mode::Headless ? QStringList{"--headless"} : QStringList{}, extra))
            return *why = QStringLiteral("the program did not start"), false;
        conn = bus.connection(QStringLiteral("client"));
        client = attachToMonitor(conn);
        if (!client) return *why = QStringLiteral("no class published\n") + monitor.log(), false;
        QVariantList none;
        const automation::CallResult r = client->callLong(QStringLiteral("Device_Start"), none, 60000);
        if (!r.ok()) return *why = QStringLiteral("Device_Start: ") + r.error + QLatin1Char('\n') + monitor.log(), false;
        return true;
    }
    Answer call(const QString& method, const QVariantList& args = {})
    {
        return callRaw(conn, client->owner(), client->path(), method, args);
    }
};

void checkProgram(Mode mode)
{
    QString why;
    const QList<PageMember> page = pageMembers(&why);
    ASSERT_EQ(page.size(), 342) << why.toStdString();

    Program p;
    ASSERT_TRUE(p.start(mode, &why)) << why.toStdString();

    // Served: the instance has every member of the page, in the page's order.
    const QList<ServedMethod> served = servedMethods(p.conn, p.client->owner(), p.client->path(), &why);
    ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    QStringList pageNames, servedNames;
    for (const PageMember& m : page) pageNames << m.dbusName;
    for (const ServedMethod& m : served) servedNames << m.name;
    EXPECT_EQ(servedNames, pageNames);
    for (int i = 0; i < page.size(); ++i) EXPECT_EQ(page[i].slot, i + 1) << page[i].dbusName.toStdString();

    {
        SCOPED_TRACE("the graph period");
        for (const auto& [method, args] : {std::pair{"GraphFreq", QVariantList{}}, std::pair{"GetGraphFreq", QVariantList{1}},
                                           std::pair{"GetGraphFreq", QVariantList{-1}}}) {
            const Answer a = p.call(QString::fromLatin1(method), args);
            ASSERT_TRUE(a.ok) << method << ": " << a.errorText.toStdString();
            ASSERT_FALSE(a.values.isEmpty());
            EXPECT_EQ(a.values.first().toInt(), kGraphFreq) << method;
        }
    }
    {
        SCOPED_TRACE("the graph history");
        // Graph numbers other than 1 to 4 read the monitor's own history.
        auto slotOf = [&](const char* method, int graph) {
            const Answer a = p.call(QString::fromLatin1(method), {graph});
            return a.ok && !a.values.isEmpty() ? a.values.first().toInt() : -1;
        };
        const Answer empty = p.call(QStringLiteral("XOB_GraphArray"));
        ASSERT_TRUE(empty.ok) << empty.errorText.toStdString();
        ASSERT_TRUE(waitFor([&] { return slotOf("XOB_GraphArrayLastElem", 0) > 0; }, int(4 * kGraphFreq * p.intervalMs) + 10000))
            << "no graph sample\n" << p.monitor.log().toStdString();
        const int first = slotOf("XOB_GraphArrayFirstElem", 5);
        const int last = slotOf("XOB_GraphArrayLastElem", 5);
        EXPECT_EQ(slotOf("XOB_GraphArrayFirstElem", 0), first);
        EXPECT_GE(first, 1);
        EXPECT_GE(last, first);
        const Answer a = p.call(QStringLiteral("XOB_GraphArray"));
        ASSERT_TRUE(a.ok) << a.errorText.toStdString();
        ASSERT_EQ(a.values.size(), 1);
        const QVariantList rows = automation::fromWire(a.values.first(), QStringLiteral("v"), false).toList();
        ASSERT_EQ(rows.size(), 8) << "rows 0..7";
        const QVariantList temperature = rows[7].toList();
        ASSERT_GT(temperature.size(), last);
        // The station file's temperature in the newest slot; slot 0 and row 0 empty.
        EXPECT_DOUBLE_EQ(automation::toDouble(temperature[last]), 5.2);
        EXPECT_EQ(automation::toText(temperature[0]), QString());
        EXPECT_EQ(automation::toText(rows[0].toList().value(last)), QString());
        EXPECT_GT(automation::toDouble(rows[1].toList().value(last)), 40000.0) << "the sample's time, a date";
    }
    {
        SCOPED_TRACE("the user data file");
        ASSERT_TRUE(p.call(QStringLiteral("RecordStart"), {false}).ok);
        ASSERT_TRUE(waitFor([&] { return readAll(p.dataFile()).count('\n') >= 1; }, 5000)) << "no header line";
        const QByteArray header = readAll(p.dataFile());
        ASSERT_TRUE(waitFor([&] { return readAll(p.dataFile()).size() > header.size(); }, int(3 * p.intervalMs) + 5000))
            << "no data line recorded";
        const Answer stop = p.call(QStringLiteral("RecordStop"));
        ASSERT_TRUE(stop.ok) << stop.errorText.toStdString();
        const QByteArray stopped = readAll(p.dataFile());
        QThread::msleep(ulong(2 * p.intervalMs + 500));
        EXPECT_EQ(readAll(p.dataFile()), stopped) << "lines written after RecordStop";
        // True appends, with a header of its own.
        ASSERT_TRUE(p.call(QStringLiteral("RecordStart"), {true}).ok);
        ASSERT_TRUE(waitFor([&] { return readAll(p.dataFile()).size() > stopped.size(); }, 5000));
        const QByteArray appended = readAll(p.dataFile());
        EXPECT_TRUE(appended.startsWith(stopped));
        EXPECT_EQ(appended.mid(stopped.size()).left(header.size()), header);
        EXPECT_TRUE(p.call(QStringLiteral("RecordStop")).ok);
    }

    // Every member called with plain arguments (a let writes back what its
    // get reads): none answers that it is missing, and failures come only
    // from the sensor server's side. The members that end monitoring come
    // last, so that all others are called while it runs.
    const QStringList stopping{"Device_Stop", "XOB_DeviceStop"};
    QList<ServedMethod> order;
    for (const ServedMethod& m : served)
        if (!stopping.contains(m.name)) order << m;
    for (const ServedMethod& m : served)
        if (stopping.contains(m.name)) order << m;
    for (const ServedMethod& m : order) {
        SCOPED_TRACE(m.name.toStdString());
        QVariantList args = neutralArguments(m.inSignature);
        if (m.name.startsWith(QLatin1String("let_"))) {
            const Answer now = p.call(QStringLiteral("get_") + m.name.mid(4), args.mid(0, args.size() - 1));
            ASSERT_TRUE(now.ok && !now.values.isEmpty()) << now.errorText.toStdString();
            args.last() = now.values.first();
        }
        const Answer a = p.call(m.name, args);
        if (a.ok) continue;
        EXPECT_FALSE(a.errorText.contains(QLatin1String("not available"), Qt::CaseInsensitive)) << a.errorText.toStdString();
        EXPECT_EQ(a.errorName, QStringLiteral("XOB.Automation.Error.ServerError")) << a.errorText.toStdString();
        EXPECT_TRUE(a.errorText.contains(QLatin1String("XOB_Nephor"))) << a.errorText.toStdString();
    }
    EXPECT_NE(p.monitor.process.state(), QProcess::NotRunning) << p.monitor.log().toStdString();
}

} // namespace

TEST(ClassPageAgainstTheProgram, DesktopServesEveryMemberThePageLists) { checkProgram(Mode::Desktop); }

TEST(ClassPageAgainstTheProgram, HeadlessServesEveryMemberThePageLists) { checkProgram(Mode::Headless); }
