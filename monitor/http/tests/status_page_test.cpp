// The status page and its JSON: read by a real browser (headless Chromium
// from Debian) from the real monitor. The browser runs as a child process
// while this test turns the event loop, so the server answers it; the read
// cycles are driven by the fake clock meanwhile.
#include "FtpServer.h"
#include "GraphPipeline.h"
#include "MonitorConfig.h"
#include "Safety.h"
#include "ServerRig.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;
using skyvane::testing::FtpServer;

namespace {

const QString kChromium = QStringLiteral("/usr/bin/chromium");

// Runs Chromium headless on url with extra arguments; returns its standard
// output (the DOM for --dump-dom). Read cycles go on every 300 ms meanwhile.
QByteArray runBrowser(ServerRig& s, const QString& url, const QStringList& extra, int* exitCode = nullptr)
{
    QTemporaryDir profile;
    QProcess p;
    QStringList args{"--headless",         "--no-sandbox",          "--disable-gpu",
                     "--no-first-run",     "--disable-extensions",  "--disable-background-networking",
                     "--user-data-dir=" + profile.path(), "--virtual-time-budget=4000"};
    args << extra << url;
    p.start(kChromium, args);
    if (!p.waitForStarted(10000)) return {};
    QTimer cycles;
    QObject::connect(&cycles, &QTimer::timeout, [&] { s.cycle(); });
    cycles.start(300);
    spinUntil([&] { return p.state() == QProcess::NotRunning; }, 60000);
    cycles.stop();
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
    }
    if (exitCode) *exitCode = p.exitCode();
    return p.readAllStandardOutput();
}

} // namespace

TEST(StatusPage, JsonCarriesFlagReasonsValuesAgesAndGraphs)
{
    ServerRig s;
    ASSERT_TRUE(s.rig.ready());
    s.rig.sim->setLevels(3, 1, 1);
    s.rig.start();
    HttpResult r = s.client->get("/api/skyvane/v1/status");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.json.value("flag").toString(), "Unsafe");
    EXPECT_FALSE(r.json.value("safe").toBool(true));
    const QJsonArray reasons = r.json.value("reasons").toArray();
    ASSERT_EQ(reasons.size(), 1);
    EXPECT_EQ(reasons[0].toObject().value("quantity").toString(), "cloud");
    EXPECT_EQ(r.json.value("conditions").toArray().size(), 8);
    const QJsonObject cloud = r.json.value("conditions").toArray()[0].toObject();
    EXPECT_EQ(cloud.value("level").toInt(), 3);
    EXPECT_TRUE(cloud.value("unsafe").toBool());
    EXPECT_TRUE(cloud.value("colour").toString().startsWith('#'));
    EXPECT_FALSE(r.json.value("station").toArray().isEmpty());
    EXPECT_GE(r.json.value("ages").toObject().value("stationSeconds").toDouble(-1), 0);
    EXPECT_EQ(r.json.value("graphs").toArray().size(), 6);

    // The page and its parts come from the monitor itself.
    for (const char* path : {"/", "/status.js", "/status.css"}) {
        const HttpResult f = s.client->get(path);
        EXPECT_EQ(f.status, 200) << path;
        EXPECT_FALSE(f.body.contains("http://") && !QByteArray(path).endsWith(".css")) << path;
        EXPECT_FALSE(f.body.contains("https://")) << path;
    }
    EXPECT_EQ(s.client->get("/graphs/9.png").status, 404);
    EXPECT_EQ(s.client->get("/nothing").status, 404);
    EXPECT_EQ(s.client->put("/api/skyvane/v1/status", "x=1").status, 405);

    // Safe again: no reasons.
    s.rig.sim->setLevels(1, 1, 1);
    s.cycle();
    r = s.client->get("/api/skyvane/v1/status");
    EXPECT_TRUE(r.json.value("safe").toBool());
    EXPECT_TRUE(r.json.value("reasons").toArray().isEmpty());
}

