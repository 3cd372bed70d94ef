// XOB_Skyvane_headless: the monitor without a window, as a program of its
// own that links no widget or media library (alarm sounds come from a module
// loaded with the first one). XOB_Skyvane --headless runs this program when
// it is installed beside it, so the service, the package and the docs keep
// that one command.
#include "HeadlessMain.h"
#include "MonitorCore.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs("Usage: XOB_Skyvane_headless [--autostart]\n"
                       "The monitor without a window, as XOB_Skyvane --headless runs it: starts monitoring at\n"
                       "once, logs the status and code lines to standard error, ends on SIGTERM.\n"
                       "Settings: $SKYVANE_SETTINGS_DIR, else the user's configuration folder.\n",
                       stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("XOB_Skyvane_headless %s\n", qPrintable(skyvane::versionDigits()));
            return 0;
        }
    }
    return skyvane::runHeadless(argc, argv);
}
