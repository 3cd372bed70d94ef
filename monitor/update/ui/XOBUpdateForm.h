#pragma once
// XOBUpdateForm ("Update module"): Check asks the update server, the frame
// then shows the installed and the newest version, and Update hands over to
// the updater.

#include <QDialog>
#include <functional>

class QGroupBox;
class QLabel;
class QPushButton;

namespace skyvane {
class SettingsStore;
}

namespace skyvane::update {

class UpdateCheck;

class XOBUpdateForm : public QDialog {
    Q_OBJECT
public:
    XOBUpdateForm(SettingsStore& store, const QString& programDir, const QString& programFile, QWidget* parent = nullptr);
    ~XOBUpdateForm() override;

    UpdateCheck& check() { return *check_; }
    // The yes/no question (a message box by default); true for Yes.
    void setAsker(std::function<bool(const QString&)> fn) { asker_ = std::move(fn); }
    // NewsShow for news of more than two characters.
    void setNewsShower(std::function<void(const QString&)> fn) { newsShower_ = std::move(fn); }
    bool updateRequested() const { return updateRequested_; }

signals:
    void checkFinished();

private:
    void runCheck();
    void checkDone();
    void doUpdate();
    void cancel();

    std::unique_ptr<UpdateCheck> check_;
    std::function<bool(const QString&)> asker_;
    std::function<void(const QString&)> newsShower_;
    bool updateRequested_ = false;
    QString programDir_;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QLabel* label3_ = nullptr;
    QGroupBox* frame1_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QPushButton* command5_ = nullptr;
    QPushButton* command4_ = nullptr;
};

// The menu entry: the form centred on the main window, shown modally; when
// it closes either the updater is started (true: the monitor must now end so
// that its files can be replaced) or the hand-over file is removed.
// launch starts a program (detached); the default does so for real. mayEnd
// is asked first: a monitor that may not end now (clients attached) starts
// no updater.
bool runUpdateCheck(QWidget* mainWindow, SettingsStore& store, const QString& programDir, const QString& programFile,
                    std::function<bool(const QString&)> launch = {}, const std::function<bool()>& mayEnd = {});

// The start-up tick: pending news in its window, then the last update's
// result once (lastUpdateMsg is cleared, so the empty text is saved).
void startupTick(QWidget* mainWindow, SettingsStore& store, const QString& news, QString& lastUpdateMsg,
                 const std::function<void(const QString&)>& showMessage);

} // namespace skyvane::update
