#include "XOBUpdateForm.h"

#include "SettingsStore.h"
#include "UpdateCheck.h"
#include "XOBDispNews.h"

#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

namespace skyvane::update {

XOBUpdateForm::XOBUpdateForm(SettingsStore& store, const QString& programDir, const QString& programFile, QWidget* parent)
    : QDialog(parent), check_(std::make_unique<UpdateCheck>(store, programDir, programFile)), programDir_(programDir)
{
    setObjectName(QStringLiteral("XOBUpdateForm"));
    setWindowTitle(QStringLiteral("Update module"));
    check_->readSettings();
    asker_ = [this](const QString& text) {
        return QMessageBox::question(this, windowTitle(), text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    newsShower_ = [&store, this](const QString& news) {
        auto* w = new XOBDispNews(store, parentWidget());
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->newsShow(news);
    };

    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    command1_ = new QPushButton(QStringLiteral("Check"), this);
    command1_->setObjectName(QStringLiteral("Command1"));
    command2_ = new QPushButton(QStringLiteral("Cancel"), this);
    command2_->setObjectName(QStringLiteral("Command2"));
    buttons->addWidget(command1_);
    buttons->addWidget(command2_);
    layout->addLayout(buttons);
    label3_ = new QLabel(this);
    label3_->setObjectName(QStringLiteral("Label3"));
    label3_->setTextFormat(Qt::PlainText);
    label3_->setWordWrap(true);
    label3_->setMinimumWidth(340);
    layout->addWidget(label3_);

    frame1_ = new QGroupBox(this);
    frame1_->setObjectName(QStringLiteral("Frame1"));
    auto* grid = new QGridLayout(frame1_);
    grid->addWidget(new QLabel(QStringLiteral("Installed version"), frame1_), 0, 0);
    label1_ = new QLabel(frame1_);
    label1_->setObjectName(QStringLiteral("Label1"));
    grid->addWidget(label1_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Newer version"), frame1_), 1, 0);
    label2_ = new QLabel(frame1_);
    label2_->setObjectName(QStringLiteral("Label2"));
    label2_->setTextFormat(Qt::PlainText);
    grid->addWidget(label2_, 1, 1);
    command5_ = new QPushButton(QStringLiteral("Update"), frame1_);
    command5_->setObjectName(QStringLiteral("Command5"));
    command4_ = new QPushButton(QStringLiteral("Cancel"), frame1_);
    command4_->setObjectName(QStringLiteral("Command4"));
    grid->addWidget(command5_, 2, 0);
    grid->addWidget(command4_, 2, 1);
    layout->addWidget(frame1_);
    frame1_->setVisible(false);

    connect(command1_, &QPushButton::clicked, this, &XOBUpdateForm::runCheck);
    connect(command2_, &QPushButton::clicked, this, &XOBUpdateForm::cancel);
    connect(command4_, &QPushButton::clicked, this, [this] {
        frame1_->setVisible(false);
        cancel();
    });
    connect(command5_, &QPushButton::clicked, this, &XOBUpdateForm::doUpdate);
    connect(check_.get(), &UpdateCheck::status, label3_, &QLabel::setText);
    connect(check_.get(), &UpdateCheck::finished, this, &XOBUpdateForm::checkDone);
}

XOBUpdateForm::~XOBUpdateForm() = default;

void XOBUpdateForm::runCheck()
{
    command1_->setEnabled(false);
    const QPoint p = pos();
    check_->setWindowPosition(p.x(), p.y());
    check_->start();
}

void XOBUpdateForm::checkDone()
{
    label1_->setText(installedVersionText());
    label2_->setText(check_->version());
    if (!check_->programDirWritable()) {
        // A system-wide install: its package manager updates it, not we.
        label3_->setText(QStringLiteral("The program folder %1 can not be written by this user (a system-wide "
                                        "installation). Update XOB_Skyvane with the system's package manager.")
                             .arg(programDir_));
        command5_->setEnabled(false);
    } else if (!check_->handOverWritten()) {
        label3_->setText(label3_->text() + QStringLiteral(": no update description, nothing to download"));
        command5_->setEnabled(false);
    } else {
        command5_->setEnabled(true);
    }
    frame1_->setVisible(true);
    adjustSize();
    command1_->setEnabled(true);
    if (check_->news().size() > 2 && newsShower_) newsShower_(check_->news());
    emit checkFinished();
}

void XOBUpdateForm::doUpdate()
{
    if (!command5_->isEnabled()) return;
    if (label1_->text() == label2_->text()) {
        if (asker_(QStringLiteral("The lattest version already installed.") + QLatin1Char('\n')
                   + QStringLiteral(" Do you wish to download?")))
            updateRequested_ = true;
    } else {
        updateRequested_ = true;
    }
    frame1_->setVisible(false);
    accept();
}

void XOBUpdateForm::cancel()
{
    updateRequested_ = false;
    reject();
}

bool runUpdateCheck(QWidget* mainWindow, SettingsStore& store, const QString& programDir, const QString& programFile,
                    std::function<bool(const QString&)> launch, const std::function<bool()>& mayEnd)
{
    XOBUpdateForm form(store, programDir, programFile, mainWindow);
    form.adjustSize();
    if (mainWindow) {
        const QRect m = mainWindow->frameGeometry();
        form.move(m.left() + (m.width() - form.width()) / 2, m.top() + (m.height() - form.height()) / 2);
    }
    form.exec();
    const QString handOver = form.check().handOverFile();
    if (form.updateRequested() && QFile::exists(handOver) && (!mayEnd || mayEnd())) {
        if (!launch) launch = [&](const QString& p) { return QProcess::startDetached(p, {}, programDir); };
        if (launch(QDir(programDir).filePath(QStringLiteral("XOB_Updater")))) return true;
        qWarning("XOB_Skyvane: the updater could not be started");
    }
    QFile::remove(handOver);
    return false;
}

void startupTick(QWidget* mainWindow, SettingsStore& store, const QString& news, QString& lastUpdateMsg,
                 const std::function<void(const QString&)>& showMessage)
{
    if (!news.isEmpty()) {
        auto* w = new XOBDispNews(store, mainWindow);
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->newsShow(news);
    }
    if (!lastUpdateMsg.trimmed().isEmpty()) {
        const QString text = displayText(lastUpdateMsg, 500);
        lastUpdateMsg.clear();
        showMessage(text);
    }
}

} // namespace skyvane::update
