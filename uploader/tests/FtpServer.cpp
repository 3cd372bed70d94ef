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

bool FtpServer::start(bool tls, const QStringList& faults)
{
    QStringList extra = faults;
    if (tls) {
        const QString key = work_.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.setStandardOutputFile(QProcess::nullDevice());
        openssl.setStandardErrorFile(QProcess::nullDevice());
        openssl.start(QStringLiteral("openssl"),
            {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
             QStringLiteral("-nodes"), QStringLiteral("-keyout"), key, QStringLiteral("-out"), caFile(),
             QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
             QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) return false;
        extra << QStringLiteral("--tls-cert") << caFile() << QStringLiteral("--tls-key") << key;
    }
    // The password goes to the server in a private file, not on its command line.
    const QString pwFile = work_.filePath(QStringLiteral("pw"));
    QFile f(pwFile);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(password().toUtf8());
    f.close();
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{QStringLiteral(SKYVANE_FTP_SERVER_SCRIPT), QStringLiteral("--dir"), root_.path(),
                     QStringLiteral("--user"), user(), QStringLiteral("--password-file"), pwFile};
    proc_.start(QStringLiteral("/usr/bin/python3"), args + extra);
    if (!proc_.waitForStarted(10000)) return false;
    QDeadlineTimer deadline(20000);
    while (!proc_.canReadLine() && !deadline.hasExpired())
        proc_.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    bool ok = false;
    port_ = QString::fromLatin1(proc_.readLine()).trimmed().toInt(&ok);
    return ok && port_ > 0;
}

} // namespace skyvane::testing
