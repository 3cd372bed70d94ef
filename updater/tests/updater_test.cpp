// The updater's run against a real HTTPS server on 127.0.0.1: a good update
// installs with backups and clears "LastUpdateMsg"; every fault of the
// network, the server or the description leaves the old program in place,
// no download behind and the right message for the monitor's next start.
#include "Clock.h"
#include "HandOver.h"
#include "SettingsStore.h"
#include "UpdateRun.h"
#include "UpdateServer.h"
#include "UpdateTestFiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace skyvane;
using namespace skyvane::updater;
using namespace skyvane::testing;

namespace {

struct Rig {
    QTemporaryDir serverRoot;
    QTemporaryDir program;
    QTemporaryDir settings;
    UpdateServer server{serverRoot.path()};
    SettingsStore store{settings.path()};
    FakeClock clock;
    QStringList messages;
    std::unique_ptr<UpdateRun> run;
    const QByteArray oldMonitor = monitorScript("5.02.015");
    const QByteArray newMonitor = monitorScript("5.03.000");

    Rig()
    {
        writeFile(program.filePath("XOB_Skyvane"), oldMonitor, true);
        writeFile(serverRoot.filePath("XOB_Skyvane"), newMonitor);
        writeFile(serverRoot.filePath("XOB_Updater_net"), monitorScript("updater 5.03.000"));
        // Large enough for several chunks.
        QByteArray manual;
        for (int i = 0; i < 5000; ++i) manual += "Line " + QByteArray::number(i) + " of the new manual.\n";
        writeFile(serverRoot.filePath("manual.txt"), manual);
        writeFile(program.filePath("manual.md"), "old manual\n");
    }
    bool ready() const { return server.isRunning(); }
    QString url(const QString& p) const { return server.url(p); }
    QString at(const QString& name) const { return program.filePath(name); }

    // The monitor's first record, then the description.
    void handOver(const QByteArray& description)
    {
        writeFile(at(kHandOverFile), titleRecord("XOB_Skyvane", 100, 80, "XOB_Skyvane") + description);
    }
    QByteArray record(const QString& name, const QString& address, const QString& local, const QString& target,
                      const QString& backup)
    {
        return quoteField(name) + "," + quoteField(address) + "," + quoteField(local) + "," + quoteField(target) + ","
               + quoteField(backup) + "\r\n";
    }
    QByteArray monitorRecord(const QString& path = "/XOB_Skyvane")
    {
        return record("XOB_Skyvane", url(path), "XOB_Skyvane_new", "XOB_Skyvane", "XOB_Skyvane.old");
    }

    // Runs the updater as its window would, until it finishes.
    bool go(int timeoutMs = 30000, std::function<void(UpdateRun&)> hook = {})
    {
        run = std::make_unique<UpdateRun>(store, clock, program.path());
        run->setCaFile(server.cert());
        run->setTimeoutMs(timeoutMs);
        QObject::connect(run.get(), &UpdateRun::message, [this](const QString& m) { messages << m; });
        if (hook) hook(*run);
        run->load();
        run->run();
        QDeadlineTimer deadline(60000);
        while (!run->isFinished() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return run->isFinished();
    }
    QString lastUpdateMsg() const
    {
        SettingsStore fresh(settings.path());
        return fresh.get("XOB_Skyvane", "Window", "LastUpdateMsg", "<absent>");
    }
    // Nothing but the old program (and what the test put there) is left.
    void expectUntouched(const QStringList& alsoAllowed = {})
    {
        EXPECT_EQ(readFile(at("XOB_Skyvane")), oldMonitor);
        QStringList files = QDir(program.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& a : QStringList{"XOB_Skyvane", "manual.md"} + alsoAllowed) files.removeAll(a);
        EXPECT_TRUE(files.isEmpty()) << files.join(", ").toStdString();
        EXPECT_EQ(run->programToStart(), at("XOB_Skyvane"));
    }
};

} // namespace

TEST(HandOverFile, ReadsQuotedRecordsAsTheMonitorWritesThem)
{
    const QByteArray data = titleRecord("XOB_Skyvane", 120, -40, "XOB_Skyvane")
                            + "\"Monitor, new\",\"https://h/x\",\"a\"\"b\",,\r\n\n  plain , https://h/y ,y,  \"  z  \" ,w";
    const auto r = parseRecords(data);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], (QStringList{"Title", "XOB_Skyvane", "120", "-40", "XOB_Skyvane"}));
    EXPECT_EQ(r[1], (QStringList{"Monitor, new", "https://h/x", "a\"b", "", ""}));
    EXPECT_EQ(r[2], (QStringList{"plain", "https://h/y", "y", "  z  ", "w"}));
    const HandOver h = interpret(r);
    EXPECT_EQ(h.left, 120);
    EXPECT_EQ(h.top, -40);
    EXPECT_EQ(h.program, "XOB_Skyvane");
    EXPECT_EQ(h.files.size(), 2u);
}

