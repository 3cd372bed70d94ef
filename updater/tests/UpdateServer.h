#pragma once
// Starts tests/update_server.py on 127.0.0.1 over a folder of the test, with
// a certificate for 127.0.0.1 made on the spot by openssl.

#include <QDir>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace skyvane::testing {

class UpdateServer {
public:
    explicit UpdateServer(const QString& root, bool tls = true)
    {
        QStringList args{QStringLiteral(SKYVANE_UPDATE_SERVER_SCRIPT), QStringLiteral("--root"), root};
        if (tls) {
            if (!makeCertificate()) return;
            args << QStringLiteral("--cert") << cert() << QStringLiteral("--key") << certDir_.filePath(QStringLiteral("key.pem"));
        }
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start(QStringLiteral("python3"), args);
        if (!proc_.waitForStarted(10000)) return;
        while (proc_.waitForReadyRead(20000)) {
            const QByteArray line = proc_.readLine().trimmed();
            if (line.startsWith("PORT ")) {
                port_ = line.mid(5).toInt();
                break;
            }
            if (proc_.canReadLine()) continue;
        }
        scheme_ = tls ? QStringLiteral("https") : QStringLiteral("http");
    }
    ~UpdateServer()
    {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.kill();
            proc_.waitForFinished(5000);
        }
    }
    bool isRunning() const { return port_ > 0 && proc_.state() == QProcess::Running; }
    int port() const { return port_; }
    QString url(const QString& path) const { return QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme_).arg(port_).arg(path); }
    // The certificate, to be trusted as the extra CA file.
    QString cert() const { return certDir_.filePath(QStringLiteral("cert.pem")); }

    // A port on which nothing listens.
    static int closedPort()
    {
        QProcess p;
        p.start(QStringLiteral("python3"), {QStringLiteral("-c"),
                                            QStringLiteral("import socket;s=socket.socket();s.bind(('127.0.0.1',0));"
                                                           "print(s.getsockname()[1]);s.close()")});
        p.waitForFinished(10000);
        return p.readAllStandardOutput().trimmed().toInt();
    }

private:
    bool makeCertificate()
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("openssl"),
                {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                 certDir_.filePath("key.pem"), "-out", cert(), "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                 "subjectAltName=IP:127.0.0.1"});
        return p.waitForFinished(30000) && p.exitCode() == 0;
    }
    QTemporaryDir certDir_;
    QProcess proc_;
    int port_ = 0;
    QString scheme_;
};

} // namespace skyvane::testing
