// The status page and its JSON: read by a real browser (headless Chromium
// from Debian) from the real monitor. The browser runs as a child process
// while this test turns the event loop, so the server answers it; the read
// cycles are driven by the fake clock meanwhile.
#include "GraphPipeline.h"
#include "ServerRig.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;

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