TEST(HandOverFile, NamesAndAddressesThatAreRefused)
{
    for (const char* bad : {"../x", "..", ".", "a/b", "a\\b", "/etc/passwd", "C:evil", "c:\\w", "", "a\nb"})
        EXPECT_FALSE(isPlainFileName(QString::fromUtf8(bad))) << bad;
    for (const char* good : {"XOB_Skyvane", "XOB_Skyvane.exe", "a..b", "new file.txt"})
        EXPECT_TRUE(isPlainFileName(QString::fromUtf8(good))) << good;

    EXPECT_TRUE(addressProblem("https://updates.example.org/xob/x").isEmpty());
    EXPECT_TRUE(addressProblem("http://127.0.0.1:8080/xob/x").isEmpty());
    for (const char* bad : {"http://example.org/x", "http://127.0.0.1.evil.org/x", "http://127.0.0.1@evil.org/x",
                            "ftp://127.0.0.1/x", "file:///etc/passwd", "/xob/x", "https:/x"})
        EXPECT_FALSE(addressProblem(QString::fromUtf8(bad)).isEmpty()) << bad;

    // A description may not aim a download or a backup at what is installed.
    const auto problemOf = [](const QStringList& rec) {
        return interpret({{"Title", "XOB_Skyvane", "0", "0", "XOB_Skyvane"}, rec}).problem;
    };
    EXPECT_FALSE(problemOf({"m", "https://h/m", "XOB_Skyvane", "", ""}).isEmpty());
    EXPECT_FALSE(problemOf({"m", "https://h/m", "new", "manual", "XOB_Skyvane"}).isEmpty());
    EXPECT_FALSE(problemOf({"m", "https://h/m", "new", "XOB_Skyvane", ""}).isEmpty());
    EXPECT_TRUE(problemOf({"m", "https://h/m", "new", "XOB_Skyvane", "XOB_Skyvane.old"}).isEmpty());
    EXPECT_FALSE(interpret({{"Title", "X", "0", "0", "../bin/sh"}}).problem.isEmpty());
}

TEST(UpdateRun, FullUpdateInstallsWithBackupsAndClearsTheMessage)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.handOver(rig.monitorRecord() + rig.record("Manual", rig.url("/manual.txt"), "manual.new", "manual.md", "manual.bak")
                 + rig.record("Updater", rig.url("/XOB_Updater_net"), "XOB_Updater_net", "", ""));
    std::vector<qint64> progress;
    ASSERT_TRUE(rig.go(30000, [&](UpdateRun& r) {
        QObject::connect(&r, &UpdateRun::progress, [&](qint64 got, qint64) { progress.push_back(got); });
    }));
    EXPECT_EQ(rig.lastUpdateMsg(), "");
    EXPECT_EQ(readFile(rig.at("XOB_Skyvane")), rig.newMonitor);
    EXPECT_EQ(readFile(rig.at("XOB_Skyvane.old")), rig.oldMonitor);
    EXPECT_TRUE(QFileInfo(rig.at("XOB_Skyvane")).isExecutable());
    EXPECT_EQ(readFile(rig.at("manual.bak")), "old manual\n");
    EXPECT_EQ(readFile(rig.at("manual.md")), readFile(rig.serverRoot.filePath("manual.txt")));
    // Downloaded, made runnable, left for the monitor to swap in.
    EXPECT_TRUE(QFileInfo(rig.at("XOB_Updater_net")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(rig.at("XOB_Skyvane_new")));
    EXPECT_FALSE(QFileInfo::exists(rig.at(kHandOverFile)));
    EXPECT_EQ(rig.run->programToStart(), rig.at("XOB_Skyvane"));

    const qint64 manualSize = QFileInfo(rig.serverRoot.filePath("manual.txt")).size();
    ASSERT_GT(manualSize, 3 * 16384);
    EXPECT_TRUE(rig.messages.contains("Downloading Manual"));
    EXPECT_TRUE(rig.messages.contains("File size = " + QString::number(manualSize / 1000) + ","
                                      + QString::number(manualSize % 1000).rightJustified(3, '0') + " bytes"))
        << rig.messages.join(" | ").toStdString();
    EXPECT_EQ(rig.messages.count("File saved in local PC"), 3);
    // Chunks of at most 16384 bytes, counted up to the whole file.
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), QFileInfo(rig.serverRoot.filePath("XOB_Updater_net")).size());
    for (std::size_t i = 1; i < progress.size(); ++i) {
        if (progress[i] > progress[i - 1]) EXPECT_LE(progress[i] - progress[i - 1], 16384);
    }
}

