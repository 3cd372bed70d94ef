// XOB_Skyvane: the sky and weather safety monitor.
#include "Dialogs.h"
#include "FreeImageLibrary.h"
#include "MainWindow.h"
#include "MonitorCore.h"
#include "NephorServer.h"
#include "QtSoundPlayer.h"
#include "SettingsStore.h"
#include "Startup.h"

#include <QApplication>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

using namespace skyvane;

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
    if (!instance.acquired()) return 0; // another monitor runs for this user

    if (isFirstRun(store)) {
        SetupDialog setup(store);
        setup.exec();
        if (setup.firstRunFlag() == 0) return 0;
    }

    const QString programDir = QCoreApplication::applicationDirPath();
    completeUpdaterHandOver(programDir);

    SystemClock clock;
    conditions::QtSoundPlayer sound;
    MonitorCore core(clock, store, QDBusConnection::sessionBus(), programDir, &sound);
    MainWindow window(core, &sound);
    core.load();
    window.restorePosition();
    window.render();
    window.show();
    window.registerTrayIcon();

    // The automation class for client programs. It goes before the core.
    nephor::NephorServer automation(core, QDBusConnection::sessionBus());
    nephor::NephorHooks hooks;
    hooks.windowNormal = [&] { window.restoreFromTray(); };
    hooks.windowMinimize = [&] { window.minimizeToTray(); };
    hooks.windowPosition = [&] { return window.positionTwips(); };
    hooks.moveWindow = [&](const QPoint& p) { window.moveToTwips(p); };
    automation.setHooks(hooks);
    QString automationError;
    if (!automation.publish(&automationError))
        qWarning("XOB_Skyvane: the automation class is not available: %s", qPrintable(automationError));

    FreeImageLibrary images;
    if (!images.initialise(programDir)) {
        QMessageBox::warning(&window, title,
                             QStringLiteral("FreeImage.dll file must be present in directory") + QLatin1Char('\n') + programDir);
    }
    const int rc = app.exec();
    images.deinitialise();
    return rc;
}
