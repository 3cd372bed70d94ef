#include "UpdaterWindow.h"

#include "Format.h"
#include "UpdateRun.h"

#include <QCloseEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace skyvane::updater {

UpdaterWindow::UpdaterWindow(UpdateRun& run, QWidget* parent) : QWidget(parent), run_(run)
{
    setObjectName(QStringLiteral("XOB_UpdaterMain"));
    auto* layout = new QVBoxLayout(this);
    msgList_ = new QListWidget(this);
    msgList_->setObjectName(QStringLiteral("MsgList"));
    msgList_->setMinimumSize(420, 180);
    layout->addWidget(msgList_);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("Progressbar"));
    progress_->setRange(0, 100);
    progress_->setTextVisible(true);
    progress_->setVisible(false);
    layout->addWidget(progress_);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("ButCancel"));
    cancel_->setEnabled(false);
    layout->addWidget(cancel_, 0, Qt::AlignRight);

    connect(cancel_, &QPushButton::clicked, this, [this] { requestCancel(); });
    connect(&run_, &UpdateRun::cancellableChanged, this, [this](bool can) {
        if (!can) cancel_->setEnabled(false);
    });
    connect(&run_, &UpdateRun::message, this, &UpdaterWindow::addMessage);
    connect(&run_, &UpdateRun::progress, this, &UpdaterWindow::showProgress);
    connect(&run_, &UpdateRun::progressVisible, progress_, &QWidget::setVisible);
    connect(&run_, &UpdateRun::finished, this, [this] {
        cancel_->setEnabled(false);
        closeAllowed_ = true;
        close();
        emit done();
    });
}

void UpdaterWindow::begin()
{
    const HandOver& h = run_.handOver();
    setWindowTitle(h.caption.left(80) + QStringLiteral(" Updater (") + versionText() + QLatin1Char(')'));
    if (run_.loaded() && (h.left != 0 || h.top != 0)) move(h.left, h.top);
    msgList_->clear();
    QTimer::singleShot(200, this, [this] {
        cancel_->setEnabled(run_.cancellable() && !cancelRequested_);
        run_.run();
    });
}

void UpdaterWindow::requestCancel()
{
    if (!run_.cancellable()) return;
    if (!cancelRequested_) addMessage(QStringLiteral("Cancelling..."));
    cancelRequested_ = true;
    cancel_->setEnabled(false);
    run_.cancel();
}

void UpdaterWindow::closeEvent(QCloseEvent* event)
{
    // Closing the window is a Cancel: the window stays until the run has put
    // everything back, so that the monitor is started again in every case.
    if (closeAllowed_ || run_.isFinished()) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    requestCancel();
}

void UpdaterWindow::addMessage(const QString& text)
{
    msgList_->addItem(text);
    msgList_->setCurrentRow(msgList_->count() - 1);
}

void UpdaterWindow::showProgress(qint64 received, qint64 expected)
{
    const int percent = expected > 0 ? int(qMin<qint64>(100, received * 100 / expected)) : 0;
    progress_->setValue(percent);
    progress_->setFormat(format::number(double(received), QStringLiteral("#,##0")) + QStringLiteral(" bytes"));
}

} // namespace skyvane::updater
