// XOB_Updater: downloads the files the monitor's update check found, installs
// them and starts the monitor again.
#include "Clock.h"
#include "SettingsStore.h"
#include "UpdateRun.h"
#include "UpdaterWindow.h"

#include <QApplication>
#include <QProcess>
#include <cstdio>
#include <cstring>

using namespace skyvane;
using namespace skyvane::updater;

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
    SettingsStore store;
    SystemClock clock;
    UpdateRun run(store, clock, QCoreApplication::applicationDirPath());
    run.readSettings();
    run.load();
    UpdaterWindow window(run);
    QObject::connect(&window, &UpdaterWindow::done, &app, [&] {
        const QString program = run.programToStart();
        if (!program.isEmpty() && !QProcess::startDetached(program, {}, QCoreApplication::applicationDirPath()))
            std::fprintf(stderr, "XOB_Updater: could not start %s\n", qPrintable(program));
        QCoreApplication::quit();
    });
    window.begin();
    window.show();
    return app.exec();
}
