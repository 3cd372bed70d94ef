// A client program starts and stops recording through the automation class
// (RecordStart, RecordStop), wired to the monitor as the program wires it.

#include "NephorTestRig.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;

TEST(RecordsByClient, RecordStartAndStop)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << qPrintable(rig.why());
    nephor::NephorHooks hooks;
    hooks.recordStart = [&](bool append) { return rig.core->recordStart(append); };
    hooks.recordStop = [&] { rig.core->recordStop(); };
    rig.server->setHooks(hooks);
    QDir(rig.dir.path()).mkpath(QStringLiteral("data"));
    const QString csv = QDir(rig.dir.filePath(QStringLiteral("data"))).filePath(QStringLiteral("Skyvane.csv"));
    QFile old(csv);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("\"old\",\r\n");
    old.close();

    auto client = rig.client();
    ASSERT_TRUE(client->call(QStringLiteral("RecordStart"), {true}).ok());
    ASSERT_TRUE(spinUntil([&] { return rig.core->recording(); }, 5000));
    ASSERT_TRUE(client->call(QStringLiteral("RecordStop")).ok());
    ASSERT_TRUE(spinUntil([&] { return !rig.core->recording(); }, 5000));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    // appended, without asking anybody: the old line, then a header
    EXPECT_TRUE(bytes.startsWith("\"old\",\r\n\"Date\",\"Time\",")) << bytes.constData();
    EXPECT_TRUE(rig.messages.isEmpty());
}

TEST(RecordsByClient, AFileThatCannotBeOpenedIsAFailedCallAndD13)
{
    // A client must not be told it records when nothing is written.
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << qPrintable(rig.why());
    nephor::NephorHooks hooks;
    hooks.recordStart = [&](bool append) { return rig.core->recordStart(append); };
    hooks.recordStop = [&] { rig.core->recordStop(); };
    rig.server->setHooks(hooks);
    rig.core->config().pathName = rig.dir.filePath(QStringLiteral("no/such/folder"));

    auto client = rig.client();
    const auto r = client->call(QStringLiteral("RecordStart"), {false});
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.error.contains(QStringLiteral("cannot be opened"))) << r.error.toStdString();
    EXPECT_FALSE(rig.core->recording());
    EXPECT_TRUE(rig.core->state().codes.text.contains(QStringLiteral("d13"))) << rig.core->state().codes.text.toStdString();
}
