// The monitor's own start after an update: the main window's start-up tick
// shows the last update's result once and pending news at every start until
// discarded; a start after a good update shows nothing.
#include "MainWindow.h"
#include "MonitorRig.h"
#include "XOBDispNews.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QTest>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

struct Shown {
    QStringList messages;
    QStringList titles;
};

QList<update::XOBDispNews*> newsWindows()
{
    QList<update::XOBDispNews*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* n = qobject_cast<update::XOBDispNews*>(w); n && n->isVisible()) found << n;
    return found;
}

// One start of the monitor on the rig's store: load, window, its first
// second; what it showed. during runs while the window is still up.
Shown start(MonitorRig& rig, const std::function<void()>& during)
{
    Shown shown;
    rig.store.reload("XOB_Skyvane");
    rig.core->load();
    MainWindow window(*rig.core);
    rig.core->setPrompter([&](const QString& text, int, const QString& title) {
        shown.messages << text;
        shown.titles << title;
        return int(AnswerOk);
    });
    // The tick comes as soon as events run after the load.
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    during();
    rig.core->save();
    return shown;
}

} // namespace

TEST(StartupAfterUpdate, ShowsTheResultOnceAndNewsUntilDiscarded)
{
    MonitorRig rig({}, false);
    rig.store.save("XOB_Skyvane", "Window", "LastUpdateMsg", "Last update cancelled.\nProgram was not updated!");
    rig.store.save("XOB_Skyvane", "Window", "XOB_News", "New sky quality sensor <b>support</b>");
    rig.store.sync();

    Shown first = start(rig, [&] {
        ASSERT_EQ(newsWindows().size(), 1);
        EXPECT_EQ(newsWindows().first()->shownText(), "New sky quality sensor <b>support</b>");
        newsWindows().first()->close();
    });
    EXPECT_EQ(first.messages, QStringList{"Last update cancelled.\nProgram was not updated!"});
    EXPECT_EQ(first.titles, QStringList{"Last Update Status"});
    EXPECT_EQ(rig.store.get("XOB_Skyvane", "Window", "LastUpdateMsg", "<absent>"), "");

    // Not discarded: the news again, the result not.
    Shown second = start(rig, [&] {
        ASSERT_EQ(newsWindows().size(), 1);
        newsWindows().first()->findChild<QCheckBox*>("ChckMsg")->setChecked(true);
        newsWindows().first()->close();
    });
    EXPECT_TRUE(second.messages.isEmpty());

    // Discarded: nothing at all.
    Shown third = start(rig, [&] { EXPECT_TRUE(newsWindows().isEmpty()); });
    EXPECT_TRUE(third.messages.isEmpty());
}
