// The upload run against a real FTP server started by the test: files sent,
// the log as the user reads it, the "Running" value the monitor watches, and
// the ways a server can fail us.
#include "Clock.h"
#include "CurlTransfer.h"
#include "FtpServer.h"
#include "SettingsStore.h"
#include "UploadRun.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace skyvane;
using skyvane::testing::FtpServer;

namespace {

QByteArray pattern(int size, char seed)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) b[i] = char(seed + i * 7 + (i >> 8));
    return b;
}

class UploadRunTest : public ::testing::Test {
protected:
    QTemporaryDir settingsDir;
    QTemporaryDir localDir;
    SettingsStore store{settingsDir.path()};
    FakeClock clock;
    CurlTransfer transfer;
    UploadRun run{store, clock, transfer};
    QStringList log;          // every line ever shown, clears included as "<clear>"
    QStringList runningSeen;  // "Running" as read after each step

    void SetUp() override
    {
        run.onLog = [this](const QString& l) { log << l; };
        run.onClearLog = [this] { log << QStringLiteral("<clear>"); };
    }

    void set(const QString& key, const QString& value) { store.save(kUploaderApp, "Setup", key, value); }
    QString running() { return store.get(kUploaderApp, "Window", "Running"); }
    // The run's outcome as the monitor reads it back.
    void expectOutcome(bool ok, int sent, int files, const QString& message)
    {
        SettingsStore disk(settingsDir.path());
        EXPECT_EQ(disk.get(kUploaderApp, "LastRun", "Ok"), ok ? "1" : "0");
        EXPECT_EQ(disk.get(kUploaderApp, "LastRun", "Sent"), QString::number(sent));
        EXPECT_EQ(disk.get(kUploaderApp, "LastRun", "Files"), QString::number(files));
        EXPECT_EQ(disk.get(kUploaderApp, "LastRun", "Message").toStdString(), message.toStdString());
        EXPECT_TRUE(QDateTime::fromString(disk.get(kUploaderApp, "LastRun", "Time"), Qt::ISODate).isValid());
        EXPECT_EQ(run.exitStatus(), ok ? 0 : 1);
    }

    QString localFile(const QString& name, const QByteArray& data)
    {
        const QString p = localDir.filePath(name);
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return p;
    }

    void setup(const QString& url, const QStringList& files, const QString& serverPath = "night/",
               const QString& password = FtpServer::password(), int timeout = 20)
    {
        set("Server", url);
        set("ServerPath", serverPath);
        set("Username", FtpServer::user());
        set("Password", password);
        set("TimeoutUPLOAD", QString::number(timeout));
        set("NoFiles", QString::number(files.size()));
        for (int i = 0; i < files.size(); ++i) set(QStringLiteral("File%1").arg(i + 1), files[i]);
    }

    // Runs the program to its end: real waits only for the server, the
    // program's own one-second pauses on the fake clock. Calls atPut once
    // whenever the number of PUT commands changes.
    void runToEnd(std::function<void(int)> atPut = {}, int realLimitMs = 60000)
    {
        QElapsedTimer real;
        real.start();
        int puts = run.putCount();
        while (!run.closed() && real.elapsed() < realLimitMs) {
            QCoreApplication::processEvents();
            if (run.putCount() != puts) {
                puts = run.putCount();
                if (atPut) atPut(puts);
            }
            if (transfer.stillExecuting()) {
                QThread::msleep(2);
                continue;
            }
            QCoreApplication::processEvents();
            if (!transfer.stillExecuting() && !run.closed()) {
                clock.advance(100);
                runningSeen << running();
            }
        }
        ASSERT_TRUE(run.closed()) << log.join('\n').toStdString();
    }