TEST(StatusPage, BrowserShowsFlagAndReasonsAndFollowsTheCycles)
{
    if (!QFile::exists(kChromium)) GTEST_SKIP() << "no Chromium";
    ServerRig s;
    ASSERT_TRUE(s.rig.ready());
    // The graphs drawn as the program draws them, a sample every cycle.
    outputs::GraphPipeline pipeline(nullptr);
    s.rig.core->graphs().setPipeline(&pipeline);
    struct Unhook {
        outputs::GraphOutputs& g;
        ~Unhook() { g.setPipeline(nullptr); }
    } unhook{s.rig.core->graphs()};
    s.rig.core->graphs().setFreq(1);
    s.rig.sim->setLevels(3, 3, 1);
    s.rig.start();
    s.cycle(3);
    ASSERT_TRUE(spinUntil([&] { return !s.rig.core->graphs().pictures()[0].isNull(); }, 20000));
    const HttpResult png = s.client->get("/graphs/0.png");
    EXPECT_EQ(png.status, 200);
    EXPECT_EQ(png.contentType, "image/png");
    EXPECT_TRUE(png.body.startsWith("\x89PNG"));
    const int cyclesAtLoad = s.rig.core->cycleCount();
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(s.port());

    int rc = -1;
    const QString dom = QString::fromUtf8(runBrowser(s, url, {"--dump-dom"}, &rc));
    ASSERT_EQ(rc, 0);
    ASSERT_FALSE(dom.isEmpty());
    EXPECT_TRUE(dom.contains(QStringLiteral("id=\"flag\" class=\"flag unsafe\" data-safe=\"false\">Unsafe<")))
        << dom.toStdString();
    EXPECT_TRUE(dom.contains(QStringLiteral("data-cause=\"marked-level\">Cloud"))) << dom.toStdString();
    EXPECT_TRUE(dom.contains(QStringLiteral("data-cause=\"marked-level\">Rain")));
    EXPECT_TRUE(dom.contains(QStringLiteral("data-key=\"humidity\"")));
    // The page asked again after cycles had run, without a reload.
    const QRegularExpression shown(QStringLiteral("data-cycles=\"(\\d+)\""));
    const auto m = shown.match(dom);
    ASSERT_TRUE(m.hasMatch());
    EXPECT_GT(m.captured(1).toInt(), cyclesAtLoad);

    // Day and night pictures, phone sized, for a person to look at.
    const QString shots = qEnvironmentVariable("SKYVANE_SHOTS_DIR", QDir::currentPath() + "/shots");
    QDir().mkpath(shots);
    for (const auto& [name, query] : {std::pair{"day", ""}, std::pair{"night", "?night=1"}}) {
        const QString file = shots + "/status-" + name + ".png";
        QFile::remove(file);
        runBrowser(s, url + query, {"--screenshot=" + file, "--window-size=412,1400", "--hide-scrollbars"}, &rc);
        EXPECT_TRUE(QFile::exists(file)) << file.toStdString();
    }
}

