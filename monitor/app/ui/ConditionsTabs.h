#pragma once
// The "Conditions" and "Alarms" tabs of the main window: thresholds, level
// descriptions and colours, unsafe marks, direction sectors, units, the safe
// delay, and the alarm boxes with their sounds. They edit the conditions
// settings the monitor core uses; nothing is decided here.

#include "ConditionTypes.h"

#include <QObject>
#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QRadioButton;
class QWidget;
class XOBGetNumber;

namespace skyvane {

class MonitorApi;
namespace conditions { class SoundPlayer; }

class ConditionsTabs : public QObject {
    Q_OBJECT
public:
    ConditionsTabs(MonitorApi& core, conditions::SoundPlayer* player, QWidget* owner);

    QWidget* conditionsTab() const { return conditionsTab_; }
    QWidget* alarmsTab() const { return alarmsTab_; }
    // Frame3: the alarm settings, hidden while a client has control.
    QGroupBox* alarmFrame() const { return frame3_; }
    QCheckBox* alarmNp() const { return alarmNp_; }
    QCheckBox* npDataOldUnsafe() const { return npDataOldUnsafe_; }
    QLabel* timeoutAlarmLabel() const { return label1_20_; }

    // Redraws from the core's settings.
    void render();
    // Locks the editors while monitoring runs.
    void setEditable(bool on);

private:
    QWidget* buildConditions();
    QWidget* buildAlarms();
    void editStyle(conditions::Quantity q, int index);
    void editSector(conditions::Quantity q, int index);
    // The check of a threshold field as the user leaves it: a value out of
    // order is refused with the message and the focus stays in the field;
    // an accepted value is stored.
    void checkThreshold(conditions::Quantity q, int index, bool& cancel);
    void chooseSound(conditions::Quantity q, int index);
    void chooseStaleSound(bool station);
    bool eventFilter(QObject* o, QEvent* e) override;

    MonitorApi& core_;
    conditions::SoundPlayer* player_;
    QWidget* owner_;
    bool rendering_ = false;
    QWidget* conditionsTab_ = nullptr;
    QWidget* alarmsTab_ = nullptr;
    QGroupBox* frame3_ = nullptr;

    using Row3Spin = std::array<XOBGetNumber*, 3>;
    using Row3Label = std::array<QLabel*, 3>;
    using Row3Check = std::array<QCheckBox*, 3>;
    std::array<Row3Spin, conditions::kQuantityCount> limits_{};
    std::array<Row3Label, conditions::kQuantityCount> styles_{};
    std::array<Row3Check, conditions::kQuantityCount> marks_{};
    std::array<Row3Check, conditions::kQuantityCount> alarms_{};
    std::array<QLabel*, 3> windSectors_{};
    std::array<QLabel*, 3> gustSectors_{};
    std::array<QRadioButton*, 2> unitsTemp_{};
    std::array<QRadioButton*, 4> unitsSpeed_{};
    XOBGetNumber* safeDelay_ = nullptr;
    QCheckBox* wsDataOldUnsafe_ = nullptr;
    QCheckBox* npDataOldUnsafe_ = nullptr;
    QCheckBox* alarmWs_ = nullptr;
    QCheckBox* alarmNp_ = nullptr;
    QLabel* label1_20_ = nullptr;
    QCheckBox* suspend_ = nullptr;
    QList<QWidget*> editors_;
};

} // namespace skyvane