    int indexOf(const QString& prefix, int from = 0) const
    {
        for (int i = from; i < log.size(); ++i)
            if (log[i].startsWith(prefix)) return i;
        return -1;
    }
    int count(const QString& prefix) const
    {
        int n = 0;
        for (const QString& l : log) n += l.startsWith(prefix);
        return n;
    }
    // Runs to the end; the real time it took, in ms.
    qint64 runTimed()
    {
        QElapsedTimer real;
        real.start();
        run.start();
        runToEnd();
        return real.elapsed();
    }
    // A failed file leaves nothing under any name on the server.
    static void expectNothingOnServer(const FtpServer& server)
    {
        EXPECT_TRUE(QDir(server.root()).entryList(QDir::Files).isEmpty())
            << QDir(server.root()).entryList(QDir::Files).join(' ').toStdString();
    }
    void expectEndedWithClose()
    {
        if (qEnvironmentVariableIsSet("UPLOADER_TEST_SHOW_LOG")) printf("%s\n", qPrintable(log.join('\n')));
        EXPECT_GE(indexOf("Ending connection - CLOSE"), 0) << log.join('\n').toStdString();
        EXPECT_EQ(running(), "0");
        for (const QString& l : log) EXPECT_FALSE(l.contains(FtpServer::password())) << l.toStdString();
    }
};

QByteArray readRemote(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

TEST(UploadSetup, FileTableCutsTrimsAndNamesRemoteFiles)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    const QString longPath = "/data/" + QString(260, 'x');
    store.save(kUploaderApp, "Setup", "ServerPath", "www/sky/");
    store.save(kUploaderApp, "Setup", "NoFiles", "3");
    store.save(kUploaderApp, "Setup", "File1", "  /home/obs/graphs/cloud.png  ");
    store.save(kUploaderApp, "Setup", "File2", "C:\\Obs\\Graphs\\Wind.PNG");
    store.save(kUploaderApp, "Setup", "File3", longPath);
    store.save(kUploaderApp, "Setup", "TimeoutUPLOAD", "0");
    const UploadSetup s = readUploadSetup(store);
    ASSERT_EQ(s.files.size(), 3);
    EXPECT_EQ(s.files[0].localPath, "/home/obs/graphs/cloud.png");
    EXPECT_EQ(s.files[0].remoteName, "www/sky/cloud.png");
    EXPECT_EQ(s.files[1].remoteName, "www/sky/Wind.PNG");
    EXPECT_EQ(s.files[2].localPath, longPath.left(255));
    EXPECT_EQ(s.files[2].remoteName, "www/sky/" + QString(249, 'x'));
    EXPECT_EQ(s.timeoutSeconds, 60);
}

