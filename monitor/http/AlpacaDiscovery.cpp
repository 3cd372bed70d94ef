#include "AlpacaDiscovery.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

namespace skyvane::http {

AlpacaDiscovery::AlpacaDiscovery(QObject* parent) : QObject(parent) {}
AlpacaDiscovery::~AlpacaDiscovery() = default;

bool AlpacaDiscovery::start(quint16 httpPort, quint16 discoveryPort, const QHostAddress& v4addr,
                            const QHostAddress& v6addr)
{
    stop();
    httpPort_ = httpPort;
    const auto mode = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    auto v4 = std::make_unique<QUdpSocket>();
    if (v4->bind(v4addr, discoveryPort, mode)) {
        connect(v4.get(), &QUdpSocket::readyRead, this, [this, s = v4.get()] { serve(s); });
        v4_ = std::move(v4);
    }
    auto v6 = std::make_unique<QUdpSocket>();
    if (v6->bind(v6addr, discoveryPort, mode)) {
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
        if (!d.isValid() || !d.data().startsWith("alpacadiscovery1")) continue;
        const QByteArray answer = "{\"AlpacaPort\":" + QByteArray::number(httpPort_) + '}';
        s->writeDatagram(answer, d.senderAddress(), quint16(d.senderPort()));
        ++answered_;
    }
}

} // namespace skyvane::http
