// Every edit reaches the disk within a second, whoever makes it: the walk
// changes every declared key in the running monitor as a window does, lets
// one input of a person arrive, and reads the disk a second later, which is
// what a monitor killed at that moment (SIGKILL, a power cut) leaves. The
// edits of the window that once never reached the disk are then driven
// through their own fields and dialogs, and a fresh monitor loaded from the
// disk finds them.
#include "FileStructDialog.h"
#include "GraphPanel.h"
#include "MainWindow.h"
#include "MonitorCore.h"
#include "SettingsSchema.h"
#include "SettingsStore.h"
#include "XOBColor.h"
#include "XOBGetNumber.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace skyvane;

namespace {

const QString kApp = QString::fromLatin1(kAppName);

QDBusConnection deadBus()
{
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/skyvane-walk"), QStringLiteral("dead"));
}

// A stored text unlike the key's current one that the key can hold.
QString otherValue(const SettingsSchema::Entry& e)
{
    const QString now = e.text();
    switch (e.kind) {
    case SettingKind::Text: return now == QLatin1String("walked") ? QStringLiteral("walked again") : QStringLiteral("walked");
    case SettingKind::Number: return setting_rows::numberText(now == setting_rows::numberText(7.25) ? 8.5 : 7.25);
    case SettingKind::Integer: return now == QLatin1String("2") ? QStringLiteral("1") : QStringLiteral("2");
    case SettingKind::CheckBox: return now == QLatin1String("1") ? QStringLiteral("0") : QStringLiteral("1");
    case SettingKind::Option: return QStringLiteral("True");
    case SettingKind::Colour: return now == QLatin1String("123456") ? QStringLiteral("654321") : QStringLiteral("123456");
    }
    return QString();
}

// Keys whose live value is held by the graphs rather than by the settings
// the walk edits: they are driven through the graph panel below.
bool heldByTheGraphs(const SettingsSchema::Entry& e)
{
    if (e.section != QLatin1String("Graphs")) return false;
    return !e.key.startsWith(QLatin1String("Image")) || e.key == QLatin1String("ImageType");
}

// Keys whose live value is held by the uploads: driven through the upload
// frame below. (UploadDir is the uploader's remote folder: it has no field
// and is written where it changes.)
bool heldByTheUploads(const SettingsSchema::Entry& e)
{
    static const QStringList keys{"Server", "ServerPath", "Username", "Password", "UploadOnSec",
                                  "TimeoutUPLOAD", "RefreshUpload", "UploadDir", "DispFileNameOnly"};
    return (e.section == QLatin1String("Setup") || e.section == QLatin1String("File")) && keys.contains(e.key);
}

struct WalkRig {
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
    FakeClock clock;
    std::unique_ptr<MonitorCore> core;
    std::unique_ptr<MainWindow> window;

    WalkRig()
    {
        store.save(kApp, "Setup", "Emulator", "1");
        store.sync();
        core = std::make_unique<MonitorCore>(clock, store, deadBus(), dir.path());
        window = std::make_unique<MainWindow>(*core);
        core->load();
        window->render();
        window->show();
        QCoreApplication::processEvents();
    }
    // What the disk holds now: what a killed monitor leaves.
    QString onDisk(const QString& section, const QString& key) const
    {
        SettingsStore disk(dir.path());
        return disk.get(kApp, section, key, QStringLiteral("<missing>"));
    }
    // What a monitor started on that disk finds.
    QString afterRestart(const QString& section, const QString& key) const
    {
        SettingsStore disk(dir.path());
        FakeClock c;
        MonitorCore fresh(c, disk, deadBus(), dir.path());
        fresh.load();
        for (const SettingsSchema::Entry* e : fresh.settingsSchema().entries())
            if (e->section == section && e->key == key) return e->text();
        return QStringLiteral("<undeclared>");
    }
    void aSecondLater()
    {
        QCoreApplication::processEvents();
        clock.advance(1000);
        QCoreApplication::processEvents();
    }
};

// Brings the tab that holds the widget to the front, as a person does
// before typing into it.
void reveal(QWidget* w)
{
    for (QWidget* child = w; child && child->parentWidget(); child = child->parentWidget())
        if (auto* stack = qobject_cast<QStackedWidget*>(child->parentWidget())) stack->setCurrentWidget(child);
    QCoreApplication::processEvents();
}

void type(XOBGetNumber* f, const QString& text)
{
    reveal(f);
    f->setFocus();
    f->selectAll();
    QTest::keyClicks(f, text);
    QTest::keyClick(f, Qt::Key_Return);
}

// Answers the next modal dialog once it is up.
void whenModal(std::function<void(QWidget*)> act)
{
    QTimer::singleShot(0, [act] {
        QWidget* w = QApplication::activeModalWidget();
        if (w) act(w);
    });
}

} // namespace

