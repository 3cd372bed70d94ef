// XOB_Skyvane: the sky and weather safety monitor.
#include "Dialogs.h"
#include "FreeImageLibrary.h"
#include "GraphPipeline.h"
#include "MainWindow.h"
#include "MonitorCore.h"
#include "HttpService.h"
#include "NephorServer.h"
#include "ReasonsInterface.h"
#include "QtSoundPlayer.h"
#include "SettingsStore.h"
#include "Startup.h"

#include <QApplication>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <cstdio>

using namespace skyvane;

namespace {
// False on the headless platforms, where nobody could answer a message box.
bool hasVisibleDisplay()
{
    const QString p = QGuiApplication::platformName();
    return p != QLatin1String("offscreen") && p != QLatin1String("minimal");
}
} // namespace

int main(int argc, char** argv)
{
    // Without a display there is nothing to show: say what is needed rather
    // than failing inside the platform plugin.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "XOB_Skyvane needs a graphical display: run it inside a desktop session, or set DISPLAY "
                     "(for example under Xvfb), or QT_QPA_PLATFORM=offscreen for a headless run.\n");
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

    if (!passFirstRun(store)) return 0;

    const QString programDir = QCoreApplication::applicationDirPath();
    completeUpdaterHandOver(programDir);

    SystemClock clock;
    conditions::QtSoundPlayer sound;
    MonitorCore core(clock, store, QDBusConnection::sessionBus(), programDir, &sound);
    MainWindow window(core, &sound);
    // The HTTP server (Alpaca devices, status page): its settings load with
    // the others, it listens once the event loop runs.
    http::attachHttpServer(core);
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

    // The automation class for client programs. It goes before the core.
    nephor::NephorServer automation(core, QDBusConnection::sessionBus());
    nephor::NephorHooks hooks;
    hooks.recordStart = [&](bool append) { core.recordStart(append); };
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
    automation.setHooks(hooks);
    QString automationError;
    if (!automation.publish(&automationError))
        qWarning("XOB_Skyvane: the automation class is not available: %s", qPrintable(automationError));
    else if (!nephor::publishReasons(automation.server(), core, &automationError))
        qWarning("XOB_Skyvane: the reasons object is not available: %s", qPrintable(automationError));

    FreeImageLibrary images;
    if (!images.initialise(programDir)) {
        QMessageBox::warning(&window, title,
                             QStringLiteral("FreeImage.dll file must be present in directory") + QLatin1Char('\n') + programDir);
    }
    // Graph pictures and image files are made on worker threads; without the
    // library the pictures are still drawn and the images report i23 i24.
    auto graphPipeline = std::make_unique<outputs::GraphPipeline>(&images);
    core.graphs().setPipeline(graphPipeline.get());
    // A signal that arrived while the warning waited has unloaded already.
    const int rc = window.unloaded() ? 0 : app.exec();
    // The image being written is finished before the library goes.
    core.graphs().setPipeline(nullptr);
    graphPipeline.reset();
    images.deinitialise();
    return rc;
}
