#pragma once
// The uploader's only window: the log of the run in a list, the caption with
// the version or, while minimised, the progress; F6 stops the run.

#include "UploadRun.h"

#include <QWidget>

class QListWidget;
class QSocketNotifier;

namespace skyvane {

class UploaderWindow : public QWidget {
    Q_OBJECT
public:
    UploaderWindow(SettingsStore& store, UploadRun& run, QWidget* parent = nullptr);

    static QString normalCaption();
    // Restores state, size and position from the "Window" keys and shows.
    void restoreAndShow();
    void saveWindow();
    QListWidget* msgList() const { return msgList_; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void updateCaption();
    void addLine(const QString& line);

    SettingsStore& store_;
    UploadRun& run_;
    QListWidget* msgList_;
};

// True for the key that stops the run: F6 with no Shift, Ctrl or Alt.
bool isStopKey(int key, Qt::KeyboardModifiers mods);

} // namespace skyvane
