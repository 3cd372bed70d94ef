// XOB_Uploader: sends the files the monitor listed in the uploader's settings
// area to the FTP server, shows the log, and exits.
//
// SIGUSR1 is the stop key from outside: the monitor cannot type F6 into our
// window, so it sends the signal and we do exactly what F6 does.

#include "CurlTransfer.h"
#include "UploadRun.h"
#include "UploaderWindow.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace skyvane;

namespace {
int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(stopPipe[1], &c, 1);
}

TlsMode tlsModeOf(const QString& text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("required")) return TlsMode::Required;
    if (t == QLatin1String("none")) return TlsMode::None;
    return TlsMode::IfOffered;
}
} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--help" || a == "-h") {
            std::printf("Usage: XOB_Uploader\n"
                        "Sends the files that XOB_Skyvane listed in the uploader's settings to the FTP server,\n"
                        "shows the log and ends. SIGUSR1 stops the run as the F6 key does.\n"
                        "  -h, --help   show this text and end\n"
                        "  --version    show the version and end\n");
            return 0;
        }
        if (a == "--version") {
            std::printf("XOB_Uploader %d.%02d.%03d\n", SKYVANE_VERSION_MAJOR, SKYVANE_VERSION_MINOR, SKYVANE_VERSION_REVISION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(kUploaderApp);
    QApplication::setQuitOnLastWindowClosed(false);

    SettingsStore store;
    SystemClock clock;
    CurlTransfer transfer;
    transfer.setTlsMode(tlsModeOf(store.get(kUploaderApp, QStringLiteral("Setup"), QStringLiteral("TLS"))));
    transfer.setCaFile(store.get(kUploaderApp, QStringLiteral("Setup"), QStringLiteral("CAFile")));
    UploadRun run(store, clock, transfer);
    UploaderWindow window(store, run);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, stopPipe) == 0) {
        auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&run] {
            char buf[16];
            [[maybe_unused]] ssize_t n = ::read(stopPipe[0], buf, sizeof buf);
            run.stopKey();
        });
        struct sigaction sa = {};
        sa.sa_handler = onStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGUSR1, &sa, nullptr);
    }

    run.onClosed = [&app] { QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection); };
    window.restoreAndShow();
    run.start();
    if (run.closed()) return run.exitStatus();
    const int rc = app.exec();
    // Non-zero when anything was not sent, for scripts and the service
    // manager; the monitor reads the details from "LastRun".
    return rc != 0 ? rc : run.exitStatus();
}
