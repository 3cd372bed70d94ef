// XOB_ResetParameters: returns the monitor's settings, wholly or by group, to
// their defaults. With no arguments it shows its window; with switches it
// does the same deletions on a machine without a display.
#include "ResetForm.h"
#include "ResetParameters.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <cstdio>
#include <cstring>

using namespace skyvane;
using namespace skyvane::reset;

namespace {

void printUsage(FILE* to)
{
    std::fprintf(to, "Usage: XOB_ResetParameters [--all] [--alarms] [--colours] [--limits] [--unsafe] [--graphs] [--help]\n"
                     "Without a switch the reset window opens. Each switch deletes its group of XOB_Skyvane settings:\n");
    for (const GroupInfo& g : groups())
        std::fprintf(to, "  --%-9s %s\n", qPrintable(g.option), qPrintable(g.label));
    std::fprintf(to, "  --help     this text\n"
                     "  --version  the version of this program\n"
                     "The monitor writes the defaults back at its next start; reset while it is not running.\n");
}

// The switches as groups in the order given; false on anything unknown.
bool parse(int argc, char** argv, std::vector<Group>& out, bool& help, bool& version)
{
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            help = true;
            continue;
        }
        if (a == QLatin1String("--version")) {
            version = true;
            continue;
        }
        bool known = false;
        for (const GroupInfo& g : groups())
            if (a == QLatin1String("--") + g.option) {
                out.push_back(g.group);
                known = true;
            }
        if (!known) {
            std::fprintf(stderr, "XOB_ResetParameters: unknown option %s\n", argv[i]);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        std::vector<Group> todo;
        bool help = false;
        bool version = false;
        if (!parse(argc, argv, todo, help, version)) {
            printUsage(stderr);
            return 2;
        }
        if (help) {
            printUsage(stdout);
            return 0;
        }
        if (version) {
            std::printf("XOB_ResetParameters %d.%02d.%03d\n", SKYVANE_VERSION_MAJOR, SKYVANE_VERSION_MINOR,
                        SKYVANE_VERSION_REVISION);
            return 0;
        }
        SettingsStore store;
        for (Group g : todo) std::printf("%s\n", qPrintable(resetGroup(store, g)));
        return store.sync() ? 0 : 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("XOB_ResetParameters"));
    SettingsStore store;
    // One window per user: a second start ends at once, showing nothing.
    QDir().mkpath(store.root());
    QLockFile lock(store.root() + QStringLiteral("/XOB_ResetParameters.lock"));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) return 0;

    ResetForm form(store);
    form.centre();
    form.show();
    return app.exec();
}
