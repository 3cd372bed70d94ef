#include "HeadlessMain.h"

#include "HeadlessRunner.h"
#include "MonitorConfig.h"
#include "MonitorCore.h"
#include "MonitorServices.h"
#include "LoadedSoundPlayer.h"
#include "SettingsStore.h"
#include "Startup.h"
#include "SystemdNotifier.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <cstdio>
#include <memory>
#include <vector>

namespace skyvane {

int runHeadless(int argc, char** argv)
{
    // The graph images need fonts and a paint engine, which come with a
    // QGuiApplication; the offscreen platform gives them without any
    // display, whatever DISPLAY and QT_QPA_PLATFORM say. No widget is made.
    std::vector<char*> args(argv, argv + argc);
    char platformFlag[] = "-platform";
    char platformName[] = "offscreen";
    args.insert(args.begin() + 1, {platformFlag, platformName});
    int n = int(args.size());
    args.push_back(nullptr);
    QGuiApplication app(n, args.data());
    QCoreApplication::setApplicationName(QStringLiteral("XOB_Skyvane"));
    QGuiApplication::setQuitOnLastWindowClosed(false);

    SettingsStore store;
    // One monitor per user, whichever mode started first.
    SingleInstance instance(store.root());
    if (instance.outcome() == SingleInstance::Outcome::AlreadyRunning) {
        std::fprintf(stderr, "XOB_Skyvane: another monitor runs for this user; this one ends.\n");
        return 0;
    }
    if (instance.outcome() == SingleInstance::Outcome::Failed) {
        std::fprintf(stderr,
                     "XOB_Skyvane can not start: %s.\nCheck the permissions of the folder, or set SKYVANE_SETTINGS_DIR "
                     "to a folder you can write.\n",
                     qPrintable(instance.error()));
        return 3;
    }
    noteFirstRunWithoutQuestions(store);

    const QString programDir = QCoreApplication::applicationDirPath();
    completeUpdaterHandOver(programDir);

    // Test hook: a shorter read interval, so that a test sees cycles
    // without waiting through the real 5 s ones.
    bool ok = false;
    const qint64 testInterval = qEnvironmentVariableIntValue("SKYVANE_TEST_READ_INTERVAL_MS", &ok);
    if (ok && testInterval > 0) setReadIntervalOverride(testInterval);

    SystemClock clock;
    // The media backend costs a service some megabytes from the moment it
    // loads, and most nights no alarm sounds: it loads with the first one,
    // from a module, so this program links no media library at all.
    conditions::LoadedSoundPlayer sound(conditions::LoadedSoundPlayer::defaultModuleDirs());
    MonitorCore core(clock, store, QDBusConnection::sessionBus(), programDir, &sound);
    MonitorServices services(core);
    core.load();

    SystemdNotifier notifier;
    HeadlessRunner runner(core, services, notifier);
    const int blockAfter = qEnvironmentVariableIntValue("SKYVANE_TEST_BLOCK_AFTER_CYCLES", &ok);
    if (ok) runner.setBlockAfterCycles(blockAfter);

    // The class answers clients as on the desktop; the window members keep
    // their state in the core (there is no window to move).
    nephor::NephorHooks hooks;
    hooks.recordStart = [&](bool append) { return core.recordStart(append); };
    hooks.recordStop = [&] { core.recordStop(); };
    hooks.history = [&] {
        const outputs::GraphHistory& h = core.graphs().history();
        return nephor::HistoryView{h.first(), h.last(), h.table()};
    };
    hooks.graphFreq = [&] { return double(core.graphs().settings().freq); };
    services.attach(QDBusConnection::sessionBus(), hooks, [&](const QString& text) {
        QString t = text;
        t.replace(QLatin1Char('\n'), QLatin1Char(' '));
        runner.log(QStringLiteral("warning: ") + t);
    });

    // systemctl stop (SIGTERM), Ctrl+C, a closed terminal: the unload
    // sequence, then exit code 0. A signal is not refused, clients or not.
    TerminationSignals terminations([&](int) { runner.shutdown(0); });
    if (!terminations.installed()) runner.log(QStringLiteral("warning: termination signals are not handled"));
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &runner, [&] { runner.shutdown(0); });

    runner.start();
    const int rc = runner.finished() ? runner.exitCode() : app.exec();
    services.detach();
    return rc;
}

} // namespace skyvane
