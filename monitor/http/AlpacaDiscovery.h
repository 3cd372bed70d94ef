#pragma once
// Alpaca discovery: a datagram "alpacadiscovery1" on UDP port 32227 (IPv4
// broadcast, or the IPv6 multicast group ff12::a1:9aca) is answered with
// {"AlpacaPort": n}. By default started only while the HTTP server listens
// beyond the loopback interface; the setting "DiscoveryAddress" binds it to
// the loopback addresses (a single-machine observatory) or to one address of
// this computer (see HttpService).

#include <QHostAddress>
#include <QObject>
#include <memory>

class QNetworkDatagram;
class QUdpSocket;

namespace skyvane::http {

class AlpacaDiscovery : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kDefaultPort = 32227;
    explicit AlpacaDiscovery(QObject* parent = nullptr);
    ~AlpacaDiscovery() override;

    // Answers with httpPort; false when neither family could be bound. A
    // null address leaves its family out. With `only` set, a probe is
    // answered only when it was sent to that address, or broadcast or
    // multicast on the interface that holds it: discovery bound to one
    // address still hears the broadcasts clients send, and nothing else.
    bool start(quint16 httpPort, quint16 discoveryPort = kDefaultPort,
               const QHostAddress& v4 = QHostAddress(QHostAddress::AnyIPv4),
               const QHostAddress& v6 = QHostAddress(QHostAddress::AnyIPv6), const QHostAddress& only = {});
    void stop();
    bool active() const { return v4_ || v6_; }
    int answered() const { return answered_; }
    // The interface that holds `address` (0: none of this computer's).
    static int interfaceOf(const QHostAddress& address);

private:
    void serve(QUdpSocket* s);

    std::unique_ptr<QUdpSocket> v4_;
    std::unique_ptr<QUdpSocket> v6_;
    bool wanted(const QNetworkDatagram& d) const;

    quint16 httpPort_ = 0;
    QHostAddress only_;
    int onlyInterface_ = 0;
    int answered_ = 0;
};

} // namespace skyvane::http