TEST(StatusPage, HelpSaysWhenOldDataMakeTheSkyUnsafe)
{
    ServerRig s;
    ASSERT_TRUE(s.rig.ready());

    // The help is on the page itself, and names things as the monitor names
    // them: the boxes by their labels in the window, the settings by the keys
    // the monitor stores, the reasons by the texts this page lists.
    const HttpResult page = s.client->get("/");
    ASSERT_EQ(page.status, 200);
    const QString html = QString::fromUtf8(page.body).simplified();
    const int from = html.indexOf(QStringLiteral("<section id=\"help\""));
    ASSERT_GE(from, 0) << "no help on the page";
    const QString help = html.mid(from, html.indexOf(QStringLiteral("</section>"), from) - from);
    const int station = help.indexOf(QStringLiteral("id=\"help-station\""));
    const int sensor = help.indexOf(QStringLiteral("id=\"help-sensor\""));
    ASSERT_TRUE(station >= 0 && sensor > station) << help.toStdString();
    using conditions::UnsafeCause;
    using conditions::UnsafeReason;
    UnsafeReason tooOld{UnsafeCause::StationDataOld};
    tooOld.value = 700;
    auto listed = [](const UnsafeReason& r) { return conditions::reasonText(r).section(QStringLiteral(" ("), 0, 0); };
    struct Box {
        const char* what;
        QString text;
        const char* label;
        const char* key;
        QStringList reasons;
    };
    const Box boxes[] = {
        {"station", help.mid(station, sensor - station), "Weather-station data too old", "WSDataOldUnsafe",
         {listed(tooOld), listed(UnsafeReason{UnsafeCause::StationDataOld})}},
        {"sensor", help.mid(sensor), "Sensor data faulty", "NPDataOldUnsafe", {listed(UnsafeReason{UnsafeCause::SensorDataError})}},
    };
    s.rig.core->save();
    for (const Box& b : boxes) {
        SCOPED_TRACE(b.what);
        EXPECT_TRUE(b.text.contains(QLatin1String(b.label))) << b.text.toStdString();
        EXPECT_TRUE(b.text.contains(QLatin1String("Data old =&gt; Unsafe")));
        EXPECT_TRUE(s.rig.store.contains(QString::fromLatin1(kAppName), "Alarms", b.key)) << "no such setting " << b.key;
        EXPECT_TRUE(b.text.contains(QStringLiteral("[Alarms] ") + b.key));
        for (const QString& r : b.reasons) EXPECT_TRUE(b.text.contains(r)) << r.toStdString();
    }
    EXPECT_TRUE(help.contains(listed(UnsafeReason{UnsafeCause::NotEvaluated})));

    // What the help says, as the page shows it: with a box ticked old data
    // give Unsafe; unticked they do not (and the levels of a silent or
    // stopped sensor do not count), while the box stays red and lists the reason.
    auto status = [&] { return s.client->get("/api/skyvane/v1/status").json; };
    auto causes = [](const QJsonObject& o) {
        QStringList c;
        for (const QJsonValue& r : o.value("reasons").toArray()) c << r.toObject().value("cause").toString();
        return c;
    };
    auto& safety = s.rig.core->conditionsConfig().safety;
    ASSERT_TRUE(safety.npDataOldUnsafe && safety.wsDataOldUnsafe) << "both boxes are ticked by default";
    s.rig.sim->setLevels(3, 1, 1); // overcast
    s.rig.start();
    QJsonObject o = status();
    ASSERT_EQ(o.value("flag").toString(), "Unsafe");
    EXPECT_EQ(causes(o), QStringList{"marked-level"});
    {
        SCOPED_TRACE("sensor server hung");
        constexpr int kHangMs = 5000;
        QElapsedTimer hung;
        hung.start();
        ASSERT_TRUE(s.rig.sim->hang(kHangMs));
        s.cycle();
        o = status();
        EXPECT_EQ(o.value("flag").toString(), "Unsafe");
        EXPECT_EQ(causes(o), QStringList{"sensor-data-error"});
        safety.npDataOldUnsafe = false;
        s.cycle();
        ASSERT_LT(hung.elapsed(), kHangMs) << "the hang ended too soon for this machine";
        o = status();
        EXPECT_EQ(o.value("flag").toString(), "Safe") << "the overcast of the last answer still counted";
        EXPECT_FALSE(o.value("safe").toBool(true)) << "a green box on a hung sensor";
        EXPECT_EQ(causes(o), QStringList{"sensor-data-error"});
        safety.npDataOldUnsafe = true;
        QThread::msleep(ulong(std::max<qint64>(0, kHangMs - hung.elapsed() + 200)));
    }
    {
        SCOPED_TRACE("sensor device stopped");
        // A stopped device still hands out levels; they are not current.
        ASSERT_TRUE(s.rig.sim->setLevels(3, 1, 1));
        ASSERT_TRUE(s.rig.sim->setDeviceRunning(false));
        s.cycle();
        o = status();
        EXPECT_EQ(o.value("flag").toString(), "Unsafe");
        EXPECT_EQ(causes(o), QStringList{"sensor-data-error"});
        safety.npDataOldUnsafe = false;
        s.cycle();
        o = status();
        EXPECT_EQ(o.value("flag").toString(), "Safe") << "the stopped device's overcast counted";
        EXPECT_FALSE(o.value("safe").toBool(true)) << "a green box on a stopped sensor";
        EXPECT_EQ(causes(o), QStringList{"sensor-data-error"});
        safety.npDataOldUnsafe = true;
        ASSERT_TRUE(s.rig.sim->setLevels(1, 1, 1));
        ASSERT_TRUE(s.rig.sim->setDeviceRunning(true));
        s.cycle();
        o = status();
        EXPECT_EQ(o.value("flag").toString(), "Safe");
        EXPECT_TRUE(o.value("safe").toBool());
    }
    {
        SCOPED_TRACE("station file gone");
        ASSERT_TRUE(QFile::remove(s.rig.dir.filePath("station.csv")));
        s.cycle();
        o = status();
        EXPECT_EQ(o.value("flag").toString(), "Unsafe");
        EXPECT_EQ(causes(o), QStringList{"station-data-old"});
        safety.wsDataOldUnsafe = false;
        s.cycle();
        o = status();
        EXPECT_EQ(o.value("flag").toString(), "Safe");
        EXPECT_FALSE(o.value("safe").toBool(true)) << "a green box on missing station data";
        EXPECT_EQ(causes(o), QStringList{"station-data-old"});
    }
}

