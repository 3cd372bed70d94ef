#include "MainPresenter.h"

#include "Format.h"
#include "MonitorConfig.h"

namespace skyvane {

MainPresenter::MainPresenter(std::function<void()> changed) : changed_(std::move(changed))
{
    const char* stationNames[6] = {"Wind", "Gust", "Direction", "DewPoint", "Humidity", "Temperature"};
    for (int i = 0; i < 6; ++i) state_.stationNames[i] = {QString::fromLatin1(stationNames[i]), colour::Red, true};
    state_.caption = titleText();
    state_.controlText.text = QStringLiteral("External program has control");
    state_.controlText.visible = false;
    state_.lblSwitch.visible = false;
    state_.valSwitch.visible = false;
    const char* names[3] = {"Cloud", "Rain", "Brightness"};
    for (int i = 0; i < 3; ++i) state_.sensorNames[i] = {QString::fromLatin1(names[i]), colour::Cyan, true};
    state_.users = QStringLiteral("Attached Users: 0");
}

void MainPresenter::showStatus(const QString& text, int c)
{
    state_.status.text = text.left(kStatusMax);
    state_.status.colour = c;
    changed_();
}

void MainPresenter::showCodes(const QString& text, int c)
{
    checkCodes_ = text;
    QString shown = text;
    for (const QString& code : std::as_const(standingCodes_))
        if (!shown.split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(code))
            shown = shown.trimmed().isEmpty() ? code : shown.trimmed() + QLatin1Char(' ') + code;
    state_.codes.text = shown;
    state_.codes.colour = c;
    changed_();
}

void MainPresenter::setStandingCode(const QString& code, bool on)
{
    if (standingCodes_.contains(code) == on) return;
    if (on) standingCodes_ << code;
    else standingCodes_.removeAll(code);
    showCodes(checkCodes_, colour::Red);
}

void MainPresenter::blinkLED(LampPair& pair, int c)
{
    if (c == colour::Grey) {
        pair = {colour::Grey, colour::Grey};
    } else if (pair.c0 == colour::Grey) {
        pair.c0 = c;
        pair.c1 = colour::Grey;
    } else {
        pair.c0 = colour::Grey;
        pair.c1 = c;
    }
}

void MainPresenter::showRunMenus(bool minimized)
{
    MenuState& m = state_.menus;
    m.restoreEnabled = minimized;
    m.minimizeEnabled = !minimized;
    if (state_.clients > 0) {
        m.startVisible = false;
        m.stopVisible = false;
        m.separatorsVisible = false;
        m.updateEnabled = false;
        m.exitEnabled = false;
    } else {
        m.startVisible = !state_.running;
        m.stopVisible = state_.running;
        m.updateEnabled = !state_.running;
        m.exitEnabled = true;
        m.separatorsVisible = true;
    }
    m.closeEnabled = state_.clients == 0;
    changed_();
}

void MainPresenter::enableSetupControls(bool on)
{
    state_.setupEnabled = on;
    state_.startEnabled = on;
    changed_();
}

void MainPresenter::enableReadSettings(bool on)
{
    state_.readSettingsEnabled = on;
    changed_();
}

void MainPresenter::showFlag(const conditions::UnsafeFlagDisplay& d)
{
    state_.ledUnsafe = d.lampColour;
    state_.unsafeFlag.text = d.caption;
    state_.unsafeFlag.colour = d.lampColour;
    changed_();
}

void MainPresenter::showSwitchLabels(bool on)
{
    state_.lblSwitch.visible = on;
    state_.valSwitch.visible = on;
    changed_();
}

void MainPresenter::showClientControl(bool taken, const QString& text)
{
    state_.controlText.text = text;
    state_.controlText.visible = !text.isEmpty();
    // While a client decides, the alarm boxes are its business.
    state_.alarmFrameVisible = !taken;
    changed_();
}

void MainPresenter::showClients(int delta, qint64 nowMs, bool minimized)
{
    state_.clients += delta;
    if (state_.clients < 0) state_.clients = 0;
    state_.users = QStringLiteral("Attached Users: ") + format::number(state_.clients, QStringLiteral("#0"));
    if (state_.clients != 0) {
        if (state_.clients == 1 && delta == 1) {
            clientPeriodStartMs_ = nowMs;
            clientCalls_ = 0;
            state_.comCalls.clear();
            state_.comPeriod.clear();
            state_.stopVisible = false;
            state_.comFrameVisible = true;
        }
    } else {
        state_.comFrameVisible = false;
        state_.stopVisible = true;
    }
    showRunMenus(minimized);
}

void MainPresenter::showClientCall(int c, bool showPeriod, qint64 nowMs)
{
    clientCalls_ = clientCalls_ >= 9999 ? 0 : clientCalls_ + 1;
    state_.comCalls = QString::number(clientCalls_);
    blinkLED(state_.ledCom, c);
    if (showPeriod) {
        state_.comPeriod = QString::number((nowMs - clientPeriodStartMs_) / 1000) + QStringLiteral("s");
        clientPeriodStartMs_ = nowMs;
    }
    changed_();
}

} // namespace skyvane
