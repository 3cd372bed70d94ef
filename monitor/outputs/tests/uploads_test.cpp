// Uploads from the monitor's side: the list as the window shows it, the
// readiness rules and the hand-over through the uploader's settings area, and
// the real uploader started against a real FTP server, alone and by the
// running monitor.
#include "WaitFor.h"
#include "FtpServer.h"
#include "MonitorRig.h"
#include "SettingsStore.h"
#include "Uploads.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <csignal>

using namespace skyvane;
using namespace skyvane::outputs;
using skyvane::testing::FtpServer;

namespace {

QByteArray pattern(int size, char seed)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) b[i] = char(seed + i * 13 + (i >> 9));
    return b;
}

// Real time, for the uploader process and the server only.
using skyvane::testing::waitFor;

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

// ---- the list ---------------------------------------------------------------

TEST(UploadList, RowsPrefixesAndDisplayOption)
{
    XOBFileList l;
    l.Add("a.png", "/srv/img");
    l.Add("b.htm", "/srv/web/", {}, true);
    EXPECT_EQ(l.rows(), (QStringList{"     /srv/img/a.png", "*** /srv/web/b.htm"}));
    l.setDisplayFullName(false);
    EXPECT_EQ(l.rows(), (QStringList{"     a.png", "*** b.htm"}));
    l.setItemUploadOnce(1, true);
    l.setItemUploadOnce(2, false);
    EXPECT_EQ(l.rows(), (QStringList{"*** a.png", "     b.htm"}));
    // Outside 1..count: empty gets, lets that do nothing.
    EXPECT_EQ(l.ItemName(0), QString());
    EXPECT_EQ(l.ItemPathName(3), QString());
    EXPECT_FALSE(l.ItemUploadOnce(7));
    l.setItemName(3, "x");
    l.Remove(0);
    EXPECT_EQ(l.ListCount(), 2);
    // A let of the full name splits at the last separator.
    l.setItemPathName(1, "/new/place/c.png");
    EXPECT_EQ(l.ItemPath(1), "/new/place");
    EXPECT_EQ(l.ItemName(1), "c.png");
    l.setItemPathName(1, "d.png");
    EXPECT_EQ(l.ItemPathName(1), "/new/place/d.png");
}

TEST(UploadList, AddingTwiceAddsOnceAndRemovingTheLastRowSelectsTheNewLast)
{
    XOBFileList l;
    EXPECT_EQ(l.addFiles({"/a/one.png", "/a/two.png", "/a/one.png"}), 2);
    EXPECT_EQ(l.addFiles({"/a/two.png", "/a/One.png"}), 1) << "the comparison is exact";
    ASSERT_EQ(l.ListCount(), 3);
    l.setListIndex(2);
    l.Remove(l.ListIndex() + 1);
    EXPECT_EQ(l.ListIndex(), 1);
    l.setListIndex(0);
    l.Remove(1);
    EXPECT_EQ(l.ListIndex(), 0) << "same row number while it exists";
    l.Remove(1);
    EXPECT_EQ(l.ListIndex(), -1);
}

TEST(UploadList, ServerFieldChecks)
{
    EXPECT_EQ(checkedServerAddress("ftp://example.net"), "ftp://example.net/");
    EXPECT_EQ(checkedServerAddress("ftp://example.net/"), "ftp://example.net/");
    EXPECT_EQ(checkedServerAddress(""), "");
    EXPECT_EQ(checkedServerPath("/night"), "night/");
    EXPECT_EQ(checkedServerPath("night/"), "night/");
    EXPECT_EQ(checkedServerPath("/"), "");
    EXPECT_EQ(checkedServerPath(""), "");
}

// ---- readiness, hand-over and the uploader process ---------------------------

namespace {

class UploadsTest : public ::testing::Test {
protected:
    QTemporaryDir settingsDir;
    QTemporaryDir localDir;
    SettingsStore store{settingsDir.path()};
    FakeClock clock;
    Uploads uploads{clock, store};
    FtpServer server;

    void SetUp() override { qputenv("QT_QPA_PLATFORM", "offscreen"); }