TEST(UploadSetup, LocalFileNameMatchesWithoutLetterCase)
{
    QTemporaryDir dir;
    QFile f(dir.filePath("Cloud.PNG"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QString actual;
    EXPECT_TRUE(findLocalFile(dir.filePath("cloud.png"), &actual));
    EXPECT_EQ(actual, dir.filePath("Cloud.PNG"));
    EXPECT_FALSE(findLocalFile(dir.filePath("rain.png")));
    EXPECT_FALSE(findLocalFile(dir.path()));
}

TEST_F(UploadRunTest, NoFilesClosesAtOnceWithRunningZero)
{
    set("NoFiles", "0");
    store.save(kUploaderApp, "Window", "Running", "1");
    bool closed = false;
    run.onClosed = [&] { closed = true; };
    run.start();
    EXPECT_TRUE(closed);
    EXPECT_EQ(running(), "0");
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(UploadRunTest, SendsExistingFilesByteIdenticalAndSkipsMissingOne)
{
    FtpServer server;
    ASSERT_TRUE(server.start());
    const QByteArray a = pattern(100 * 1024, 1), c = pattern(1024 * 1024 + 17, 5);
    const QString fa = localFile("cloud.png", a), fc = localFile("wind.png", c);
    setup(server.url(), {fa, localDir.filePath("missing.png"), fc});
    run.start();
    runToEnd();

    EXPECT_EQ(run.putCount(), 2);
    QFile ra(server.root() + "/night/cloud.png"), rc(server.root() + "/night/wind.png");
    ASSERT_TRUE(ra.open(QIODevice::ReadOnly));
    ASSERT_TRUE(rc.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ra.readAll() == a);
    EXPECT_TRUE(rc.readAll() == c);
    EXPECT_EQ(QDir(server.root() + "/night").entryList(QDir::Files).size(), 2);
    EXPECT_TRUE(runningSeen.contains("1"));
    expectEndedWithClose();
    expectOutcome(false, 2, 3, "2 of 3 files sent: not found on this computer: " + localDir.filePath("missing.png"));

    // The first file's log as the user reads it.
    const int up = indexOf("Upload file: " + fa);
    ASSERT_GE(up, 1);
    EXPECT_EQ(log[up - 1], "<clear>");
    EXPECT_EQ(log.mid(up + 1, 4), QStringList({"Looking for IP address", "IP address found",
                                               "Establishing connection", "Successfully Connected"}));
    EXPECT_TRUE(log[up + 5].startsWith("Successful response - 1 220 ")) << log[up + 5].toStdString();
    const int done = indexOf("Command complete - ", up);
    ASSERT_GT(done, up);
    EXPECT_TRUE(log[done].endsWith("250 Renaming ok.")) << log[done].toStdString();
    // The second file goes over the same connection.
    const int up2 = indexOf("Upload file: " + fc);
    ASSERT_GT(up2, up);
    EXPECT_EQ(indexOf("Looking for IP address", up2), -1);
    const int close = indexOf("Ending connection - CLOSE");
    EXPECT_EQ(log[close - 1], "");
    EXPECT_TRUE(log[close + 1].contains(clock.now().toString("dd.MM.yyyy")));
    EXPECT_GT(indexOf("Disconnecting - ", close), close);
    EXPECT_GT(indexOf("Successfully Disconnected - ", close), close);
}

TEST_F(UploadRunTest, StopKeyDuringSecondOfFiveFinishesItAndCloses)
{
    FtpServer server;
    ASSERT_TRUE(server.start());
    QStringList files;
    for (int i = 1; i <= 5; ++i) files << localFile(QStringLiteral("f%1.dat").arg(i), pattern(50000, char(i)));
    setup(server.url(), files, "");
    run.start();
    runToEnd([&](int puts) {
        if (puts == 2) run.stopKey();
    });
    EXPECT_EQ(run.putCount(), 2);
    EXPECT_EQ(QDir(server.root()).entryList(QDir::Files), QStringList({"f1.dat", "f2.dat"}));
    EXPECT_EQ(count("Command complete - "), 2);
    expectEndedWithClose();
    expectOutcome(false, 2, 5, "2 of 5 files sent: stopped before the end");
}

TEST_F(UploadRunTest, WrongPasswordEndsRunWithErrorLine)
{
    FtpServer server;
    ASSERT_TRUE(server.start());
    setup(server.url(), {localFile("a.png", "abc"), localFile("b.png", "def")}, "", "wrong");
    run.start();
    runToEnd();
    const int err = indexOf("IC error-");
    ASSERT_GE(err, 0) << log.join('\n').toStdString();
    EXPECT_TRUE(log[err].contains("530")) << log[err].toStdString();
    EXPECT_EQ(run.putCount(), 1);
    expectNothingOnServer(server);
    expectEndedWithClose();
    EXPECT_FALSE(log.join('\n').contains("wrong"));
    expectOutcome(false, 0, 2, "nothing sent: login refused");
}

TEST_F(UploadRunTest, RefusedConnectionEndsRunWithErrorLine)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const int port = probe.serverPort();
    probe.close();
    setup(QStringLiteral("ftp://127.0.0.1:%1/").arg(port), {localFile("a.png", "abc")});
    run.start();
    runToEnd();
    const int err = indexOf("IC error-7-");
    EXPECT_GE(err, 0) << log.join('\n').toStdString();
    expectEndedWithClose();
    expectOutcome(false, 0, 1, "nothing sent: connection refused");
}

TEST_F(UploadRunTest, SilentServerIsGivenUpAfterTheTimeout)
{
    // Accepts connections (the kernel does) and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    setup(QStringLiteral("ftp://127.0.0.1:%1/").arg(silent.serverPort()), {localFile("a.png", "abc")}, "",
          FtpServer::password(), 2);
    const qint64 took = runTimed();
    EXPECT_LT(took, 2000 + 5000);
    EXPECT_GE(indexOf("IC error-"), 0) << log.join('\n').toStdString();
    expectEndedWithClose();
    expectOutcome(false, 0, 1, "nothing sent: time-out");
}

TEST_F(UploadRunTest, ServerAnsweringGarbageEndsRunWithErrorLine)
{
    // Something that is not an FTP server listens on the port.
    QTcpServer garbage;
    ASSERT_TRUE(garbage.listen(QHostAddress::LocalHost));
    QObject::connect(&garbage, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = garbage.nextPendingConnection()) s->write("HTTP/1.1 400 Bad Request\r\n\r\n<html>");
    });
    setup(QStringLiteral("ftp://127.0.0.1:%1/").arg(garbage.serverPort()), {localFile("a.png", "abc")}, "",
          FtpServer::password(), 2);
    const qint64 took = runTimed();
    EXPECT_LT(took, 2000 + 5000);
    EXPECT_GE(indexOf("IC error-"), 0) << log.join('\n').toStdString();
    expectEndedWithClose();
}

