#include "FtpServer.h"

#include <QDeadlineTimer>
#include <QFile>

namespace skyvane::testing {

FtpServer::FtpServer() = default;

FtpServer::~FtpServer()
{
    if (proc_.state() != QProcess::NotRunning) {
        proc_.kill();
        proc_.waitForFinished(5000);
    }
}

bool FtpServer::start()
{
    // The password goes to the server in a private file, not on its command line.
    const QString pwFile = work_.filePath(QStringLiteral("pw"));
    QFile f(pwFile);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(password().toUtf8());
    f.close();
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(SKYVANE_FTP_SERVER_SCRIPT), QStringLiteral("--dir"), root_.path(),
                 QStringLiteral("--user"), user(), QStringLiteral("--password-file"), pwFile});
    if (!proc_.waitForStarted(10000)) return false;
    QDeadlineTimer deadline(20000);
    while (!proc_.canReadLine() && !deadline.hasExpired())
        proc_.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    bool ok = false;
    port_ = QString::fromLatin1(proc_.readLine()).trimmed().toInt(&ok);
    return ok && port_ > 0;
}

} // namespace skyvane::testing