TEST(UpdateRun, ServerDownFailsAndKeepsTheOldProgram)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    const QString dead = QStringLiteral("https://127.0.0.1:%1/XOB_Skyvane").arg(UpdateServer::closedPort());
    rig.handOver(rig.record("XOB_Skyvane", dead, "XOB_Skyvane_new", "XOB_Skyvane", "XOB_Skyvane.old"));
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
    EXPECT_TRUE(rig.messages.contains("Communication error with host"));
    rig.expectUntouched();
}

TEST(UpdateRun, StallLongerThanTheTimeoutGivesUp)
{
    for (const char* path : {"/stall/XOB_Skyvane", "/stallhead/XOB_Skyvane"}) {
        SCOPED_TRACE(path);
        Rig rig;
        ASSERT_TRUE(rig.ready());
        rig.handOver(rig.monitorRecord(path));
        ASSERT_TRUE(rig.go(1000));
        EXPECT_EQ(rig.lastUpdateMsg(), timedOutMessage());
        EXPECT_TRUE(rig.messages.contains("Communication Timeout"));
        EXPECT_TRUE(rig.messages.contains("Transfer cancelled"));
        rig.expectUntouched();
    }
}

TEST(UpdateRun, ConnectionCutMidBodyIsNotInstalled)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.handOver(rig.monitorRecord("/cut/XOB_Skyvane"));
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
    EXPECT_FALSE(rig.messages.contains("File saved in local PC"));
    rig.expectUntouched();
}

TEST(UpdateRun, ErrorPageIsNeverInstalled)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.handOver(rig.monitorRecord("/no/such/XOB_Skyvane"));
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
    EXPECT_TRUE(rig.messages.join("\n").contains("404")) << rig.messages.join(" | ").toStdString();
    rig.expectUntouched();
}

TEST(UpdateRun, LengthLargerThanTheBodyIsAFailedDownload)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.handOver(rig.monitorRecord("/lie/XOB_Skyvane"));
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
    rig.expectUntouched();
}

