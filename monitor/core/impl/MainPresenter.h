#pragma once
// Turns what the core knows into what the main window shows: the status and
// code lines, the menus, the lamps, the flag's caption, the client-activity
// frame and the switch labels. It owns the MainState that every view draws;
// the core tells it what happened, never which label to colour.

#include "MainState.h"
#include "Safety.h"

#include <QStringList>
#include <functional>

namespace skyvane {

inline constexpr int kStatusMax = 60;

class MainPresenter {
public:
    // changed: run after every change of the state (the core's notify).
    explicit MainPresenter(std::function<void()> changed);

    MainState& state() { return state_; }
    const MainState& state() const { return state_; }

    // The status line keeps its first 60 characters.
    void showStatus(const QString& text, int colour);
    // The codes of the last check, then every standing code not among them.
    void showCodes(const QString& text, int colour);
    // A problem that lasts beyond one check (settings that can not be saved,
    // data lines that can not be written) keeps its code on the line until
    // it clears.
    void setStandingCode(const QString& code, bool on);
    bool hasStandingCode(const QString& code) const { return standingCodes_.contains(code); }

    // A lamp pair blinks: a colour goes to the lamp that was grey, grey to
    // the other; grey puts both out.
    static void blinkLED(LampPair& pair, int colour);

    // Start, Stop, Exit and Update follow monitoring and the attached
    // clients; Restore and Minimize the window.
    void showRunMenus(bool minimized);
    void enableSetupControls(bool on);
    void enableReadSettings(bool on);
    void showFlag(const conditions::UnsafeFlagDisplay& display);
    void showSwitchLabels(bool on);
    // A client took control (text shown) or gave it back (empty text).
    void showClientControl(bool taken, const QString& text);
    // The attached clients changed by delta: the count, the activity frame
    // (shown from the first client on, its counters from zero), Stop.
    void showClients(int delta, qint64 nowMs, bool minimized);
    // A client called: the lamp blinks and the calls are counted; with
    // showPeriod the seconds since the last such call are shown.
    void showClientCall(int colour, bool showPeriod, qint64 nowMs);

private:
    std::function<void()> changed_;
    MainState state_;
    QStringList standingCodes_;
    QString checkCodes_;
    int clientCalls_ = 0;
    qint64 clientPeriodStartMs_ = 0;
};

} // namespace skyvane
