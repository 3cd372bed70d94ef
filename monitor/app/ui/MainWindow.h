#pragma once
// The main window XOBSVMainform: draws the monitor's state and hands the
// user's actions to MonitorApi. No decision is taken here.

#include "MainState.h"

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <array>

class QAction;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QMenu;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QGroupBox;
class XOBGetNumber;

namespace skyvane {

class ConditionsTabs;
class LampWidget;
class MonitorApi;
namespace conditions { class SoundPlayer; }
namespace outputs { class GraphPanel; }
struct LabelState;

// Help context of F1 for the selected tabs.
int helpContext(int tab1, int tab3);

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // player: the alarm sound output the sound chooser previews with.
    explicit MainWindow(MonitorApi& core, conditions::SoundPlayer* player = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Creates the tray icon (when the platform has a tray).
    void registerTrayIcon();
    QSystemTrayIcon* trayIcon() const { return tray_; }
    QMenu* trayMenu() const { return trayMenu_; }

    // Window state and position as clients see them.
    void restoreFromTray();
    void minimizeToTray();
    QPoint positionTwips() const;
    void moveToTwips(const QPoint& twips);

    // Window position: restored at load, saved at unload (not when
    // minimised). Stored in twips like the settings have always been.
    void restorePosition();
    void savePosition();

    // Redraws everything from the core's state.
    void render();
    // Closes for real after the core accepted (used by Exit).
    void exitProgram();
    // The end of the program that can not be refused (a termination signal,
    // the end of the session): monitoring stops and the unload sequence runs
    // even while clients are attached, then the event loop ends. Runs once.
    void unloadNow();
    // Writes the position and every setting now (the session asks before it ends).
    void saveSettings();
    bool unloaded() const { return unloading_; }
    outputs::GraphPanel* graphPanel() const { return graphPanel_; }

protected:
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void build();
    QWidget* buildCurrentValues();
    QWidget* buildStationTab();
    QWidget* buildSensorTab();
    QWidget* buildFilesTab();
    QWidget* buildRecordFiles();
    void renderRecordFiles();
    void chooseRecordColumns();
    void buildMenus();
    void bindConfig();
    void pullConfig();
    void showHelp();
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void scheduleRender();
    static void apply(QLabel* l, const LabelState& s, bool background = false);

    MonitorApi& core_;
    bool unloading_ = false;
    bool rendering_ = false;
    bool renderPending_ = false;

    // controls, named as the monitor has always named them
    QPushButton* buttStart_ = nullptr;
    QPushButton* buttStop_ = nullptr;
    QCheckBox* flgReadStation_ = nullptr;
    QCheckBox* flgUpload_ = nullptr;
    QComboBox* refreshRead_ = nullptr;
    QLabel* statusbar1_ = nullptr;
    QLabel* statusbar2_ = nullptr;
    LampWidget* ledRead_ = nullptr;
    LampWidget* ledUpload_ = nullptr;
    LampWidget* ledUnsafe_ = nullptr;
    LampWidget* ledCom_ = nullptr;
    std::array<QLabel*, 3> label0_{};
    QLabel* lValCloud_ = nullptr;
    QLabel* lValRain_ = nullptr;
    QLabel* lValBrightness_ = nullptr;
    QLabel* lValTemperature_ = nullptr;
    std::array<QLabel*, 8> lCond_{};
    std::array<QLabel*, 6> stationName_{};
    QLabel* lValWind_ = nullptr;
    QLabel* lValGust_ = nullptr;
    QLabel* lValDir_ = nullptr;
    QLabel* lValDew_ = nullptr;
    QLabel* lValHum_ = nullptr;
    QLabel* unsafeFlag_ = nullptr;
    std::array<QLabel*, 10> playAlarm_{};
    QPushButton* buttStopAlarm_ = nullptr;
    ConditionsTabs* conditionsTabs_ = nullptr;
    conditions::SoundPlayer* player_ = nullptr;
    QLabel* lastReading_ = nullptr;   // Label3(0)
    QLabel* stationTime_ = nullptr;   // Label3(2)
    QLabel* lastReadingPanel_ = nullptr; // Label3(3)
    QLabel* npAlarmMsg_ = nullptr;
    QLabel* safeDelayMsg_ = nullptr;
    QLabel* lblStatus_ = nullptr;
    QLabel* wsAlarmMsg_ = nullptr;
    QLabel* lblSwitch_ = nullptr;
    QLabel* lValSwitch_ = nullptr;
    QLabel* label5_ = nullptr;
    QTabWidget* ssTab1_ = nullptr;
    std::array<QLabel*, kStationLabels> wsDesc_{};
    std::array<QLabel*, kStationLabels> wsValue_{};
    // sensor tab
    XOBGetNumber* npTimeout_ = nullptr;
    QRadioButton* swRole_[2] = {};
    QCheckBox* emulatorFlag_ = nullptr;
    QGroupBox* frameCom_ = nullptr;
    QLabel* comCalls_ = nullptr;
    QLabel* comPeriod_ = nullptr;
    QLabel* lblUsers_ = nullptr;
    // files tab
    QLabel* htmFile_ = nullptr;
    QPushButton* buttHtmPath_ = nullptr;
    XOBGetNumber* timeoutRead_ = nullptr;
    QRadioButton* dateFormat_[2] = {};
    QLabel* lblPathName_ = nullptr;
    QLabel* graphImagePath_ = nullptr;
    std::array<QCheckBox*, 6> graphImage_{};
    QList<QWidget*> setupControls_;
    // the six graphs beside the station values
    outputs::GraphPanel* graphPanel_ = nullptr;
    // record files: the Record frame, the user data file and the CCDAutopilot file
    QRadioButton* recOption_[2] = {};
    QLineEdit* fileName_ = nullptr;
    XOBGetNumber* saveFreq_ = nullptr;
    QPushButton* buttPath_ = nullptr;
    QPushButton* buttFileStructure_ = nullptr;
    QPushButton* buttCcdap4_ = nullptr;
    QLabel* lblPathNameCcdap4_ = nullptr;
    QLineEdit* fileNameCcdap4_ = nullptr;

    // menus
    QAction* mnuStart_ = nullptr;
    QAction* mnuStop_ = nullptr;
    QAction* mSep0_ = nullptr;
    QAction* mnuExit_ = nullptr;
    QAction* mnuUpdate_ = nullptr;
    QAction* mPopStart_ = nullptr;
    QAction* mPopStop_ = nullptr;
    QAction* mSep1_ = nullptr;
    QAction* mPopRestore_ = nullptr;
    QAction* mPopMinimize_ = nullptr;
    QAction* mPopExit_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
};

} // namespace skyvane
