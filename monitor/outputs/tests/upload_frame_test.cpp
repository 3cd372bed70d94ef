// The upload frame on the window (offscreen): the add dialog, the list rows,
// the pop-up menu, the server field checks and the locking.
#include "MonitorRig.h"
#include "UploadFrame.h"
#include "Uploads.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::outputs;

namespace {

struct FrameRig : skyvane::testing::MonitorRig {
    FrameRig() : MonitorRig({}, false) {}
    UploadFrame frame{*core};
    Uploads& up() { return core->uploads(); }
    template <class T> T* child(const char* name) { return frame.findChild<T*>(QString::fromLatin1(name)); }
    QStringList rows()
    {
        QCoreApplication::processEvents();
        QStringList r;
        auto* l = child<QListWidget>("XOBFileList");
        for (int i = 0; i < l->count(); ++i) r << l->item(i)->text();
        return r;
    }
};

} // namespace

TEST(UploadFrame, AddDialogAsSpecifiedAndNoFileTwice)
{
    FrameRig rig;
    rig.up().config().uploadDir = rig.dir.path();
    std::unique_ptr<QFileDialog> d(rig.frame.makeAddDialog());
    EXPECT_EQ(d->windowTitle(), "Select Files to UPLOAD");
    EXPECT_EQ(d->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(d->nameFilters().size(), 8);
    EXPECT_EQ(d->selectedNameFilter(), "PNG images(*.png)");
    EXPECT_EQ(QDir(d->directory()).canonicalPath(), QDir(rig.dir.path()).canonicalPath());

    rig.frame.addFiles({"/srv/a/one.png", "/srv/a/two.jpg"});
    rig.frame.addFiles({"/srv/a/two.jpg"});
    rig.frame.addFiles({"/srv/b/three.htm"});
    EXPECT_EQ(rig.up().config().uploadDir, "/srv/b/");
    EXPECT_EQ(rig.rows(), (QStringList{"     /srv/a/one.png", "     /srv/a/two.jpg", "     /srv/b/three.htm"}));
    rig.child<QCheckBox>("DispFileNameOnly")->setChecked(true);
    EXPECT_EQ(rig.rows(), (QStringList{"     one.png", "     two.jpg", "     three.htm"}));
}

TEST(UploadFrame, UploadOncePopupAndDelete)
{
    FrameRig rig;
    rig.frame.addFiles({"/s/a.png", "/s/b.png", "/s/c.png"});
    QMenu* menu = rig.frame.popupMenu();
    const QList<QAction*> acts = menu->actions();
    ASSERT_EQ(acts.size(), 4);
    EXPECT_EQ(acts[0]->text(), "&Upload Once");
    EXPECT_TRUE(acts[1]->isSeparator());
    EXPECT_EQ(acts[2]->text(), "&Delete");
    EXPECT_EQ(acts[3]->text(), "&Add");
    rig.frame.showPopupAt({}, false);
    EXPECT_FALSE(acts[0]->isEnabled());
    EXPECT_FALSE(acts[2]->isEnabled());

    auto* list = rig.child<QListWidget>("XOBFileList");
    list->setCurrentRow(2);
    rig.child<QCheckBox>("UploadOnce")->click();
    EXPECT_EQ(rig.rows()[2], "*** /s/c.png");
    rig.frame.showPopupAt({}, false);
    EXPECT_TRUE(acts[0]->isEnabled());
    EXPECT_TRUE(acts[0]->isChecked());
    acts[0]->trigger();
    EXPECT_EQ(rig.rows()[2], "     /s/c.png");
    EXPECT_FALSE(rig.child<QCheckBox>("UploadOnce")->isChecked());

    // Deleting the selected last row selects the new last row.
    rig.child<QPushButton>("ButtFileDEL")->click();
    EXPECT_EQ(rig.rows(), (QStringList{"     /s/a.png", "     /s/b.png"}));
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_EQ(rig.up().list().ListIndex(), 1);
}

TEST(UploadFrame, ServerFieldChecksAndLocking)
{
    FrameRig rig;
    auto* server = rig.child<QLineEdit>("ServerAddress");
    auto* path = rig.child<QLineEdit>("ServerPath");
    server->setText("ftp://example.net");
    emit server->editingFinished();
    path->setText("/night");
    emit path->editingFinished();
    EXPECT_EQ(server->text(), "ftp://example.net/");
    EXPECT_EQ(path->text(), "night/");
    EXPECT_EQ(rig.up().config().serverPath, "night/");
    auto* tls = rig.child<QComboBox>("UploadTLS");
    EXPECT_EQ(tls->currentText(), "TLS if offered");
    tls->setCurrentIndex(0);
    EXPECT_EQ(rig.up().config().tls, UploadTls::Required);

    // A launch locks the settings even when the program can not be started.
    rig.up().setUploaderProgram(rig.dir.filePath("no-such-uploader"));
    rig.up().start();
    rig.rows();
    EXPECT_FALSE(server->isEnabled());
    EXPECT_FALSE(tls->isEnabled());
    EXPECT_FALSE(rig.child<QLineEdit>("UploadCAFile")->isEnabled());
    EXPECT_FALSE(rig.child<QLineEdit>("PassWord")->isEnabled());
    EXPECT_FALSE(rig.child<QPushButton>("ButtFileADD")->isEnabled());
    rig.up().stop();
    rig.rows();
    EXPECT_TRUE(server->isEnabled());
    EXPECT_TRUE(rig.child<QPushButton>("ButtFileADD")->isEnabled());
}

// Not a check: with SKYVANE_SCREENSHOT_DIR set, saves the frame with a list,
// open and locked, so that a person can look at it.
TEST(UploadFrame, ScreenshotTour)
{
    const QString out = qEnvironmentVariable("SKYVANE_SCREENSHOT_DIR");
    if (out.isEmpty()) GTEST_SKIP() << "set SKYVANE_SCREENSHOT_DIR to save pictures";
    QDir().mkpath(out);
    FrameRig rig;
    rig.up().config().server = "ftp://ftp.example.org/";
    rig.up().config().serverPath = "www/sky/";
    rig.up().config().username = "observer";
    rig.up().config().password = "secret";
    rig.frame.addFiles({"/home/observer/skyvane/images/XOB_Wind.png", "/home/observer/skyvane/images/XOB_Temp.png",
                        "/home/observer/www/index.htm"});
    rig.child<QListWidget>("XOBFileList")->setCurrentRow(2);
    rig.child<QCheckBox>("UploadOnce")->click();
    rig.frame.refresh();
    rig.frame.adjustSize();
    rig.frame.show();
    QCoreApplication::processEvents();
    rig.frame.grab().save(out + "/upload-frame.png");
    rig.up().setUploaderProgram(rig.dir.filePath("no-such-uploader"));
    rig.up().start();
    rig.frame.refresh();
    QCoreApplication::processEvents();
    rig.frame.grab().save(out + "/upload-frame-locked.png");
    rig.up().stop();
}
