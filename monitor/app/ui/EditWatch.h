#pragma once
// Every edit a person makes in any window of the program reaches the disk
// within a second, through the core's one change notification.
//
// Windows change the configuration in many ways (a field left, a dialog's
// OK, a folder chosen, a colour picked) and a list of them would always miss
// the next one. So the watch does not know the windows: after any input a
// person makes (a click, a key, a wheel turn, leaving a field, a dialog that
// closes) it tells the core that settings may have changed. The core then
// compares what it holds with what the store holds and writes only a real
// change, so a touch that changed nothing costs a comparison.

#include <QObject>

namespace skyvane {

class MonitorApi;

class EditWatch : public QObject {
public:
    // Watches every window of the application from now until destroyed.
    explicit EditWatch(MonitorApi& core, QObject* parent = nullptr);
    ~EditWatch() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MonitorApi& core_;
};

} // namespace skyvane
