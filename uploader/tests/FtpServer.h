#pragma once
// A real FTP server for the tests, run as a child process on 127.0.0.1.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace skyvane::testing {

class FtpServer {
public:
    FtpServer();
    ~FtpServer();
    // With tls, the server offers explicit TLS with a certificate for
    // 127.0.0.1 made here; caFile() is that certificate.
    bool start(bool tls = false, const QStringList& faults = {});
    QString caFile() const { return work_.filePath(QStringLiteral("cert.pem")); }
    int port() const { return port_; }
    QString root() const { return root_.path(); }
    QString url() const { return QStringLiteral("ftp://127.0.0.1:%1/").arg(port_); }
    static QString user() { return QStringLiteral("skyvane"); }
    static QString password() { return QStringLiteral("s3cret-pw"); }

private:
    QTemporaryDir root_;
    QTemporaryDir work_;
    QProcess proc_;
    int port_ = 0;
};

} // namespace skyvane::testing
