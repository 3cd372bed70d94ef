#include "XOBSoundForm.h"

#include <QCheckBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>

namespace skyvane::conditions {

XOBSoundForm::XOBSoundForm(const SoundChooserStart& start, SoundPlayer& player, QWidget* parent)
    : QDialog(parent), player_(player)
{
    setWindowTitle(tr("Alarm sound"));
    auto* layout = new QVBoxLayout(this);
    auto* lists = new QHBoxLayout;
    layout->addLayout(lists);

    dirs_ = new QFileSystemModel(this);
    dirs_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    dirs_->setRootPath(QDir::rootPath());
    dirView_ = new QTreeView(this);
    dirView_->setObjectName(QStringLiteral("Dir1"));
    dirView_->setModel(dirs_);
    for (int c = 1; c < dirs_->columnCount(); ++c) dirView_->hideColumn(c);
    dirView_->setHeaderHidden(true);
    lists->addWidget(dirView_);

    files_ = new QFileSystemModel(this);
    files_->setFilter(QDir::Files);
    files_->setNameFilters({QStringLiteral("*wav"), QStringLiteral("*.mp3"), QStringLiteral("*.mid"),
                            QStringLiteral("*.wma")});
    files_->setNameFilterDisables(false);
    fileView_ = new QListView(this);
    fileView_->setObjectName(QStringLiteral("File1"));
    fileView_->setModel(files_);
    lists->addWidget(fileView_);

    fileName_ = new QLineEdit(start.fileName, this);
    fileName_->setObjectName(QStringLiteral("FileName"));
    layout->addWidget(fileName_);
    loop_ = new QCheckBox(tr("Repeat"), this);
    loop_->setObjectName(QStringLiteral("CheckPlay1"));
    loop_->setChecked(start.loop);
    layout->addWidget(loop_);

    auto* buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    const auto button = [this, buttons](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    QPushButton* play = button("ButtPlay", tr("Play"));
    QPushButton* stop = button("ButtStop", tr("Stop"));
    QPushButton* clear = button("ButtClear", tr("Clear"));
    QPushButton* ok = button("ButtOK", tr("OK"));
    QPushButton* cancel = button("ButtCancel", tr("Cancel"));
    ok->setDefault(true);

    connect(dirView_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { setFolder(dirs_->filePath(current)); });
    connect(fileView_, &QListView::clicked, this, [this](const QModelIndex& index) {
        fileName_->setText(QDir(folder_).filePath(files_->fileName(index)));
    });
    connect(fileView_, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
        fileName_->setText(QDir(folder_).filePath(files_->fileName(index)));
        playSelected();
    });
    connect(play, &QPushButton::clicked, this, &XOBSoundForm::playSelected);
    connect(stop, &QPushButton::clicked, this, &XOBSoundForm::stopSound);
    connect(clear, &QPushButton::clicked, fileName_, &QLineEdit::clear);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    setFolder(start.folder);
}

XOBSoundForm::~XOBSoundForm() = default;

QString XOBSoundForm::folder() const { return folder_; }

void XOBSoundForm::setFolder(const QString& path)
{
    // A folder that no longer exists just leaves the lists empty.
    folder_ = path;
    if (path.isEmpty()) {
        fileView_->setRootIndex(files_->setRootPath(QString()));
        return;
    }
    const QModelIndex dirIndex = dirs_->index(path);
    if (dirIndex.isValid() && dirView_->currentIndex() != dirIndex) {
        dirView_->setCurrentIndex(dirIndex);
        dirView_->scrollTo(dirIndex);
    }
    fileView_->setRootIndex(files_->setRootPath(path));
}

void XOBSoundForm::playSelected()
{
    player_.stop();
    const QString f = fileName_->text().trimmed();
    if (!f.isEmpty()) player_.play(f, loop_->isChecked());
}

void XOBSoundForm::stopSound() { player_.stop(); }

void XOBSoundForm::done(int r)
{
    // However the chooser closes, a sound it started must not go on.
    player_.stop();
    QDialog::done(r);
}

SoundChoice XOBSoundForm::choice() const { return {fileName_->text().trimmed(), loop_->isChecked(), folder_}; }

std::optional<SoundChoice> XOBSoundForm::run(const SoundChooserStart& start, SoundPlayer& player, QWidget* parent)
{
    XOBSoundForm dlg(start, player, parent);
    if (parent) dlg.move(parent->frameGeometry().center() - dlg.rect().center());
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return dlg.choice();
}

AlarmController::ChooserRun XOBSoundForm::runner(SoundPlayer& player, QWidget* parent)
{
    return [&player, parent](const SoundChooserStart& start) { return run(start, player, parent); };
}

} // namespace skyvane::conditions
