#include "AlpacaDiscovery.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>

namespace skyvane::http {

AlpacaDiscovery::AlpacaDiscovery(QObject* parent) : QObject(parent) {}
AlpacaDiscovery::~AlpacaDiscovery() = default;

int AlpacaDiscovery::interfaceOf(const QHostAddress& address)
{
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry& e : i.addressEntries())
            if (e.ip().isEqual(address, QHostAddress::TolerantConversion)) return i.index();
    return 0;
}

bool AlpacaDiscovery::start(quint16 httpPort, quint16 discoveryPort, const QHostAddress& v4addr,
                            const QHostAddress& v6addr, const QHostAddress& only)
{
    stop();
    httpPort_ = httpPort;
    only_ = only;
    onlyInterface_ = only.isNull() ? 0 : interfaceOf(only);
    const auto mode = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    auto v4 = std::make_unique<QUdpSocket>();
    if (!v4addr.isNull() && v4->bind(v4addr, discoveryPort, mode)) {
        connect(v4.get(), &QUdpSocket::readyRead, this, [this, s = v4.get()] { serve(s); });
        v4_ = std::move(v4);
    }
    auto v6 = std::make_unique<QUdpSocket>();
    if (!v6addr.isNull() && v6->bind(v6addr, discoveryPort, mode)) {
        // Joining fails on hosts without IPv6 multicast; unicast still works.
        if (v6addr == QHostAddress(QHostAddress::AnyIPv6))
            v6->joinMulticastGroup(QHostAddress(QStringLiteral("ff12::a1:9aca")));
        connect(v6.get(), &QUdpSocket::readyRead, this, [this, s = v6.get()] { serve(s); });
        v6_ = std::move(v6);
    }
    return active();
}

void AlpacaDiscovery::stop()
{
    v4_.reset();
    v6_.reset();
}

void AlpacaDiscovery::serve(QUdpSocket* s)
{
    while (s->hasPendingDatagrams()) {
        const QNetworkDatagram d = s->receiveDatagram(256);
        // The probe may carry more after its fixed start (a later version
        // of the protocol); anything else is ignored without an answer.
        if (!d.isValid() || !d.data().startsWith("alpacadiscovery1") || !wanted(d)) continue;
        const QByteArray answer = "{\"AlpacaPort\":" + QByteArray::number(httpPort_) + '}';
        s->writeDatagram(answer, d.senderAddress(), quint16(d.senderPort()));
        ++answered_;
    }
}

bool AlpacaDiscovery::wanted(const QNetworkDatagram& d) const
{
    if (only_.isNull()) return true;
    const QHostAddress to = d.destinationAddress();
    if (to.isEqual(only_, QHostAddress::TolerantConversion)) return true;
    // Broadcasts and multicasts count where they arrived on our interface;
    // a probe sent to another address of this computer does not.
    if (onlyInterface_ == 0 || int(d.interfaceIndex()) != onlyInterface_) return false;
    if (to.isBroadcast() || to.isMulticast()) return true;
    // A directed broadcast (192.168.1.255) is not "isBroadcast()".
    for (const QNetworkAddressEntry& e : QNetworkInterface::interfaceFromIndex(onlyInterface_).addressEntries())
        if (e.broadcast() == to) return true;
    return false;
}

} // namespace skyvane::http
