// The record files on the main window: the Record frame starts and stops
// recording and locks the file's layout meanwhile, the fields reach the
// settings, and every caption of the Files tab and the column chooser fits.
// With SKYVANE_SCREENSHOT_DIR set, the test also leaves pictures of them
// there (run under Xvfb with QT_QPA_PLATFORM=xcb to see real fonts).

#include "FileStructDialog.h"
#include "MainWindow.h"
#include "MonitorCore.h"
#include "SettingsStore.h"
#include "XOBGetNumber.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace skyvane;

namespace {
QDBusConnection deadBus()
{
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/skyvane-test"), QStringLiteral("dead"));
}

// Captions that need more room than they were given.
QStringList clipped(QWidget* root)
{
    QStringList out;
    for (QLabel* l : root->findChildren<QLabel*>()) {
        if (!l->isVisibleTo(root) || l->text().isEmpty() || l->wordWrap()) continue;
        if (l->width() < l->minimumSizeHint().width() || l->height() < l->fontMetrics().height())
            out << l->text();
    }
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>()) {
        if (!b->isVisibleTo(root) || b->text().isEmpty()) continue;
        if (b->width() < b->sizeHint().width()) out << b->text();
    }
    for (QGroupBox* g : root->findChildren<QGroupBox*>())
        if (g->isVisibleTo(root) && g->width() < g->fontMetrics().horizontalAdvance(g->title()) + 16) out << g->title();
    return out;
}

void picture(QWidget* w, const QString& name)
{
    const QString dir = qEnvironmentVariable("SKYVANE_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    w->grab().save(QDir(dir).filePath(name));
}

struct Fixture {
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
    FakeClock clock;
    MonitorCore core{clock, store, deadBus(), dir.path()};
    QStringList asked;
    int answer = AnswerYes;
    Fixture()
    {
        core.load();
        core.config().pathName = dir.filePath("data");
        core.outputsConfig().pathNameCcdap4 = dir.filePath("ccd");
        QDir(dir.path()).mkpath("data");
    }
    // after the window, which installs its own message dialog
    void answerMessages()
    {
        core.setPrompter([this](const QString& text, int, const QString&) {
            asked << text;
            return answer;
        });
    }
};
} // namespace

TEST(RecordWindow, RecordFrameLocksTheLayoutWhileRecording)
{
    Fixture f;
    MainWindow w(f.core);
    f.answerMessages();
    w.resize(900, 700);
    w.show();
    auto* tabs = w.findChild<QTabWidget*>("SSTab1");
    tabs->setCurrentIndex(tabs->count() - 1);
    QApplication::processEvents();

    auto* start = w.findChild<QRadioButton*>("RecOption_0");
    auto* stop = w.findChild<QRadioButton*>("RecOption_1");
    auto* name = w.findChild<QLineEdit*>("FileName");
    auto* freq = w.findChild<XOBGetNumber*>("SaveFreq");
    auto* structure = w.findChild<QPushButton*>("ButtFileStructure");
    auto* path = w.findChild<QPushButton*>("ButtPATH");
    auto* ccdName = w.findChild<QLineEdit*>("FileNameCCDAP4");
    ASSERT_TRUE(start && stop && name && freq && structure && path && ccdName);
    EXPECT_TRUE(stop->isChecked());
    EXPECT_EQ(name->text(), QStringLiteral("Skyvane"));
    EXPECT_EQ(ccdName->text(), QStringLiteral("XOB_CCDAP4_II.dat"));

    // the fields reach the settings
    name->setText(QStringLiteral("night"));
    emit name->editingFinished();
    auto type = [freq](const char* keys) {
        freq->setFocus();
        freq->selectAll();
        QTest::keyClicks(freq, QString::fromLatin1(keys));
        QTest::keyClick(freq, Qt::Key_Return);
    };
    type("0"); // below 1 is not taken
    EXPECT_EQ(freq->value(), 1);
    EXPECT_EQ(f.core.outputsConfig().freqSave, 1);
    type("4");
    EXPECT_EQ(f.core.outputsConfig().fileName, QStringLiteral("night"));
    EXPECT_EQ(f.core.outputsConfig().freqSave, 4);
    ccdName->setText(QString());
    emit ccdName->editingFinished();
    EXPECT_TRUE(f.core.outputsConfig().fileNameCcdap4.isEmpty());

    picture(w.findChild<QGroupBox*>("FrameRecord")->parentWidget(), QStringLiteral("record-frame.png"));
    picture(tabs->currentWidget(), QStringLiteral("files-tab.png"));
    picture(&w, QStringLiteral("main-window-files.png"));
    EXPECT_EQ(clipped(tabs->currentWidget()), QStringList());

    start->click();
    EXPECT_TRUE(f.core.recording());
    EXPECT_TRUE(QFileInfo::exists(QDir(f.dir.filePath("data")).filePath("night.csv")));
    for (QWidget* c : {static_cast<QWidget*>(name), static_cast<QWidget*>(freq), static_cast<QWidget*>(structure),
                       static_cast<QWidget*>(path)})
        EXPECT_FALSE(c->isEnabled()) << qPrintable(c->objectName());
    EXPECT_TRUE(start->isChecked());

    stop->click();
    EXPECT_FALSE(f.core.recording());
    for (QWidget* c : {static_cast<QWidget*>(name), static_cast<QWidget*>(freq), static_cast<QWidget*>(structure),
                       static_cast<QWidget*>(path)})
        EXPECT_TRUE(c->isEnabled()) << qPrintable(c->objectName());

    // the file exists now: Cancel leaves it, and the frame shows "Stop"
    f.answer = AnswerCancel;
    start->click();
    EXPECT_EQ(f.asked.last(), QStringLiteral("Append to existing file"));
    EXPECT_FALSE(f.core.recording());
    EXPECT_TRUE(stop->isChecked());
}

TEST(RecordWindow, ColumnChooserCaptionsFit)
{
    outputs::ColumnTable table = outputs::ColumnTable::defaults();
    outputs::FileStructDialog d(table);
    d.show();
    QApplication::processEvents();
    EXPECT_EQ(clipped(&d), QStringList());
    // the longest entry is not cut either
    QListWidget* l = d.list();
    int widest = 0;
    for (int i = 0; i < l->count(); ++i) widest = std::max(widest, l->visualItemRect(l->item(i)).right());
    EXPECT_LE(widest, l->viewport()->width());
    picture(&d, QStringLiteral("column-chooser.png"));
}
