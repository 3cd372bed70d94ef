#pragma once
// ResetForm: one row per reset group, each with its "Reset" button; the
// buttons act at once, without asking, and say what they did.

#include "ResetParameters.h"

#include <QWidget>
#include <functional>

namespace skyvane {
class SettingsStore;
}

namespace skyvane::reset {

class ResetForm : public QWidget {
    Q_OBJECT
public:
    // message: shows a text with an OK button (a message box by default).
    explicit ResetForm(SettingsStore& store, QWidget* parent = nullptr);
    void setMessenger(std::function<void(const QString&)> fn) { messenger_ = std::move(fn); }
    // Centres the window on its screen.
    void centre();

private:
    void reset(Group g);
    SettingsStore& store_;
    std::function<void(const QString&)> messenger_;
};

} // namespace skyvane::reset