TEST(UpdateRun, NamesOutsideTheProgramFolderAreRefusedBeforeAnyDownload)
{
    QTemporaryDir outside;
    const QString victim = outside.filePath("victim");
    const struct {
        const char* what;
        QString local, target, backup;
    } cases[] = {
        {"dot-dot local", "../XOB_Skyvane_new", "XOB_Skyvane", "XOB_Skyvane.old"},
        {"dot-dot target", "XOB_Skyvane_new", "../../victim", "XOB_Skyvane.old"},
        {"absolute local", victim, "XOB_Skyvane", "XOB_Skyvane.old"},
        {"absolute backup", "XOB_Skyvane_new", "XOB_Skyvane", victim},
        {"drive letter", "C:XOB_Skyvane_new", "XOB_Skyvane", "XOB_Skyvane.old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        ASSERT_TRUE(rig.ready());
        writeFile(victim, "keep");
        rig.handOver(rig.record("XOB_Skyvane", rig.url("/XOB_Skyvane"), c.local, c.target, c.backup));
        ASSERT_TRUE(rig.go());
        EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
        EXPECT_TRUE(rig.messages.join("\n").contains("Refused")) << rig.messages.join(" | ").toStdString();
        EXPECT_FALSE(rig.messages.contains("Downloading XOB_Skyvane"));
        EXPECT_EQ(readFile(victim), "keep");
        rig.expectUntouched();
    }
}

TEST(UpdateRun, PlainHttpToAnotherHostIsRefused)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.handOver(rig.record("XOB_Skyvane", "http://updates.example.org/xob/XOB_Skyvane", "XOB_Skyvane_new", "XOB_Skyvane",
                            "XOB_Skyvane.old"));
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
    EXPECT_TRUE(rig.messages.join("\n").contains("Refused address")) << rig.messages.join(" | ").toStdString();
    rig.expectUntouched();
}

TEST(UpdateRun, UntrustedCertificateFails)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.handOver(rig.monitorRecord());
    ASSERT_TRUE(rig.go(30000, [](UpdateRun& r) { r.setCaFile(QString()); }));
    EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
    rig.expectUntouched();
}

TEST(UpdateRun, ProgramThatDoesNotRunIsNotInstalled)
{
    for (const QByteArray& body : {QByteArray("<html><body>Not the program</body></html>"),
                                   QByteArray("#!/bin/sh\nexit 3\n"), QByteArray("#!/bin/sh\nexit 0\n")}) {
        SCOPED_TRACE(body.toStdString());
        Rig rig;
        ASSERT_TRUE(rig.ready());
        writeFile(rig.serverRoot.filePath("XOB_Skyvane"), body);
        rig.handOver(rig.monitorRecord());
        ASSERT_TRUE(rig.go());
        EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
        EXPECT_TRUE(rig.messages.join("\n").contains("does not run")) << rig.messages.join(" | ").toStdString();
        rig.expectUntouched();
    }
}

TEST(UpdateRun, CancelDuringTheSecondOfThreeFilesInstallsNothing)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.handOver(rig.record("Manual", rig.url("/manual.txt"), "manual.new", "manual.md", "manual.bak")
                 + rig.record("XOB_Skyvane", rig.url("/stall/XOB_Skyvane"), "XOB_Skyvane_new", "XOB_Skyvane", "XOB_Skyvane.old")
                 + rig.record("Updater", rig.url("/XOB_Updater_net"), "XOB_Updater_net", "", ""));
    bool second = false;
    ASSERT_TRUE(rig.go(30000, [&](UpdateRun& r) {
        QObject::connect(&r, &UpdateRun::message, [&](const QString& m) { second = second || m == "Downloading XOB_Skyvane"; });
        // Cancel once bytes of the second file have arrived.
        QObject::connect(&r, &UpdateRun::progress, [&](qint64 got, qint64) {
            if (second && got > 0) r.cancel();
        });
    }));
    EXPECT_EQ(rig.lastUpdateMsg(), cancelledMessage());
    EXPECT_TRUE(rig.messages.contains("Transfer cancelled"));
    EXPECT_FALSE(rig.messages.contains("Downloading Updater"));
    EXPECT_EQ(readFile(rig.at("manual.md")), "old manual\n");
    rig.expectUntouched();
}

TEST(UpdateRun, FailedRenamePutsTheOldFilesBack)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    // The second backup name is taken by a folder: its rename must fail
    // after the monitor was already replaced.
    ASSERT_TRUE(QDir(rig.program.path()).mkpath("manual.bak/inside"));
    rig.handOver(rig.monitorRecord() + rig.record("Manual", rig.url("/manual.txt"), "manual.new", "manual.md", "manual.bak"));
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
    EXPECT_EQ(readFile(rig.at("manual.md")), "old manual\n");
    EXPECT_TRUE(QFileInfo(rig.at("XOB_Skyvane")).isExecutable());
    rig.expectUntouched({"manual.bak"});
}

