// main() for every GoogleTest program: a Qt application object around the
// tests, so that event loops, D-Bus and timers work. The GUI variant builds a
// QApplication (CTest runs it on the offscreen platform).
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <gtest/gtest.h>

#ifdef SKYVANE_TEST_GUI
#include <QApplication>
using App = QApplication;
#else
#include <QCoreApplication>
using App = QCoreApplication;
#endif

int main(int argc, char** argv)
{
    // Never touch the real user's files: CTest gives every test its own HOME;
    // make sure the folders exist and the runtime folder is private.
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
        const QByteArray v = qgetenv(var);
        if (!v.isEmpty()) QDir().mkpath(QString::fromLocal8Bit(v));
    }
    const QByteArray rt = qgetenv("XDG_RUNTIME_DIR");
    if (!rt.isEmpty()) QFile::setPermissions(QString::fromLocal8Bit(rt), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QStandardPaths::setTestModeEnabled(true);
    App app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
