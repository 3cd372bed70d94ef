#pragma once
// XOB_UpdaterMain: the message list, the progress bar and Cancel of one
// updater run.

#include <QWidget>

class QListWidget;
class QProgressBar;
class QPushButton;

namespace skyvane::updater {

class UpdateRun;

class UpdaterWindow : public QWidget {
    Q_OBJECT
public:
    explicit UpdaterWindow(UpdateRun& run, QWidget* parent = nullptr);
    // Caption and position from the hand-over file, then the run starts
    // after 200 ms.
    void begin();
    // Cancel, as the button does (also the window's close button and a
    // termination signal).
    void requestCancel();

signals:
    void done();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void addMessage(const QString& text);
    void showProgress(qint64 received, qint64 expected);

    UpdateRun& run_;
    QListWidget* msgList_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool cancelRequested_ = false;
    bool closeAllowed_ = false;
};

} // namespace skyvane::updater