TEST_F(UploadRunTest, CloseIsPutOffWhileACommandRuns)
{
    FtpServer server;
    ASSERT_TRUE(server.start());
    setup(server.url(), {localFile("big.dat", pattern(4 * 1024 * 1024, 3))}, "");
    run.start();
    clock.advance(100);
    ASSERT_TRUE(transfer.stillExecuting());
    EXPECT_FALSE(run.requestClose());
    EXPECT_EQ(running(), "1");
    runToEnd();
    EXPECT_EQ(running(), "0");
}

TEST_F(UploadRunTest, ExplicitTlsCarriesTheLoginAndTheFilesWithATrustedCertificate)
{
    FtpServer server;
    ASSERT_TRUE(server.start(true));
    const QByteArray small = pattern(2000, 9), big = pattern(3 * 1024 * 1024 + 17, 10);
    setup(server.url(), {localFile("cloud.png", small), localFile("sky.jpg", big)}, "night/");
    transfer.setTlsMode(TlsMode::Required);
    transfer.setCaFile(server.caFile());
    run.start();
    runToEnd();
    // The password travels only after AUTH TLS has been accepted.
    const int auth = indexOf("Successful response - 2 234 ");
    const int login = indexOf("Successful response - 4 230 ");
    EXPECT_GE(auth, 0) << log.join('\n').toStdString();
    EXPECT_GT(login, auth);
    EXPECT_EQ(indexOf("IC error-"), -1) << log.join('\n').toStdString();
    EXPECT_EQ(readRemote(server.root() + "/night/cloud.png"), small);
    EXPECT_EQ(readRemote(server.root() + "/night/sky.jpg"), big);
    EXPECT_EQ(QDir(server.root() + "/night").entryList(QDir::Files), QStringList({"cloud.png", "sky.jpg"}));
    expectEndedWithClose();
}

TEST_F(UploadRunTest, TlsIfOfferedIsUsedWhenOfferedAndPlainLoginOtherwise)
{
    FtpServer tlsServer;
    ASSERT_TRUE(tlsServer.start(true));
    setup(tlsServer.url(), {localFile("a.png", "abc")}, "");
    transfer.setTlsMode(TlsMode::IfOffered);
    transfer.setCaFile(tlsServer.caFile());
    run.start();
    runToEnd();
    EXPECT_GE(indexOf("Successful response - 2 234 "), 0) << log.join('\n').toStdString();
    EXPECT_EQ(readRemote(tlsServer.root() + "/a.png"), "abc");
    expectEndedWithClose();
}

TEST_F(UploadRunTest, UntrustedCertificateSendsNothing)
{
    FtpServer server;
    ASSERT_TRUE(server.start(true));
    setup(server.url(), {localFile("cloud.png", "abc")}, "");
    transfer.setTlsMode(TlsMode::Required);
    run.start();
    runToEnd();
    EXPECT_GE(indexOf("IC error-60-"), 0) << log.join('\n').toStdString();
    expectNothingOnServer(server);
    expectEndedWithClose();
    expectOutcome(false, 0, 1, "nothing sent: certificate not trusted");
}

TEST_F(UploadRunTest, UntrustedCertificateWithTlsIfOfferedIsAFailureThatIsRecorded)
{
    // The default choice: the server offers TLS, so it is used, and its
    // certificate cannot be verified. Nothing goes, and the run says so.
    FtpServer server;
    ASSERT_TRUE(server.start(true));
    setup(server.url(), {localFile("cloud.png", "abc"), localFile("sky.jpg", "def")}, "");
    transfer.setTlsMode(TlsMode::IfOffered);
    run.start();
    runToEnd();
    expectNothingOnServer(server);
    expectEndedWithClose();
    expectOutcome(false, 0, 2, "nothing sent: certificate not trusted");
}