TEST(SettingsWalk, EveryDeclaredKeyReachesTheDiskAfterAnEdit)
{
    WalkRig rig;
    QStringList lost;
    int walked = 0;
    for (const SettingsSchema::Entry* e : rig.core->settingsSchema().entries()) {
        if (e->saveRule == SaveRule::ImmediateOnly || heldByTheGraphs(*e) || heldByTheUploads(*e)) continue;
        // the window's own position is taken from the window at each save
        if (e->section == "Window" && (e->key == "Left" || e->key == "Top")) continue;
        const QString value = otherValue(*e);
        e->apply(value);
        const QString held = e->text(); // a value the key clamps is held clamped
        // one input of a person anywhere in the window
        QTest::keyClick(rig.window.get(), Qt::Key_Shift);
        rig.aSecondLater();
        const QString disk = rig.onDisk(e->section, e->key);
        if (disk != held) lost << QStringLiteral("%1/%2: held %3, disk %4").arg(e->section, e->key, held, disk);
        ++walked;
    }
    EXPECT_GT(walked, 250);
    EXPECT_TRUE(lost.isEmpty()) << lost.join("\n").toStdString();
}

TEST(SettingsWalk, WindowEditsSurviveAKill)
{
    WalkRig rig;
    MainWindow& w = *rig.window;
    auto expectKept = [&](const char* section, const char* key, const QString& value) {
        rig.aSecondLater();
        EXPECT_EQ(rig.onDisk(section, key).toStdString(), value.toStdString()) << section << "/" << key;
        EXPECT_EQ(rig.afterRestart(section, key).toStdString(), value.toStdString()) << section << "/" << key << " after a restart";
    };

    // the two file names: typed, then the field is left
    for (const char* name : {"FileName", "FileNameCCDAP4"}) {
        auto* f = w.findChild<QLineEdit*>(name);
        ASSERT_NE(f, nullptr) << name;
        reveal(f);
        f->setFocus();
        f->selectAll();
        QTest::keyClicks(f, QStringLiteral("night-%1").arg(name));
        w.findChild<XOBGetNumber*>("SafeDelayVal")->setFocus(); // leaves the field
        expectKept("Window", name, QStringLiteral("night-%1").arg(name));
    }

    // the save period
    auto* freq = w.findChild<XOBGetNumber*>("SaveFreq");
    ASSERT_NE(freq, nullptr);
    type(freq, "7");
    expectKept("Window", "FreqSave", "7");

    // the CCDAutopilot file's folder, chosen in the folder dialog
    const QString ccd = rig.dir.filePath("ccd");
    QDir().mkpath(ccd);
    whenModal([&](QWidget* m) {
        auto* d = qobject_cast<QFileDialog*>(m);
        ASSERT_NE(d, nullptr);
        d->setDirectory(ccd);
        d->selectFile(ccd);
        static_cast<QDialog*>(d)->accept();
    });
    w.findChild<QPushButton*>("ButtCCDAP4")->click();
    expectKept("Window", "PathNameCCDAP4", ccd);

    // the column chooser: one column moved down, then OK
    whenModal([&](QWidget* m) {
        auto* d = qobject_cast<outputs::FileStructDialog*>(m);
        ASSERT_NE(d, nullptr);
        d->list()->setCurrentRow(0);
        d->downButton()->click();
        QTest::mouseClick(d->okButton(), Qt::LeftButton);
    });
    const QString firstBefore = rig.onDisk("File", "Cal01");
    w.findChild<QPushButton*>("ButtFileStructure")->click();
    rig.aSecondLater();
    EXPECT_NE(rig.onDisk("File", "Cal01"), firstBefore) << "the column order did not reach the disk";
    EXPECT_EQ(rig.afterRestart("File", "Cal01"), rig.onDisk("File", "Cal01"));

    // graph points and period
    type(w.findChild<XOBGetNumber*>("GraphNoPoints"), "300");
    expectKept("Graphs", "GraphNoPoints", "300");
    type(w.findChild<XOBGetNumber*>("GraphFreq"), "4");
    expectKept("Graphs", "GraphFreq", "4");

    // a graph colour, picked in the colour dialog
    whenModal([&](QWidget* m) {
        auto* d = qobject_cast<conditions::XOBColor*>(m);
        ASSERT_NE(d, nullptr);
        d->selectSwatch(3);
        static_cast<QDialog*>(d)->accept();
    });
    const QString colourBefore = rig.onDisk("Graphs", "GraphColorGust1");
    auto* box = w.findChild<QWidget*>("GraphColorGust_1");
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box, Qt::LeftButton);
    rig.aSecondLater();
    EXPECT_NE(rig.onDisk("Graphs", "GraphColorGust1"), colourBefore) << "the colour did not reach the disk";
    EXPECT_EQ(rig.afterRestart("Graphs", "GraphColorGust1"), rig.onDisk("Graphs", "GraphColorGust1"));

    // the upload frame's fields
    const struct {
        const char* field;
        const char* key;
        QString typed;
    } texts[] = {{"ServerAddress", "Server", "ftp.example.org/"}, {"ServerPath", "ServerPath", "web/sky/"},
                 {"UserName", "Username", "observer"}, {"PassWord", "Password", "s3cret"}};
    for (const auto& t : texts) {
        auto* f = w.findChild<QLineEdit*>(t.field);
        ASSERT_NE(f, nullptr) << t.field;
        ASSERT_TRUE(f->isEnabled()) << t.field;
        reveal(f);
        f->setFocus();
        f->selectAll();
        QTest::keyClicks(f, t.typed);
        QTest::keyClick(f, Qt::Key_Return);
        expectKept("Setup", t.key, t.typed);
    }
    type(w.findChild<XOBGetNumber*>("TimeoutUPLOAD"), "45");
    expectKept("Setup", "TimeoutUPLOAD", "45");
    type(w.findChild<XOBGetNumber*>("UploadOnSec"), "20");
    expectKept("Setup", "UploadOnSec", "20");
    auto* refresh = w.findChild<QComboBox*>("RefreshUpload");
    ASSERT_NE(refresh, nullptr);
    reveal(refresh);
    refresh->setFocus();
    QTest::keyClick(refresh, refresh->currentIndex() > 0 ? Qt::Key_Up : Qt::Key_Down);
    const QString refreshIndex = QString::number(refresh->currentIndex());
    expectKept("Setup", "RefreshUpload", refreshIndex);
    auto* only = w.findChild<QCheckBox*>("DispFileNameOnly");
    const QString onlyText = only->isChecked() ? "0" : "1";
    QTest::mouseClick(only, Qt::LeftButton);
    rig.aSecondLater();
    EXPECT_EQ(rig.afterRestart("File", "DispFileNameOnly"), rig.onDisk("File", "DispFileNameOnly"));
    EXPECT_EQ(rig.onDisk("File", "DispFileNameOnly"), onlyText);

    // image type and quality
    reveal(w.findChild<QCheckBox*>("ImageType"));
    QTest::mouseClick(w.findChild<QCheckBox*>("ImageType"), Qt::LeftButton);
    expectKept("Graphs", "ImageType", "0");
    auto* top = w.findChild<QRadioButton*>("ImageQuality_0");
    ASSERT_TRUE(top->isVisible() && top->isEnabled());
    QTest::mouseClick(top, Qt::LeftButton);
    expectKept("Graphs", "QualityTop", "True");
    expectKept("Graphs", "QualityNormal", "False");
}
