// XOB_Skyvane: the sky and weather safety monitor.
#include "Dialogs.h"
#include "HeadlessMain.h"
#include "MainWindow.h"
#include "MonitorCore.h"
#include "MonitorServices.h"
#include "QtSoundPlayer.h"
#include "SettingsStore.h"
#include "Startup.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

using namespace skyvane;

namespace {
// False on the headless platforms, where nobody could answer a message box.
bool hasVisibleDisplay()
{
    const QString p = QGuiApplication::platformName();
    return p != QLatin1String("offscreen") && p != QLatin1String("minimal");
}

const char* const kUsage =
    "Usage: XOB_Skyvane [--headless] [--autostart]\n"
    "The sky and weather safety monitor of the observatory.\n"
    "\n"
    "  --headless   run without a window (a service under systemd, a machine with\n"
    "               no display): start monitoring at once, log the status and code\n"
    "               lines to standard error, end on SIGTERM\n"
    "  --autostart  started by the session, not by a person: never wait for an\n"
    "               answer at start (no first-run questions)\n"
    "  -h, --help   show this text and end\n"
    "  --version    show the version and end\n"
    "\n"
    "Settings: $SKYVANE_SETTINGS_DIR, else the user's configuration folder.\n";
} // namespace

int main(int argc, char** argv)
{
    // --version is also how the updater tries a downloaded monitor before it
    // installs it.
    bool headless = false;
    bool autostart = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("XOB_Skyvane %s\n", qPrintable(versionDigits()));
            return 0;
        }
        if (!std::strcmp(argv[i], "--headless")) headless = true;
        if (!std::strcmp(argv[i], "--autostart")) autostart = true;
    }
    if (headless) {
        // The program of its own is much smaller in memory than this one with
        // its widget and media libraries; it takes over this process (same
        // process id, for the service manager). Without it, run here.
        // (No application object yet: the folder comes from the process.)
        const QString dir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).path();
        const QByteArray small = QFile::encodeName(QDir(dir).filePath(QStringLiteral("XOB_Skyvane_headless")));
        if (!dir.isEmpty() && ::access(small.constData(), X_OK) == 0) {
            ::execv(small.constData(), argv);
            std::fprintf(stderr, "XOB_Skyvane: could not run %s (%s); running headless here\n", small.constData(),
                         std::strerror(errno));
        }
        return runHeadless(argc, argv);
    }

    // Without a display there is nothing to show: say what is needed rather
    // than failing inside the platform plugin.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "XOB_Skyvane needs a graphical display: run it inside a desktop session, or set DISPLAY "
                     "(for example under Xvfb), or run XOB_Skyvane --headless for a monitor without a window.\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("XOB_Skyvane"));
    QApplication::setQuitOnLastWindowClosed(false);
    const QString title = titleText();

    SettingsStore store;
    SingleInstance instance(store.root());
    if (instance.outcome() == SingleInstance::Outcome::AlreadyRunning) return 0; // another monitor runs for this user
    if (instance.outcome() == SingleInstance::Outcome::Failed) {
        // The settings could be neither kept nor saved: say so, and do not
        // pretend to be a second instance.
        const QString text = QStringLiteral("XOB_Skyvane can not start: %1.\nCheck the permissions of the folder, or set "
                                            "SKYVANE_SETTINGS_DIR to a folder you can write.")
                                 .arg(instance.error());
        std::fprintf(stderr, "%s\n", qPrintable(text));
        if (hasVisibleDisplay()) QMessageBox::critical(nullptr, title, text);
        return 3;
    }

    // The first-run questions only for a person at the screen: a monitor
    // started unattended runs on the defaults and publishes its class.
    if (personToAsk(hasVisibleDisplay(), autostart)) {
        if (!passFirstRun(store)) return 0;
    } else {
        noteFirstRunWithoutQuestions(store);
    }

    const QString programDir = QCoreApplication::applicationDirPath();
    completeUpdaterHandOver(programDir);

    SystemClock clock;
    conditions::QtSoundPlayer sound;
    MonitorCore core(clock, store, QDBusConnection::sessionBus(), programDir, &sound);
    MonitorServices services(core); // its settings load with the core's
    MainWindow window(core, &sound);
    core.load();
    window.restorePosition();
    window.render();
    window.show();
    window.registerTrayIcon();

    // kill, Ctrl+C, a closed terminal and the end of the session close the
    // monitor as Exit does: settings saved, the sensor server given its local
    // control back. A close that can not be refused: attached clients or not.
    TerminationSignals terminations([&](int) { window.unloadNow(); });
    if (!terminations.installed()) qWarning("XOB_Skyvane: termination signals are not handled");
#ifndef QT_NO_SESSIONMANAGER
    // The session may still be cancelled here: keep running, but lose nothing.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&](QSessionManager&) { window.saveSettings(); });
#endif
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&] { window.unloadNow(); });

    // The automation class, the image library and the feeds: the same
    // services as the headless program, with the window's hooks.
    nephor::NephorHooks hooks;
    hooks.recordStart = [&](bool append) { return core.recordStart(append); };
    hooks.recordStop = [&] { core.recordStop(); };
    hooks.windowNormal = [&] { window.restoreFromTray(); };
    hooks.windowMinimize = [&] { window.minimizeToTray(); };
    hooks.windowPosition = [&] { return window.positionTwips(); };
    hooks.moveWindow = [&](const QPoint& p) { window.moveToTwips(p); };
    hooks.history = [&] {
        const outputs::GraphHistory& h = core.graphs().history();
        return nephor::HistoryView{h.first(), h.last(), h.table()};
    };
    hooks.graphFreq = [&] { return double(core.graphs().settings().freq); };
    services.attach(QDBusConnection::sessionBus(), hooks,
                    [&](const QString& text) { QMessageBox::warning(&window, title, text); });
    // A signal that arrived while the warning waited has unloaded already.
    const int rc = window.unloaded() ? 0 : app.exec();
    // The image being written is finished before the library goes.
    services.detach();
    return rc;
}