TEST_F(UploadRunTest, DroppedConnectionMidFileLeavesNoFileBehind)
{
    FtpServer server;
    ASSERT_TRUE(server.start(false, {"--drop-after", "100000"}));
    setup(server.url(), {localFile("big.png", pattern(3 * 1024 * 1024, 2)), localFile("small.png", "x")}, "",
          FtpServer::password(), 5);
    const qint64 took = runTimed();
    EXPECT_LT(took, 5000 + 5000);
    EXPECT_GE(indexOf("IC error-"), 0) << log.join('\n').toStdString();
    EXPECT_EQ(run.putCount(), 1);
    expectNothingOnServer(server);
    expectEndedWithClose();
}

TEST_F(UploadRunTest, RefusedPassiveModeEndsRunWithErrorLine)
{
    FtpServer server;
    ASSERT_TRUE(server.start(false, {"--no-passive"}));
    setup(server.url(), {localFile("a.png", "abc")}, "", FtpServer::password(), 5);
    run.start();
    runToEnd();
    const int err = indexOf("IC error-");
    ASSERT_GE(err, 0) << log.join('\n').toStdString();
    EXPECT_GE(indexOf("Successful response - ", 0), 0);
    expectNothingOnServer(server);
    expectEndedWithClose();
}

TEST_F(UploadRunTest, FileCutWhileBeingSentFailsThatFileOnly)
{
    FtpServer server;
    ASSERT_TRUE(server.start(false, {"--slow"}));
    const QString big = localFile("big.png", pattern(32 * 1024 * 1024, 4));
    const QByteArray small = pattern(1000, 6);
    setup(server.url(), {big, localFile("small.png", small)}, "");
    run.start();
    runToEnd([&](int puts) {
        if (puts == 1) {
            // Cut it once its data has begun to arrive.
            QElapsedTimer wait;
            wait.start();
            const QString part = server.root() + "/big.png.part";
            while (QFileInfo(part).size() == 0 && wait.elapsed() < 10000) QThread::msleep(5);
            ASSERT_GT(QFileInfo(part).size(), 0);
            QFile f(big);
            ASSERT_TRUE(f.resize(1000));
        }
    });
    EXPECT_GE(indexOf("File not sent: " + big), 0) << log.join('\n').toStdString();
    EXPECT_EQ(run.putCount(), 2);
    EXPECT_EQ(QDir(server.root()).entryList(QDir::Files), QStringList({"small.png"}));
    expectEndedWithClose();
}

TEST_F(UploadRunTest, FullDiskOnTheServerFailsTheFileAndLeavesNothingBehind)
{
    FtpServer server;
    ASSERT_TRUE(server.start(false, {"--disk-full-after", "150000"}));
    setup(server.url(), {localFile("big.png", pattern(2 * 1024 * 1024, 11))}, "", FtpServer::password(), 5);
    const qint64 took = runTimed();
    EXPECT_LT(took, 5000 + 5000);
    EXPECT_GE(indexOf("IC error-"), 0) << log.join('\n').toStdString();
    expectNothingOnServer(server);
    expectEndedWithClose();
    // This server gives up the data connection, as a full disk may make it:
    // a reset or a 426 answer, whichever the client meets first.
    expectOutcome(false, 0, 1, "nothing sent: connection lost");
}

TEST_F(UploadRunTest, ServerThatStopsTakingDataIsGivenUpAfterTheTimeout)
{
    FtpServer server;
    ASSERT_TRUE(server.start(false, {"--stall-after", "200000"}));
    setup(server.url(), {localFile("big.png", pattern(32 * 1024 * 1024, 8)), localFile("b.png", "b")}, "",
          FtpServer::password(), 2);
    const qint64 took = runTimed();
    // The time-out counts from the last byte the server took; tidying up
    // after it gets a few seconds more, not another time-out.
    EXPECT_LT(took, 2000 + 5000);
    EXPECT_GE(indexOf("IC error-"), 0) << log.join('\n').toStdString();
    EXPECT_EQ(run.putCount(), 1);
    expectNothingOnServer(server);
    expectEndedWithClose();
}