    void useServer(int timeout = 20)
    {
        UploadConfig& c = uploads.config();
        c.server = server.url();
        c.serverPath = "";
        c.username = FtpServer::user();
        c.password = FtpServer::password();
        c.timeoutUpload = timeout;
        c.tls = UploadTls::None;
    }
    QString localFile(const QString& name, const QByteArray& data)
    {
        const QString p = localDir.filePath(name);
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return p;
    }
    // Moves a file's modification time on, as a later write would.
    void touch(const QString& path, int seconds = 10)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(QFileInfo(path).lastModified().addSecs(seconds), QFileDevice::FileModificationTime));
    }
    QString handedOver(const QString& key)
    {
        SettingsStore disk(settingsDir.path());
        return disk.get(kUploaderApplication, "Setup", key);
    }
    QString running()
    {
        SettingsStore disk(settingsDir.path());
        return disk.get(kUploaderApplication, "Window", "Running", "<none>");
    }
    bool waitUploaderEnd(int ms = 30000) { return waitFor([&] { return !uploads.uploaderRunning(); }, ms); }
};

} // namespace

TEST_F(UploadsTest, UploadOnceUnchangedOrdinaryChangedHandsOverOneFile)
{
    ASSERT_TRUE(server.start());
    useServer();
    const QByteArray once = pattern(5000, 1), plain = pattern(70000, 2);
    const QString oncePath = localFile("once.htm", once);
    const QString plainPath = localFile("graph.png", plain);
    uploads.list().addFiles({oncePath, plainPath});
    uploads.list().setItemUploadOnce(1, true);
    EXPECT_FALSE(uploads.locked());

    // The start launches at once: after a program start every upload-once
    // file goes once (its time stamp starts at "never").
    uploads.start();
    EXPECT_TRUE(uploads.locked());
    EXPECT_EQ(uploads.launches(), 1);
    EXPECT_EQ(handedOver("NoFiles"), "2");
    EXPECT_EQ(handedOver("File1"), oncePath);
    EXPECT_EQ(handedOver("Password"), FtpServer::password());
    EXPECT_EQ(handedOver("TimeoutUPLOAD"), "20");
    EXPECT_EQ(handedOver("TLS"), "none");
    EXPECT_EQ(uploads.timerInterval(), 60000);
    ASSERT_TRUE(waitUploaderEnd());
    EXPECT_EQ(contents(server.root() + "/once.htm"), once);
    EXPECT_EQ(contents(server.root() + "/graph.png"), plain);
    EXPECT_EQ(running(), "0");

    // Nothing changed: the ordinary file keeps the list from being ready.
    clock.advance(60000);
    EXPECT_FALSE(uploads.ready());
    EXPECT_EQ(uploads.launches(), 1);
    EXPECT_TRUE(uploads.locked()) << "locked from the first launch until monitoring stops";

    // The ordinary file changes: only it is sent.
    const QByteArray plain2 = pattern(80000, 3);
    localFile("graph.png", plain2);
    touch(plainPath);
    clock.advance(60000);
    EXPECT_EQ(uploads.launches(), 2);
    EXPECT_EQ(handedOver("NoFiles"), "1");
    EXPECT_EQ(handedOver("File1"), plainPath);
    ASSERT_TRUE(waitUploaderEnd());
    EXPECT_EQ(contents(server.root() + "/graph.png"), plain2);

    uploads.stop();
    EXPECT_FALSE(uploads.locked());
    EXPECT_FALSE(uploads.timerActive());
}

TEST_F(UploadsTest, MissingFileKeepsTheListFromBeingReadyAndTheLampBlinks)
{
    ASSERT_TRUE(server.start());
    useServer();
    const QString a = localFile("a.png", "a");
    uploads.list().addFiles({a, localDir.filePath("not-there.png")});
    uploads.config().refreshUpload = 0;
    uploads.start();
    ASSERT_TRUE(waitUploaderEnd());
    touch(a);
    const int lamp = uploads.lamp();
    clock.advance(5000);
    EXPECT_NE(uploads.lamp(), lamp);
    EXPECT_FALSE(uploads.ready());
    EXPECT_EQ(uploads.launches(), 1);
    localFile("not-there.png", "now here");
    clock.advance(5000);
    EXPECT_EQ(uploads.lamp(), lamp);
    EXPECT_EQ(uploads.launches(), 2);
    ASSERT_TRUE(waitUploaderEnd());
    EXPECT_EQ(contents(server.root() + "/not-there.png"), "now here");
    uploads.stop();
}

