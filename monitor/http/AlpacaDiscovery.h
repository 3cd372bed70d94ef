#pragma once
// Alpaca discovery: a datagram "alpacadiscovery1" on UDP port 32227 (IPv4
// broadcast, or the IPv6 multicast group ff12::a1:9aca) is answered with
// {"AlpacaPort": n}. Started only while the HTTP server listens beyond the
// loopback interface: a server only this computer can reach has nothing to
// announce.

#include <QHostAddress>
#include <QObject>
#include <memory>

class QUdpSocket;

namespace skyvane::http {

class AlpacaDiscovery : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kDefaultPort = 32227;
    explicit AlpacaDiscovery(QObject* parent = nullptr);
    ~AlpacaDiscovery() override;

    // Answers with httpPort; false when neither family could be bound.
    // Tests bind the loopback addresses instead of the any-addresses.
    bool start(quint16 httpPort, quint16 discoveryPort = kDefaultPort,
               const QHostAddress& v4 = QHostAddress(QHostAddress::AnyIPv4),
               const QHostAddress& v6 = QHostAddress(QHostAddress::AnyIPv6));
    void stop();
    bool active() const { return v4_ || v6_; }
    int answered() const { return answered_; }

private:
    void serve(QUdpSocket* s);

    std::unique_ptr<QUdpSocket> v4_;
    std::unique_ptr<QUdpSocket> v6_;
    quint16 httpPort_ = 0;
    int answered_ = 0;
};

} // namespace skyvane::http