// Servers and accounts that do not let a file be renamed onto an old one:
// each upload of the same names must still arrive, and the log says how.
// (Two runs: the second finds the files of the first on the server.)
TEST_F(UploadRunTest, RenameRefusedFallsBackToDeleteThenRenameOrToTheFinalName)
{
    struct Case {
        QStringList faults;
        QString way; // the note on each "Command complete" line of the second run
    };
    // One whole run of its own; its log.
    const auto runOnce = [&](SettingsStore& st, const QString& url, const QStringList& files) {
        CurlTransfer t;
        UploadRun r(st, clock, t);
        QStringList lines;
        r.onLog = [&](const QString& l) { lines << l; };
        for (const auto& [k, v] : {std::pair<QString, QString>{"Server", url}, {"ServerPath", ""},
                                   {"Username", FtpServer::user()}, {"Password", FtpServer::password()},
                                   {"TimeoutUPLOAD", "10"}, {"NoFiles", QString::number(files.size())}})
            st.save(kUploaderApp, "Setup", k, v);
        for (int i = 0; i < files.size(); ++i) st.save(kUploaderApp, "Setup", QStringLiteral("File%1").arg(i + 1), files[i]);
        r.start();
        QElapsedTimer real;
        real.start();
        while (!r.closed() && real.elapsed() < 60000) {
            QCoreApplication::processEvents();
            if (!t.stillExecuting()) clock.advance(100);
            else QThread::msleep(2);
        }
        EXPECT_TRUE(r.closed());
        return std::pair{lines, r.outcome()};
    };
    for (const Case& c : {Case{{"--refuse-rename-over"}, "rename refused: old file deleted, then renamed"},
                          Case{{"--no-rename"}, "rename refused: sent under the final name"},
                          Case{{"--refuse-rename-over", "--no-delete"}, "rename refused: sent under the final name"}}) {
        SCOPED_TRACE(c.faults.join(' ').toStdString());
        FtpServer server;
        ASSERT_TRUE(server.start(false, c.faults));
        QTemporaryDir settings;
        SettingsStore st(settings.path());
        const QStringList files{localFile("cloud.png", pattern(20000, 1)), localFile("sky.jpg", pattern(30000, 2)),
                                localFile("index.htm", "<html>one</html>")};
        // The first run: nothing in the way, except without rename rights.
        ASSERT_EQ(runOnce(st, server.url(), files).second.sent, 3);
        // Changed files, same names.
        const QByteArray cloud2 = pattern(25000, 9), sky2 = pattern(1000, 4);
        localFile("cloud.png", cloud2);
        localFile("sky.jpg", sky2);
        localFile("index.htm", "<html>two</html>");
        const auto [lines, outcome] = runOnce(st, server.url(), files);
        EXPECT_EQ(readRemote(server.root() + "/cloud.png"), cloud2);
        EXPECT_EQ(readRemote(server.root() + "/sky.jpg"), sky2);
        EXPECT_EQ(readRemote(server.root() + "/index.htm"), "<html>two</html>");
        EXPECT_EQ(lines.filter(QRegularExpression("^Command complete - ")).size(), 3) << lines.join('\n').toStdString();
        for (const QString& l : lines)
            if (l.startsWith("Command complete - ")) EXPECT_TRUE(l.endsWith(c.way)) << l.toStdString();
        EXPECT_EQ(outcome.message(), "3 of 3 files sent");
        EXPECT_EQ(st.get(kUploaderApp, "LastRun", "Ok"), "1");
        // Where the server let us, no temporary file is left behind.
        if (!c.faults.contains("--no-delete"))
            EXPECT_EQ(QDir(server.root()).entryList(QDir::Files), QStringList({"cloud.png", "index.htm", "sky.jpg"}));
    }
}

TEST_F(UploadRunTest, ServerOutOfSpaceIsSaidSo)
{
    // A server that refuses the file for want of space (a quota, a full
    // disk checked before the data) answers 452.
    FtpServer server;
    ASSERT_TRUE(server.start(false, {"--full-at-stor"}));
    setup(server.url(), {localFile("a.png", "abc"), localFile("b.png", "def")}, "", FtpServer::password(), 5);
    run.start();
    runToEnd();
    expectNothingOnServer(server);
    expectEndedWithClose();
    expectOutcome(false, 0, 2, "nothing sent: disk full on the server");
}
