#include "TerminationSignals.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace skyvane {

namespace {
// The write end is used from the signal handler: only write() happens there.
int gSignalPipe[2] = {-1, -1};
constexpr int kHandledSignals[] = {SIGTERM, SIGINT, SIGHUP};
struct sigaction gPrevious[3];

extern "C" void forwardSignal(int signo)
{
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &b, 1);
    errno = saved;
}
} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal))
{
    if (gSignalPipe[0] >= 0) return; // one per process
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gSignalPipe) != 0) {
        gSignalPipe[0] = gSignalPipe[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { drain(); });
    struct sigaction sa {};
    sa.sa_handler = forwardSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) ::sigaction(kHandledSignals[i], &sa, &gPrevious[i]);
    installed_ = true;
}

TerminationSignals::~TerminationSignals()
{
    if (!installed_) return;
    for (int i = 0; i < 3; ++i) ::sigaction(kHandledSignals[i], &gPrevious[i], nullptr);
    notifier_.reset();
    ::close(gSignalPipe[0]);
    ::close(gSignalPipe[1]);
    gSignalPipe[0] = gSignalPipe[1] = -1;
}

void TerminationSignals::drain()
{
    unsigned char b = 0;
    while (::read(gSignalPipe[0], &b, 1) == 1)
        if (onSignal_) onSignal_(int(b));
}

} // namespace skyvane
