// The XOB_Uploader program as the monitor starts it: settings written
// beforehand, "Running" watched, SIGUSR1 as the stop key.
#include "FtpServer.h"
#include "SettingsStore.h"
#include "UploadRun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace skyvane;
using skyvane::testing::FtpServer;

namespace {
class UploaderProgram : public ::testing::Test {
protected:
    QTemporaryDir settingsDir;
    QTemporaryDir localDir;
    SettingsStore store{settingsDir.path()};
    QProcess proc;

    void TearDown() override
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }

    void setup(const QString& url, int files)
    {
        auto set = [&](const QString& k, const QString& v) { store.save(kUploaderApp, "Setup", k, v); };
        set("Server", url);
        set("ServerPath", "");
        set("Username", FtpServer::user());
        set("Password", FtpServer::password());
        set("TimeoutUPLOAD", "10");
        set("NoFiles", QString::number(files));
        for (int i = 1; i <= files; ++i) {
            const QString p = localDir.filePath(QStringLiteral("img%1.png").arg(i));
            QFile f(p);
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray(30000, char('a' + i)));
            set(QStringLiteral("File%1").arg(i), p);
        }
        store.save(kUploaderApp, "Window", "Running", "0");
        store.sync();
    }

    void launch()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("SKYVANE_SETTINGS_DIR", settingsDir.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        proc.setProcessEnvironment(env);
        proc.setProcessChannelMode(QProcess::ForwardedChannels);
        proc.start(qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Uploader", QStringList());
        ASSERT_TRUE(proc.waitForStarted(10000));
    }

    QString running()
    {
        store.reload(kUploaderApp);
        return store.get(kUploaderApp, "Window", "Running");
    }
};
} // namespace

TEST_F(UploaderProgram, NoFilesEndsAtOnceWithRunningZero)
{
    setup("ftp://127.0.0.1:1/", 0);
    store.save(kUploaderApp, "Window", "Running", "1");
    store.sync();
    launch();
    ASSERT_TRUE(proc.waitForFinished(20000));
    EXPECT_EQ(proc.exitCode(), 0);
    EXPECT_EQ(running(), "0");
}

TEST_F(UploaderProgram, SendsEveryFileAndEnds)
{
    FtpServer server;
    ASSERT_TRUE(server.start());
    setup(server.url(), 2);
    launch();
    ASSERT_TRUE(proc.waitForFinished(30000));
    EXPECT_EQ(proc.exitCode(), 0);
    EXPECT_EQ(running(), "0");
    EXPECT_EQ(QDir(server.root()).entryList(QDir::Files), QStringList({"img1.png", "img2.png"}));
}

TEST_F(UploaderProgram, StopSignalEndsTheRunLikeF6)
{
    FtpServer server;
    ASSERT_TRUE(server.start());
    setup(server.url(), 5);
    launch();
    QDeadlineTimer deadline(20000);
    while (running() != "1" && !deadline.hasExpired()) QThread::msleep(20);
    ASSERT_EQ(running(), "1");
    ::kill(pid_t(proc.processId()), SIGUSR1);
    ASSERT_TRUE(proc.waitForFinished(30000));
    EXPECT_EQ(proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(running(), "0");
    // The file under way when the signal came is finished; no more follow.
    EXPECT_LE(QDir(server.root()).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(QDir(server.root()).entryList({"*.part"}, QDir::Files).isEmpty());
}

TEST_F(UploaderProgram, UntrustedCertificateEndsWithAFailureStatusAndItsReason)
{
    // The default "TLS if offered" with a certificate nobody vouches for.
    FtpServer server;
    ASSERT_TRUE(server.start(true));
    setup(server.url(), 2);
    launch();
    ASSERT_TRUE(proc.waitForFinished(30000));
    EXPECT_EQ(proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(proc.exitCode(), 1);
    EXPECT_EQ(running(), "0");
    EXPECT_EQ(store.get(kUploaderApp, "LastRun", "Ok"), "0");
    EXPECT_EQ(store.get(kUploaderApp, "LastRun", "Message"), "nothing sent: certificate not trusted");
    EXPECT_TRUE(QDir(server.root()).entryList(QDir::Files).isEmpty());
}