TEST(StatusPage, FailedUploadRunIsShownRedWithItsReason)
{
    // The default "TLS if offered" against a server whose certificate
    // cannot be verified: nothing is sent, and every face says so.
    ServerRig s;
    ASSERT_TRUE(s.rig.ready());
    FtpServer server;
    ASSERT_TRUE(server.start(true));
    QTemporaryDir local;
    const QString file = local.filePath("cloud.png");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("picture");
    }
    outputs::Uploads& up = s.rig.core->uploads();
    up.config().server = server.url();
    up.config().serverPath = "";
    up.config().username = FtpServer::user();
    up.config().password = FtpServer::password();
    up.config().tls = outputs::UploadTls::IfOffered;
    up.list().addFiles({file});
    s.rig.core->config().upload = true;
    s.rig.start();
    ASSERT_EQ(up.launches(), 1);
    ASSERT_TRUE(spinUntil([&] { return !up.uploaderRunning() && up.lastRun().known; }, 60000));

    EXPECT_EQ(s.rig.core->state().ledUpload.c0, colour::Red);
    EXPECT_EQ(s.rig.core->state().ledUpload.c1, colour::Red);
    EXPECT_EQ(s.rig.core->state().lblStatus.text, "Upload: nothing sent: certificate not trusted");
    const HttpResult r = s.client->get("/api/skyvane/v1/status");
    const QJsonObject upload = r.json.value("upload").toObject();
    EXPECT_FALSE(upload.value("ok").toBool(true));
    EXPECT_EQ(upload.value("filesSent").toInt(-1), 0);
    EXPECT_EQ(upload.value("files").toInt(), 1);
    EXPECT_EQ(upload.value("message").toString(), "nothing sent: certificate not trusted");
    EXPECT_TRUE(QDateTime::fromString(upload.value("time").toString(), Qt::ISODate).isValid());
    EXPECT_EQ(r.json.value("status").toString(), "Upload: nothing sent: certificate not trusted");
    EXPECT_TRUE(QDir(server.root()).entryList(QDir::Files).isEmpty());

    if (!QFile::exists(kChromium)) GTEST_SKIP() << "no Chromium";
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(s.port());
    int rc = -1;
    const QString dom = QString::fromUtf8(runBrowser(s, url, {"--dump-dom"}, &rc));
    ASSERT_EQ(rc, 0);
    const QRegularExpression shown(
        QStringLiteral("id=\"upload\" class=\"upload failed\" data-ok=\"false\">Upload [0-9: -]+: nothing sent: "
                       "certificate not trusted<"));
    EXPECT_TRUE(shown.match(dom).hasMatch()) << dom.toStdString();
    const QString shots = qEnvironmentVariable("SKYVANE_SHOTS_DIR", QDir::currentPath() + "/shots");
    QDir().mkpath(shots);
    runBrowser(s, url, {"--screenshot=" + shots + "/status-upload-failed.png", "--window-size=412,900", "--hide-scrollbars"}, &rc);
}
