// The HTTP server under requests no good client sends: malformed heads,
// oversized bodies, a thousand headers, a client that trickles one byte a
// second, a burst of ten thousand requests, paths that are not UTF-8. Each
// is answered or dropped within the limits, and the monitor's read cycles go
// on completing in their period meanwhile.
#include "ServerRig.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

int statusOf(ServerRig& s, const QByteArray& request)
{
    RawClient c;
    if (!c.connectTo(s.port())) return -1;
    c.send(request);
    c.closedByServer(3000);
    return c.status();
}

// Runs one read period and tells whether exactly one more cycle completed.
bool oneCycleCompletes(ServerRig& s)
{
    const int before = s.rig.core->cycleCount();
    s.cycle();
    return s.rig.core->cycleCount() == before + 1 && !s.rig.core->evaluationStale() && !s.rig.core->busy();
}

} // namespace

TEST(HttpServer, MalformedRequestsGet400AndTheConnectionCloses)
{
    ServerRig s;
    ASSERT_TRUE(s.rig.ready());
    s.rig.start();
    EXPECT_EQ(statusOf(s, "GARBAGE\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "GET\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "GET  / HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "GET noslash HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "GET / HTTP/2.0\r\n\r\n"), 505);
    EXPECT_EQ(statusOf(s, "GET / SPDY\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "GET / HTTP/1.1\nHost: x\r\n\r\n"), 400);          // bare line feed
    EXPECT_EQ(statusOf(s, "GET / HTTP/1.1\r\nNo colon here\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "GET / HTTP/1.1\r\nBad Name: x\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "PUT / HTTP/1.1\r\nContent-Length: ten\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "PUT / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "PUT / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab"), 400);
    EXPECT_EQ(statusOf(s, "PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"), 501);
    // Not UTF-8, broken escapes, NUL: refused before any handler sees them.
    EXPECT_EQ(statusOf(s, "GET /%FF%FE HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "GET /api/v1/safetymonitor/0/issafe%00 HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "GET /%G1 HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, "GET /% HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf(s, QByteArray("GET /\xff\xfe HTTP/1.1\r\n\r\n")), 400);
    EXPECT_EQ(statusOf(s, QByteArray("GET /caf\xc3\xa9 HTTP/1.1\r\n\r\n")), 400); // raw bytes are not allowed either
    EXPECT_EQ(statusOf(s, "GET /caf%C3%A9 HTTP/1.1\r\nConnection: close\r\n\r\n"), 404); // encoded UTF-8 is fine
    EXPECT_TRUE(oneCycleCompletes(s));
    EXPECT_EQ(s.client->get("/management/apiversions").status, 200);
}

TEST(HttpServer, KeepAlivePipelinedRequestsAreAnsweredInOrder)
{
    ServerRig s;
    RawClient c;
    ASSERT_TRUE(c.connectTo(s.port()));
    c.send("GET /api/v1/safetymonitor/0/name?ClientTransactionID=1 HTTP/1.1\r\nHost: x\r\n\r\n"
           "GET /api/v1/safetymonitor/0/name?ClientTransactionID=2 HTTP/1.1\r\nHost: x\r\n\r\n"
           "PUT /api/v1/safetymonitor/0/connected HTTP/1.1\r\nContent-Length: 39\r\n\r\n"
           "Connected=true&ClientTransactionID=3xyz");
    ASSERT_TRUE(c.waitFor("\"ClientTransactionID\":0"));
    const qsizetype one = c.received.indexOf("\"ClientTransactionID\":1");
    const qsizetype two = c.received.indexOf("\"ClientTransactionID\":2");
    EXPECT_GE(one, 0);
    EXPECT_GT(two, one);
    EXPECT_EQ(c.socket.state(), QAbstractSocket::ConnectedState);
    // Idle past the limit: the server lets go of the connection.
    s.rig.clock.advance(s.service->server().limits().idleTimeoutMs + 1000);
    EXPECT_TRUE(c.closedByServer(3000));
}

TEST(HttpServer, OversizedRequestsAreRefusedWithoutReadingThem)
{
    ServerRig s;
    ASSERT_TRUE(s.rig.ready());
    s.rig.start();
    // A 10 MB body, declared and sent.
    RawClient big;
    ASSERT_TRUE(big.connectTo(s.port()));
    big.send("PUT /api/v1/safetymonitor/0/connected HTTP/1.1\r\nContent-Length: 10485760\r\n\r\n");
    big.send(QByteArray(10 * 1024 * 1024, 'a'));
    EXPECT_TRUE(big.closedByServer());
    EXPECT_EQ(big.status(), 413);

    // 10 MB without a head end.
    RawClient endless;
    ASSERT_TRUE(endless.connectTo(s.port()));
    endless.send("GET /" + QByteArray(10 * 1024 * 1024, 'a'));
    EXPECT_TRUE(endless.closedByServer());
    EXPECT_EQ(endless.status(), 431);

    // A thousand header fields.
    QByteArray many = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 1000; ++i) many += "X-Field-" + QByteArray::number(i) + ": v\r\n";
    EXPECT_EQ(statusOf(s, many + "\r\n"), 431);
    EXPECT_TRUE(oneCycleCompletes(s));
    EXPECT_EQ(s.service->server().openConnections() <= 1, true);
}

TEST(HttpServer, ATricklingClientIsCutOffAndTheReadCycleKeepsItsPeriod)
{
    ServerRig s;
    ASSERT_TRUE(s.rig.ready());
    s.rig.sim->setLevels(1, 1, 1);
    s.rig.start();
    http::HttpLimits limits = s.service->server().limits();
    limits.requestTimeoutMs = 25000;
    s.service->server().setLimits(limits);

    RawClient slow;
    ASSERT_TRUE(slow.connectTo(s.port()));
    const QByteArray request = "GET /api/v1/safetymonitor/0/issafe HTTP/1.1\r\nHost: x\r\n\r\n";
    const int cyclesBefore = s.rig.core->cycleCount();
    int sent = 0;
    for (; sent < request.size() && slow.socket.state() == QAbstractSocket::ConnectedState; ++sent) {
        slow.send(request.mid(sent, 1));
        spinUntil([&] { return slow.socket.bytesToWrite() == 0; }, 1000);
        QCoreApplication::processEvents();
        s.rig.clock.advance(1000); // one byte a second
        slow.received += slow.socket.readAll();
    }
    EXPECT_TRUE(slow.closedByServer());
    EXPECT_EQ(slow.status(), 408);
    EXPECT_LE(sent, 27); // cut off after 25 seconds, not served at the end
    EXPECT_GE(sent, 24);
    // Meanwhile every read period still ended in a completed cycle.
    const int cycles = s.rig.core->cycleCount() - cyclesBefore;
    EXPECT_GE(cycles, sent / 10);
    EXPECT_LE(cycles, sent / 10 + 1);
    EXPECT_TRUE(oneCycleCompletes(s));
    EXPECT_EQ(s.isSafe(), false); // not connected
}

TEST(HttpServer, ABurstOfTenThousandRequestsIsServedAndCyclesGoOn)
{
    ServerRig s;
    ASSERT_TRUE(s.rig.ready());
    s.rig.sim->setLevels(1, 1, 1);
    s.rig.start();
    ASSERT_TRUE(s.connectBoth());

    constexpr int kClients = 20, kEach = 500;
    std::vector<std::unique_ptr<RawClient>> clients;
    QByteArray pipeline;
    for (int i = 0; i < kEach; ++i) pipeline += "GET /api/v1/safetymonitor/0/issafe HTTP/1.1\r\nHost: x\r\n\r\n";
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(clients.back()->connectTo(s.port()));
        clients.back()->send(pipeline);
    }
    // A read period passes in the middle of the burst.
    EXPECT_TRUE(oneCycleCompletes(s));
    auto answered = [&] {
        int n = 0;
        for (auto& c : clients) {
            n += int(c->received.count("\"Value\":true"));
        }
        return n;
    };
    EXPECT_TRUE(spinUntil([&] { return answered() == kClients * kEach; }, 30000)) << answered();
    const qint64 ms = wall.elapsed();
    RecordProperty("burst_ms", int(ms));
    EXPECT_TRUE(oneCycleCompletes(s));

    // More connections than the limit: the ones beyond it are turned away
    // at once, the others served.
    std::vector<std::unique_ptr<RawClient>> crowd;
    http::HttpLimits limits = s.service->server().limits();
    limits.maxConnections = 40;
    s.service->server().setLimits(limits);
    // 20 still open from the burst (and the client's own), 40 more: at
    // least 20 over the limit.
    for (int i = 0; i < 40; ++i) {
        crowd.push_back(std::make_unique<RawClient>());
        crowd.back()->socket.connectToHost(QHostAddress::LocalHost, s.port());
    }
    int refused = 0;
    spinUntil([&] {
        refused = 0;
        for (auto& c : crowd) {
            refused += c->status() == 503;
        }
        return refused >= 20;
    });
    EXPECT_LE(refused, 21);
    EXPECT_GE(refused, 20) << "open: " << s.service->server().openConnections() << " refused: " << s.service->server().requestsRefused();
    crowd.clear();
    EXPECT_TRUE(oneCycleCompletes(s));
    EXPECT_EQ(s.isSafe(), true);
}