TEST_F(UploadsTest, CrashedUploaderLeavingRunningDoesNotBlockTheNextLaunch)
{
    // The server stops taking data: the uploader sits in its first file
    // until it is killed, which leaves "Running" at "1" as a crash does.
    ASSERT_TRUE(server.start(false, {"--stall-after", "100000"}));
    useServer(60);
    const QString big = localFile("big.png", pattern(4 * 1024 * 1024, 5));
    uploads.list().addFiles({big});
    uploads.config().refreshUpload = 0;
    uploads.start();
    ASSERT_TRUE(waitFor([&] { return running() == "1"; }));
    // Still running: a tick only finds it running.
    touch(big);
    clock.advance(5000);
    EXPECT_EQ(uploads.launches(), 1);
    ::kill(pid_t(uploads.uploaderPid()), SIGKILL);
    ASSERT_TRUE(waitUploaderEnd());
    EXPECT_EQ(running(), "1");
    touch(big, 20);
    clock.advance(5000);
    EXPECT_EQ(uploads.launches(), 2) << "the stale value held the upload back";
    ASSERT_TRUE(uploads.uploaderRunning());
    uploads.stop();
    ASSERT_TRUE(waitUploaderEnd(90000));
}

TEST_F(UploadsTest, StopTellsTheUploaderToStopAfterTheFileInHand)
{
    ASSERT_TRUE(server.start(false, {"--slow"}));
    useServer();
    QStringList files;
    for (int i = 1; i <= 5; ++i) files << localFile(QStringLiteral("f%1.png").arg(i), pattern(300000, char(i)));
    uploads.list().addFiles(files);
    uploads.start();
    ASSERT_TRUE(waitFor([&] { return QFile::exists(server.root() + "/f1.png.part"); }));
    uploads.stop();
    ASSERT_TRUE(waitUploaderEnd());
    EXPECT_EQ(running(), "0");
    // The file in hand arrives whole; nothing after it is sent.
    EXPECT_EQ(contents(server.root() + "/f1.png"), pattern(300000, 1));
    EXPECT_EQ(QDir(server.root()).entryList(QDir::Files), QStringList{"f1.png"});
}

// ---- in the running monitor ------------------------------------------------------

TEST(UploadsInMonitor, StartLaunchesTheUploaderAndTheReadCycleKeepsItsPeriod)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    skyvane::testing::MonitorRig rig;
    ASSERT_TRUE(rig.ready());
    FtpServer server;
    ASSERT_TRUE(server.start(false, {"--slow"}));
    QTemporaryDir local;
    QStringList files;
    QList<QByteArray> data;
    for (int i = 0; i < 3; ++i) {
        files << local.filePath(QStringLiteral("image%1.png").arg(i));
        data << pattern(150000 + i * 1000, char(i + 7));
        QFile f(files.last());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data.last());
    }
    Uploads& up = rig.core->uploads();
    up.config().server = server.url();
    up.config().serverPath = "";
    up.config().username = FtpServer::user();
    up.config().password = FtpServer::password();
    up.config().tls = UploadTls::None;
    up.list().addFiles(files);
    rig.core->config().upload = true;
    rig.start();
    ASSERT_TRUE(rig.core->isRunning());
    EXPECT_EQ(up.launches(), 1);
    EXPECT_TRUE(up.locked());
    // Read cycles go on while the uploader works.
    const int cycles = rig.core->cycleCount();
    const qint64 period = rig.core->readTimerInterval();
    int during = 0;
    while (up.uploaderRunning() && during < 200) {
        rig.clock.advance(period);
        ++during;
        QThread::msleep(20);
    }
    ASSERT_FALSE(up.uploaderRunning());
    EXPECT_GE(rig.core->cycleCount() - cycles, during);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(contents(server.root() + QStringLiteral("/image%1.png").arg(i)), data[i]);
    // The upload lamp is lit and the settings stay locked until Stop.
    rig.clock.advance(60000);
    EXPECT_TRUE(up.locked());
    rig.core->stopProcedure();
    EXPECT_FALSE(up.locked());
    EXPECT_FALSE(up.timerActive());
    EXPECT_EQ(rig.core->state().ledUpload.c0, colour::Grey);
    // The list and the TLS choice are kept with the program's settings.
    up.config().tls = UploadTls::Required;
    rig.core->save();
    SettingsStore disk(rig.dir.path());
    EXPECT_EQ(disk.get("XOB_Skyvane", "Setup", "NoFiles"), "3");
    EXPECT_EQ(disk.get("XOB_Skyvane", "Setup", "FileName2"), "image1.png");
    EXPECT_EQ(disk.get("XOB_Skyvane", "Setup", "UploadTLS"), "0");
}