TEST(UpdateRun, WithoutAHandOverFileNothingHappens)
{
    Rig rig;
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
    EXPECT_EQ(rig.run->programToStart(), QString());
    EXPECT_TRUE(rig.messages.isEmpty());
}

TEST(UpdateRun, PlainHttpFromThisMachineIsAccepted)
{
    // The demo's local server.
    Rig rig;
    UpdateServer plain(rig.serverRoot.path(), false);
    ASSERT_TRUE(plain.isRunning());
    rig.handOver(rig.record("XOB_Skyvane", plain.url("/XOB_Skyvane"), "XOB_Skyvane_new", "XOB_Skyvane", "XOB_Skyvane.old"));
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.lastUpdateMsg(), "");
    EXPECT_EQ(readFile(rig.at("XOB_Skyvane")), rig.newMonitor);
}

TEST(UpdateRun, GarbageHandOverFileDownloadsNothing)
{
    Rig rig;
    QByteArray garbage;
    for (int i = 0; i < 20000; ++i) garbage += char(i * 131 % 256);
    writeFile(rig.at(kHandOverFile), garbage);
    ASSERT_TRUE(rig.go());
    EXPECT_EQ(rig.lastUpdateMsg(), failedMessage());
    EXPECT_FALSE(rig.messages.filter("Downloading").size());
    EXPECT_FALSE(QFileInfo::exists(rig.at(kHandOverFile)));
    EXPECT_EQ(readFile(rig.at("XOB_Skyvane")), rig.oldMonitor);
}

namespace {
// A new monitor that takes `seconds` to say its version.
QByteArray slowMonitor(int seconds)
{
    return "#!/bin/sh\nif [ \"$1\" = --version ]; then sleep " + QByteArray::number(seconds)
           + "; echo \"XOB_Skyvane 5.03.000\"; exit 0; fi\necho 5.03.000 >> \"$(dirname \"$0\")/started.log\"\n";
}
} // namespace

TEST(UpdateRun, CancelWhileTheDownloadedProgramIsCheckedInstallsNothing)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    writeFile(rig.serverRoot.filePath("XOB_Skyvane"), slowMonitor(5));
    rig.handOver(rig.monitorRecord());
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(rig.go(30000, [](UpdateRun& r) {
        QObject::connect(&r, &UpdateRun::message, [&r](const QString& m) {
            if (m == "Checking XOB_Skyvane_new") QTimer::singleShot(300, &r, [&r] { r.cancel(); });
        });
    }));
    EXPECT_LT(took.elapsed(), 4000) << "the check ran to its end despite the Cancel";
    EXPECT_EQ(rig.lastUpdateMsg(), cancelledMessage());
    EXPECT_TRUE(rig.messages.contains("Update cancelled")) << rig.messages.join(" | ").toStdString();
    rig.expectUntouched();
}

TEST(UpdateRun, ProgramThatDoesNotAnswerInTimeIsATimeOut)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    writeFile(rig.serverRoot.filePath("XOB_Skyvane"), slowMonitor(5));
    rig.handOver(rig.monitorRecord());
    ASSERT_TRUE(rig.go(30000, [](UpdateRun& r) { r.setVersionWaitMs(1000); }));
    EXPECT_EQ(rig.lastUpdateMsg(), timedOutMessage());
    EXPECT_TRUE(rig.messages.join("\n").contains("did not say its version within 1 s"))
        << rig.messages.join(" | ").toStdString();
    rig.expectUntouched();
}

TEST(UpdateRun, CancelBetweenTwoFilesIsRecordedAsCancelled)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    rig.handOver(rig.record("Manual", rig.url("/manual.txt"), "manual.new", "manual.md", "manual.bak")
                 + rig.monitorRecord());
    ASSERT_TRUE(rig.go(30000, [](UpdateRun& r) {
        QObject::connect(&r, &UpdateRun::message, [&r](const QString& m) {
            if (m == "File saved in local PC") r.cancel();
        });
    }));
    EXPECT_EQ(rig.lastUpdateMsg(), cancelledMessage());
    EXPECT_FALSE(rig.messages.contains("Downloading XOB_Skyvane"));
    EXPECT_EQ(readFile(rig.at("manual.md")), "old manual\n");
    rig.expectUntouched();
}
