#pragma once
// Permissions do not bind root, and the suite runs as root in CI: a test of
// an unreadable or read-only file must then run as somebody else, or it
// could never fail there. asUnprivilegedUser() runs a piece of a test in a
// child process that has given up root for the unprivileged user "nobody"
// (65534) and hands back what the piece reports as text; as any other user
// it simply runs the piece in this process. Files the piece works on must be
// reachable by that user: give it a folder of its own with
// handToUnprivilegedUser().

#include <QByteArray>
#include <QFile>
#include <QString>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace skyvane::testing {

inline constexpr uid_t kUnprivilegedId = 65534;

// False for root, whom file permissions do not stop.
inline bool permissionsBindUs() { return ::geteuid() != 0; }

// Makes folder (and nothing below it) the unprivileged user's when this
// process is root, so that the piece can create and change files there.
inline bool handToUnprivilegedUser(const QString& folder)
{
    if (permissionsBindUs()) return true;
    const QByteArray p = QFile::encodeName(folder);
    return ::chown(p.constData(), kUnprivilegedId, kUnprivilegedId) == 0 && ::chmod(p.constData(), 0755) == 0;
}

// The piece's report, or a text beginning with "!" when it could not run.
inline QByteArray asUnprivilegedUser(const std::function<QByteArray()>& piece)
{
    if (permissionsBindUs()) return piece();
    int fds[2];
    if (::pipe(fds) != 0) return "!no pipe";
    const pid_t pid = ::fork();
    if (pid < 0) return "!no fork";
    if (pid == 0) {
        ::close(fds[0]);
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(kUnprivilegedId) == 0 &&
                             ::setuid(kUnprivilegedId) == 0 && permissionsBindUs();
        const QByteArray out = dropped ? piece() : QByteArray("!could not give up root");
        const bool written = ::write(fds[1], out.constData(), size_t(out.size())) == out.size();
        ::_exit(written ? 0 : 1);
    }
    ::close(fds[1]);
    QByteArray out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out.prepend("!child failed: ");
    return out;
}

} // namespace skyvane::testing
