// XOB_Updater: downloads the files the monitor's update check found, installs
// them and starts the monitor again.
//
// Whatever ends it (the run, Cancel, the window's close button, SIGTERM,
// SIGINT, SIGHUP, an exception), the updater leaves the old program or the new
// one in place and starts it: an observatory must never be left without its
// safety monitor because an update went wrong. Only a start without a
// hand-over file starts nothing.
#include "Clock.h"
#include "SettingsStore.h"
#include "TerminationSignals.h"
#include "UpdateRun.h"
#include "UpdaterWindow.h"

#include <QApplication>
#include <QProcess>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

using namespace skyvane;
using namespace skyvane::updater;

namespace {

UpdateRun* gRun = nullptr;
std::atomic<bool> gStarted{false};

// Starts the monitor once, however many ways the end comes.
void startMonitor(const QString& program)
{
    if (program.isEmpty() || gStarted.exchange(true)) return;
    if (!QProcess::startDetached(program, {}, QCoreApplication::applicationDirPath()))
        std::fprintf(stderr, "XOB_Updater: could not start %s\n", qPrintable(program));
}

// The last resort: put the old files back and start the monitor.
void rescueAndStart()
{
    if (gRun) startMonitor(gRun->rescue());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("XOB_Updater %s\n", qPrintable(versionText().mid(1)));
        return 0;
    }
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs("Usage: XOB_Updater [--help] [--version]\n"
                   "Downloads and installs the files that XOB_Skyvane's update check found. The monitor\n"
                   "starts it with the hand-over file XOB_Updater.txt in the program folder; started by\n"
                   "hand without that file it has nothing to do.\n",
                   stdout);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("XOB_Updater"));
    // The run decides when the program ends, not the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    SettingsStore store;
    SystemClock clock;
    UpdateRun run(store, clock, QCoreApplication::applicationDirPath());
    run.readSettings();
    run.load();
    gRun = &run;
    std::set_terminate([] {
        rescueAndStart();
        std::abort();
    });
    UpdaterWindow window(run);
    QObject::connect(&window, &UpdaterWindow::done, &app, [&] {
        startMonitor(run.programToStart());
        QCoreApplication::quit();
    });
    // The first signal is a Cancel; a second one does not wait for the run.
    int signalCount = 0;
    TerminationSignals terminations([&](int signo) {
        std::fprintf(stderr, "XOB_Updater: signal %d, cancelling the update\n", signo);
        if (++signalCount == 1 && !run.isFinished()) {
            window.requestCancel();
            return;
        }
        rescueAndStart();
        QCoreApplication::exit(1);
    });
    window.begin();
    window.show();
    int rc = 1;
    try {
        rc = app.exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "XOB_Updater: %s\n", e.what());
        rescueAndStart();
    }
    gRun = nullptr;
    return rc;
}
