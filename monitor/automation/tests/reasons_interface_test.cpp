// /Reasons on the bus: read by a client program on its own connection while
// a random night runs (sky levels, wind, sensor faults, stale and missing
// station files, a client holding control, the safe delay, Stop and Start).
// After every cycle the reasons and the class's flag agree: no reasons
// exactly when the class says Safe.
#include "NephorTestRig.h"
#include "ReasonsInterface.h"

#include <QDBusMessage>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

QDBusMessage reasonsCall(const QString& member, const QVariantList& args = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(QString::fromLatin1(nephor::kProgId), QString::fromLatin1(nephor::kReasonsPath),
                                                    QString::fromLatin1(nephor::kReasonsInterface), member);
    m.setArguments(args);
    return m;
}

} // namespace

TEST(ReasonsInterface, MembersAnswerFromTheCurrentDecision)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    ASSERT_TRUE(nephor::publishReasons(rig.server->server(), *rig.core));
    ClientThread client(rig.bus.address(), QStringLiteral("reader"));

    // Not monitoring: unsafe, one reason.
    QDBusMessage r = client.raw(reasonsCall("get_Unsafe"));
    ASSERT_EQ(r.type(), QDBusMessage::ReplyMessage) << r.errorMessage().toStdString();
    EXPECT_TRUE(r.arguments().value(0).toBool());
    EXPECT_EQ(client.raw(reasonsCall("get_ReasonCause", {0})).arguments().value(0).toString(), "not-evaluated");

    rig.sim->setLevels(3, 1, 1);
    rig.start();
    EXPECT_EQ(client.raw(reasonsCall("get_ReasonCount")).arguments().value(0).toInt(), 1);
    EXPECT_EQ(client.raw(reasonsCall("get_ReasonCause", {0})).arguments().value(0).toString(), "marked-level");
    EXPECT_TRUE(client.raw(reasonsCall("get_Reason", {0})).arguments().value(0).toString().startsWith("Cloud"));
    const QJsonArray json =
        QJsonDocument::fromJson(client.raw(reasonsCall("get_ReasonsJson")).arguments().value(0).toString().toUtf8()).array();
    ASSERT_EQ(json.size(), 1);
    EXPECT_EQ(json[0].toObject().value("quantity").toString(), "cloud");
    EXPECT_EQ(json[0].toObject().value("level").toInt(), 3);
    // An index beyond the list is refused, not answered with something.
    EXPECT_EQ(client.raw(reasonsCall("get_Reason", {5})).type(), QDBusMessage::ErrorMessage);

    rig.sim->setLevels(1, 1, 1);
    rig.clock.advance(10000);
    EXPECT_FALSE(client.raw(reasonsCall("get_Unsafe")).arguments().value(0).toBool());
    EXPECT_EQ(client.raw(reasonsCall("get_Reasons")).arguments().value(0).toString(), QString());

    // The class itself is untouched by the extra object.
    EXPECT_EQ(rig.server->unhandledMembers(), QStringList());
}

TEST(ReasonsInterface, RandomNightReasonsNeverDisagreeWithTheFlag)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    ASSERT_TRUE(nephor::publishReasons(rig.server->server(), *rig.core));
    ClientThread client(rig.bus.address(), QStringLiteral("reader"));
    rig.core->conditionsConfig().safety.safeDelaySeconds = 25;
    rig.sim->setLevels(1, 1, 1);
    rig.start();

    quint32 seed = 1208;
    auto rnd = [&seed](int n) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 16) % quint32(n));
    };
    int safe = 0, unsafe = 0;
    QStringList causes;
    for (int i = 0; i < 120; ++i) {
        switch (rnd(12)) {
        case 0: rig.sim->setLevels(1 + rnd(3), 1 + rnd(3), 1 + rnd(3)); break;
        case 1: rig.sim->setLevels(1, 1, 1); break;
        case 2: rig.sim->setDeviceRunning(rnd(3) != 0); break;
        case 3: rig.writeStationFile(rnd(2) ? 5 : 60, rnd(2) ? 8 : 80, 40 + rnd(60)); break;
        case 4: QFile::remove(rig.dir.filePath("station.csv")); break;
        case 5: rig.writeStationFile(); break;
        case 6:
            rig.core->hasControl(rnd(2) == 0, QStringLiteral("test"));
            if (rig.core->hasControlFlag()) rig.core->setUnsafeByClient(rnd(2) == 0);
            break;
        case 7:
            if (rig.core->isRunning()) rig.core->stopProcedure();
            else rig.start();
            break;
        default: break;
        }
        if (!rig.core->isRunning() && rnd(3) == 0) rig.start();
        rig.clock.advance(10000 * (1 + rnd(2)));
        const QDBusMessage u = client.raw(reasonsCall("get_Unsafe"));
        const QDBusMessage n = client.raw(reasonsCall("get_ReasonCount"));
        ASSERT_EQ(u.type(), QDBusMessage::ReplyMessage) << u.errorMessage().toStdString();
        const bool classUnsafe = rig.server->unsafeFlag();
        ASSERT_EQ(u.arguments().value(0).toBool(), classUnsafe) << "step " << i;
        ASSERT_EQ(n.arguments().value(0).toInt() == 0, !classUnsafe) << "step " << i;
        if (classUnsafe) causes << client.raw(reasonsCall("get_ReasonCause", {0})).arguments().value(0).toString();
        (classUnsafe ? unsafe : safe)++;
    }
    EXPECT_GT(safe, 10);
    EXPECT_GT(unsafe, 10);
    // The night went through several rules, not only one.
    causes.removeDuplicates();
    EXPECT_GE(causes.size(), 4) << causes.join(",").toStdString();
}

// docs/reasons.xml is the introspection the server gives; SKYVANE_WRITE_DOCS=1
// rewrites it after a change to the interface.
TEST(ReasonsInterface, DocumentMatchesTheInterface)
{
    const QString file = qEnvironmentVariable("SKYVANE_SOURCE_DIR") + "/docs/reasons.xml";
    const QString xml = nephor::reasonsIntrospection();
    if (qEnvironmentVariableIsSet("SKYVANE_WRITE_DOCS")) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(xml.toUtf8());
    }
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly)) << file.toStdString();
    EXPECT_EQ(QString::fromUtf8(in.readAll()), xml);
    EXPECT_TRUE(xml.contains("interface name=\"XOB_Skyvane.Reasons\""));
}
