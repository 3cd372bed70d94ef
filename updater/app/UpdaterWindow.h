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

signals:
    void done();

private:
    void addMessage(const QString& text);
    void showProgress(qint64 received, qint64 expected);

    UpdateRun& run_;
    QListWidget* msgList_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace skyvane::updater
