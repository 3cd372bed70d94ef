#include "ConditionsTabs.h"

#include "LampWidget.h"
#include "MonitorApi.h"
#include "ThresholdRules.h"
#include "XOBCardinalPoints.h"
#include "XOBColor.h"
#include "XOBGetNumber.h"
#include "XOBSoundForm.h"
#include "XOBUnitSymbols.h"
#include "XOBWindPars.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace skyvane {

using conditions::Quantity;
using conditions::XOBCardinalPoints;
using conditions::XOBColor;
using conditions::XOBSoundForm;
using conditions::XOBUnitSymbols;
using conditions::XOBWindPars;

namespace {
struct QuantityInfo {
    const char* caption;
    const char* suffix;      // control names: LimitWind, ColorWind, ...
    const char* markSuffix;  // CondCloud, CondDay, ...
    const char* alarmSuffix; // AlarmCloud, AlarmDay, ...
    std::array<const char*, 3> sensorNames; // names of sensor-supplied levels
};

const QuantityInfo& info(Quantity q)
{
    static const QuantityInfo table[conditions::kQuantityCount] = {
        {"Cloud", "Cloud", "Cloud", "Cloud", {"Clear", "Cloudy", "Overcast"}},
        {"Rain", "Rain", "Rain", "Rain", {"Dry", "Wet", "Rain"}},
        {"Brightness", "Day", "Day", "Day", {"Dark", "Light", "Very Light"}},
        {"Wind", "Wind", "Wind", "Wind", {}},
        {"Gust", "Gust", "Gust", "Gust", {}},
        {"Temperature", "Temp", "Temp", "Temp", {}},
        {"Dew point", "Dew", "Dew", "Dew", {}},
        {"Humidity", "Hum", "Hum", "Hum", {}},
    };
    return table[size_t(q)];
}

// Threshold fields: whole numbers of up to four digits and one decimal
// (speeds and temperatures converted to another unit stay within them), three
// for humidity, which may not pass 100. Temperatures and the dew-point spread
// may be negative.
XOBGetNumber* thresholdField(Quantity q)
{
    auto* f = new XOBGetNumber;
    f->setDigitsMostSignificant(q == Quantity::Humidity ? 3 : 4);
    f->setDigitsDecimal(1);
    f->setAllowNegative(q == Quantity::Temperature || q == Quantity::DewPoint);
    f->setDisplayFormat(QStringLiteral("0.0"));
    f->setMaximumWidth(64);
    f->setAlignment(Qt::AlignRight);
    return f;
}

} // namespace

ConditionsTabs::ConditionsTabs(MonitorApi& core, conditions::SoundPlayer* player, QWidget* owner)
    : QObject(owner), core_(core), player_(player), owner_(owner)
{
    conditionsTab_ = buildConditions();
    alarmsTab_ = buildAlarms();
    render();
}

QWidget* ConditionsTabs::buildConditions()
{
    auto* w = new QWidget;
    auto* root = new QVBoxLayout(w);
    auto* g = new QGridLayout;
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(3);
    g->addWidget(new QLabel(QStringLiteral("<b>Quantity</b>")), 0, 0);
    for (int i = 0; i < 3; ++i) g->addWidget(new QLabel(QStringLiteral("<b>Level %1</b> (limit, name, unsafe)").arg(i + 1)), 0, 1 + i);
    int row = 1;
    for (Quantity q : conditions::kAllQuantities) {
        const QuantityInfo& qi = info(q);
        g->addWidget(new QLabel(QString::fromLatin1(qi.caption)), row, 0);
        for (int i = 0; i < 3; ++i) {
            auto* cell = new QHBoxLayout;
            cell->setSpacing(3);
            if (conditions::isLocallyClassified(q)) {
                XOBGetNumber* spin = thresholdField(q);
                spin->setObjectName(QStringLiteral("Limit%1_%2").arg(QString::fromLatin1(qi.suffix)).arg(i));
                spin->setToolTip(QStringLiteral("Upper limit of this level"));
                // The value counts when the field is left or Enter is pressed,
                // not on every key: "12.5" passes through "12." on its way,
                // and a limit out of order is refused there.
                connect(spin, &XOBGetNumber::validate, this,
                        [this, q, i](bool& cancel) { checkThreshold(q, i, cancel); });
                limits_[size_t(q)][i] = spin;
                editors_ << spin;
                cell->addWidget(spin);
            }
            auto* label = new QLabel;
            label->setObjectName(QStringLiteral("Color%1_%2").arg(QString::fromLatin1(qi.suffix)).arg(i));
            label->setAlignment(Qt::AlignCenter);
            label->setMinimumWidth(84);
            label->setFrameShape(QFrame::Panel);
            label->setFrameShadow(QFrame::Sunken);
            if (conditions::isLocallyClassified(q)) {
                label->setToolTip(QStringLiteral("Right-click to change the name and colour"));
                label->setProperty("xobQuantity", int(q));
                label->setProperty("xobIndex", i);
                label->installEventFilter(this);
            }
            styles_[size_t(q)][i] = label;
            cell->addWidget(label, 1);
            auto* mark = new QCheckBox;
            mark->setObjectName(QStringLiteral("Cond%1_%2").arg(QString::fromLatin1(qi.markSuffix)).arg(i));
            mark->setToolTip(QStringLiteral("This level is unsafe"));
            connect(mark, &QCheckBox::toggled, this, [this, q, i](bool on) {
                if (rendering_) return;
                core_.editConditions([q, i, on](conditions::ConditionsConfig& c) { c.safety.unsafeMarks[q][i] = on; });
            });
            marks_[size_t(q)][i] = mark;
            editors_ << mark;
            cell->addWidget(mark);
            g->addLayout(cell, row, 1 + i);
        }
        ++row;
    }
    root->addLayout(g);

    auto* bottom = new QHBoxLayout;
    auto* sectors = new QGroupBox(QStringLiteral("Unsafe direction sectors (from  to  minutes)"));
    auto* sg = new QGridLayout(sectors);
    for (int i = 0; i < 3; ++i) {
        windSectors_[i] = new QLabel;
        windSectors_[i]->setObjectName(QStringLiteral("DirectionWind_%1").arg(i));
        gustSectors_[i] = new QLabel;
        gustSectors_[i]->setObjectName(QStringLiteral("DirectionGust_%1").arg(i));
        for (QLabel* l : {windSectors_[i], gustSectors_[i]}) {
            l->setFont(QFont(QStringLiteral("monospace")));
            l->setFrameShape(QFrame::Panel);
            l->setFrameShadow(QFrame::Sunken);
            l->setTextInteractionFlags(Qt::NoTextInteraction);
            l->setToolTip(QStringLiteral("Right-click to edit the sector"));
            l->setProperty("xobSector", l == windSectors_[i] ? int(Quantity::Wind) : int(Quantity::Gust));
            l->setProperty("xobIndex", i);
            l->installEventFilter(this);
        }
        sg->addWidget(windSectors_[i], 0, 1 + i);
        sg->addWidget(gustSectors_[i], 1, 1 + i);
    }
    sg->addWidget(new QLabel(QStringLiteral("Wind")), 0, 0);
    sg->addWidget(new QLabel(QStringLiteral("Gust")), 1, 0);
    bottom->addWidget(sectors);

    auto* units = new QGroupBox(QStringLiteral("Units"));
    auto* ul = new QGridLayout(units);
    const char* temps[2] = {"°C", "°F"};
    for (int i = 0; i < 2; ++i) {
        unitsTemp_[i] = new QRadioButton(QString::fromUtf8(temps[i]));
        unitsTemp_[i]->setObjectName(QStringLiteral("UnitsTemp_%1").arg(i));
        ul->addWidget(unitsTemp_[i], 0, i);
        connect(unitsTemp_[i], &QRadioButton::clicked, this, [this, i] {
            core_.selectTemperatureUnit(i == 0 ? conditions::TemperatureUnit::Celsius : conditions::TemperatureUnit::Fahrenheit);
        });
        editors_ << unitsTemp_[i];
    }
    const char* speeds[4] = {"km/h", "mph", "m/s", "knot"};
    auto* speedRow = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        unitsSpeed_[i] = new QRadioButton(QString::fromLatin1(speeds[i]));
        unitsSpeed_[i]->setObjectName(QStringLiteral("UnitsSpeed_%1").arg(i));
        speedRow->addWidget(unitsSpeed_[i]);
        connect(unitsSpeed_[i], &QRadioButton::clicked, this, [this, i] {
            core_.selectSpeedUnit(*conditions::speedUnitFromOption(i));
        });
        editors_ << unitsSpeed_[i];
    }
    ul->addLayout(speedRow, 1, 0, 1, 4);
    auto* symbols = new QPushButton(QStringLiteral("Unit symbols…"));
    symbols->setObjectName(QStringLiteral("ButtUnitSymbols"));
    connect(symbols, &QPushButton::clicked, this, [this] {
        XOBUnitSymbols d(core_.conditionsConfig().units.spellings, owner_);
        if (d.exec() == QDialog::Accepted) core_.editConditions([&](conditions::ConditionsConfig& c) { c.units.spellings = d.result(); });
    });
    auto* compass = new QPushButton(QStringLiteral("Compass points…"));
    compass->setObjectName(QStringLiteral("ButtCardinal"));
    connect(compass, &QPushButton::clicked, this, [this] {
        XOBCardinalPoints d(core_.conditionsConfig().compass, owner_);
        if (d.exec() == QDialog::Accepted) core_.editConditions([&](conditions::ConditionsConfig& c) { c.compass = d.result(); });
    });
    editors_ << symbols << compass;
    ul->addWidget(symbols, 0, 2);
    ul->addWidget(compass, 0, 3);
    bottom->addWidget(units);

    auto* delayBox = new QGroupBox(QStringLiteral("Safe delay"));
    auto* dl = new QHBoxLayout(delayBox);
    safeDelay_ = new XOBGetNumber;
    safeDelay_->setObjectName(QStringLiteral("SafeDelayVal"));
    safeDelay_->setDigitsMostSignificant(5);
    safeDelay_->setDigitsDecimal(0);
    safeDelay_->setMaximumWidth(64);
    safeDelay_->setAlignment(Qt::AlignRight);
    safeDelay_->setToolTip(QStringLiteral("How long the sky must stay safe before SAFE is reported"));
    connect(safeDelay_, &XOBGetNumber::validate, this, [this](bool&) {
        if (!safeDelay_->isUserEdited()) return;
        safeDelay_->clearUserEdited();
        const double seconds = safeDelay_->value();
        core_.editConditions([seconds](conditions::ConditionsConfig& c) { c.safety.safeDelaySeconds = seconds; });
    });
    editors_ << safeDelay_;
    dl->addWidget(safeDelay_);
    dl->addWidget(new QLabel(QStringLiteral("s")));
    bottom->addWidget(delayBox);
    root->addLayout(bottom);
    root->addStretch();
    return w;
}

QWidget* ConditionsTabs::buildAlarms()
{
    auto* w = new QWidget;
    auto* root = new QVBoxLayout(w);
    frame3_ = new QGroupBox(QStringLiteral("Alarms (right-click a box to choose its sound)"));
    frame3_->setObjectName(QStringLiteral("Frame3"));
    auto* g = new QGridLayout(frame3_);
    int row = 0;
    for (Quantity q : conditions::kAlarmOrder) {
        const QuantityInfo& qi = info(q);
        g->addWidget(new QLabel(QString::fromLatin1(qi.caption)), row, 0);
        for (int i = 0; i < 3; ++i) {
            auto* box = new QCheckBox;
            box->setObjectName(QStringLiteral("Alarm%1_%2").arg(QString::fromLatin1(qi.alarmSuffix)).arg(i));
            box->setProperty("xobQuantity", int(q));
            box->setProperty("xobIndex", i);
            box->installEventFilter(this);
            connect(box, &QCheckBox::clicked, this, [this, q, i, box](bool on) {
                bool armed = false;
                core_.editConditions([&](conditions::ConditionsConfig& c) { armed = c.alarms.boxes[q][i].setArmed(on); });
                // An alarm without a sound can not be armed: ask for one.
                if (!armed) chooseSound(q, i);
                box->setChecked(core_.conditionsConfig().alarms.boxes[q][i].armed());
            });
            alarms_[size_t(q)][i] = box;
            g->addWidget(box, row, 1 + i);
        }
        ++row;
    }
    alarmWs_ = new QCheckBox(QStringLiteral("Weather-station data too old"));
    alarmWs_->setObjectName(QStringLiteral("AlarmWS"));
    alarmWs_->installEventFilter(this);
    connect(alarmWs_, &QCheckBox::clicked, this, [this](bool on) {
        bool armed = false;
        core_.editConditions([&](conditions::ConditionsConfig& c) { armed = c.alarms.stationData.setArmed(on); });
        if (!armed) chooseStaleSound(true);
        alarmWs_->setChecked(core_.conditionsConfig().alarms.stationData.armed());
    });
    wsDataOldUnsafe_ = new QCheckBox(QStringLiteral("Data old => Unsafe"));
    wsDataOldUnsafe_->setObjectName(QStringLiteral("WSDataOldUnsafe"));
    connect(wsDataOldUnsafe_, &QCheckBox::toggled, this, [this](bool on) {
        if (!rendering_) core_.editConditions([on](conditions::ConditionsConfig& c) { c.safety.wsDataOldUnsafe = on; });
    });
    g->addWidget(alarmWs_, row, 0, 1, 2);
    g->addWidget(wsDataOldUnsafe_, row++, 2, 1, 2);

    label1_20_ = new QLabel;
    label1_20_->setObjectName(QStringLiteral("Label1_20"));
    alarmNp_ = new QCheckBox(QStringLiteral("Sensor data faulty"));
    alarmNp_->setObjectName(QStringLiteral("AlarmNP"));
    alarmNp_->installEventFilter(this);
    connect(alarmNp_, &QCheckBox::clicked, this, [this](bool on) {
        bool armed = false;
        core_.editConditions([&](conditions::ConditionsConfig& c) { armed = c.alarms.sensorData.setArmed(on); });
        if (!armed) chooseStaleSound(false);
        alarmNp_->setChecked(core_.conditionsConfig().alarms.sensorData.armed());
    });
    npDataOldUnsafe_ = new QCheckBox(QStringLiteral("Data old => Unsafe"));
    npDataOldUnsafe_->setObjectName(QStringLiteral("NPDataOldUnsafe"));
    connect(npDataOldUnsafe_, &QCheckBox::toggled, this, [this](bool on) {
        if (!rendering_) core_.editConditions([on](conditions::ConditionsConfig& c) { c.safety.npDataOldUnsafe = on; });
    });
    auto* np = new QHBoxLayout;
    np->addWidget(label1_20_);
    np->addWidget(alarmNp_);
    g->addLayout(np, row, 0, 1, 2);
    g->addWidget(npDataOldUnsafe_, row++, 2, 1, 2);

    suspend_ = new QCheckBox(QStringLiteral("Suspend sound alarms"));
    suspend_->setObjectName(QStringLiteral("SuspendSoundAlarm"));
    connect(suspend_, &QCheckBox::clicked, this, [this](bool on) { core_.setSuspendSoundAlarm(on); });
    g->addWidget(suspend_, row++, 0, 1, 4);
    g->setColumnStretch(4, 1);
    root->addWidget(frame3_);
    root->addStretch();
    return w;
}

bool ConditionsTabs::eventFilter(QObject* o, QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
        if (o == alarmWs_) { chooseStaleSound(true); return true; }
        if (o == alarmNp_) { chooseStaleSound(false); return true; }
        const QVariant q = o->property("xobQuantity");
        const int i = o->property("xobIndex").toInt();
        const QVariant sector = o->property("xobSector");
        if (sector.isValid()) {
            if (!core_.isRunning()) editSector(Quantity(sector.toInt()), i);
            return true;
        }
        if (q.isValid()) {
            if (qobject_cast<QCheckBox*>(o)) chooseSound(Quantity(q.toInt()), i);
            else if (!core_.isRunning()) editStyle(Quantity(q.toInt()), i);
            return true;
        }
    }
    return QObject::eventFilter(o, e);
}

void ConditionsTabs::editStyle(Quantity q, int i)
{
    XOBColor d(core_.conditionsConfig().levels.styles[q][i], owner_, &core_.clock());
    if (d.exec() == QDialog::Accepted) core_.editConditions([&](conditions::ConditionsConfig& c) { c.levels.styles[q][i] = d.result(); });
}

void ConditionsTabs::editSector(Quantity q, int i)
{
    const auto& safety = core_.conditionsConfig().safety;
    const QString& text = q == Quantity::Gust ? safety.gustSectors[i] : safety.windSectors[i];
    const QString level = core_.conditionsConfig().levels.styles[q][i].description;
    XOBWindPars d(text, QStringLiteral("%1, %2").arg(QString::fromLatin1(info(q).caption), level), owner_);
    // Only OK writes the label: until then the safety decision goes on
    // reading the stored text as it is, even one the editor showed clamped.
    if (d.exec() == QDialog::Accepted) {
        const QString sectors = d.sectorText();
        core_.editConditions([&](conditions::ConditionsConfig& c) { (q == Quantity::Gust ? c.safety.gustSectors[i] : c.safety.windSectors[i]) = sectors; });
    }
}

void ConditionsTabs::checkThreshold(Quantity q, int i, bool& cancel)
{
    XOBGetNumber* field = limits_[size_t(q)][i];
    const auto& levels = core_.conditionsConfig().levels;
    conditions::PerLevel<double> limits = levels.thresholds[q];
    const bool edited = field->isUserEdited();
    if (edited) limits[i] = field->value();
    const QString message = conditions::thresholdFieldMessage(q, limits, i, levels.descriptions(q));
    if (!message.isEmpty()) {
        core_.showMessage(message, MessageOk, QString());
        cancel = true;
        return;
    }
    if (!edited) return;
    field->clearUserEdited();
    core_.editConditions([&](conditions::ConditionsConfig& c) { c.levels.thresholds[q][i] = limits[i]; });
}

void ConditionsTabs::chooseSound(Quantity q, int i)
{
    if (!player_) return;
    core_.chooseAlarmSound({MonitorApi::AlarmBoxId::Level, q, i}, XOBSoundForm::runner(*player_, owner_));
}

void ConditionsTabs::chooseStaleSound(bool station)
{
    if (!player_) return;
    using Box = MonitorApi::AlarmBoxId;
    core_.chooseAlarmSound({station ? Box::StationData : Box::SensorData}, XOBSoundForm::runner(*player_, owner_));
}

void ConditionsTabs::setEditable(bool on)
{
    for (QWidget* w : editors_) w->setEnabled(on);
}

void ConditionsTabs::render()
{
    rendering_ = true;
    const conditions::ConditionsConfig& c = core_.conditionsConfig();
    for (Quantity q : conditions::kAllQuantities) {
        const QuantityInfo& qi = info(q);
        for (int i = 0; i < 3; ++i) {
            if (XOBGetNumber* s = limits_[size_t(q)][i]) s->showValue(c.levels.thresholds[q][i]);
            QLabel* l = styles_[size_t(q)][i];
            if (conditions::isLocallyClassified(q)) {
                const auto& st = c.levels.styles[q][i];
                l->setText(st.description);
                setStyleOnce(l, QStringLiteral("background-color: %1; color: black;").arg(cssColour(st.colour)));
            } else {
                l->setText(QString::fromLatin1(qi.sensorNames[i]));
            }
            marks_[size_t(q)][i]->setChecked(c.safety.unsafeMarks[q][i]);
            const auto& box = c.alarms.boxes[q][i];
            QCheckBox* a = alarms_[size_t(q)][i];
            a->setChecked(box.armed());
            const QString name = conditions::isLocallyClassified(q) ? c.levels.styles[q][i].description
                                                                     : QString::fromLatin1(qi.sensorNames[i]);
            a->setText(name + (box.sound().isEmpty() ? QString() : QStringLiteral(" ♪")));
            a->setToolTip(box.sound().isEmpty() ? QStringLiteral("No sound chosen") : box.sound());
        }
    }
    for (int i = 0; i < 3; ++i) {
        windSectors_[i]->setText(c.safety.windSectors[i]);
        gustSectors_[i]->setText(c.safety.gustSectors[i]);
    }
    unitsTemp_[int(c.units.temperature)]->setChecked(true);
    unitsSpeed_[int(c.units.speed)]->setChecked(true);
    // Each read cycle redraws the tabs: a field the user is typing into is
    // left alone; what is typed counts when the field is left.
    safeDelay_->showValue(c.safety.safeDelaySeconds);
    wsDataOldUnsafe_->setChecked(c.safety.wsDataOldUnsafe);
    npDataOldUnsafe_->setChecked(c.safety.npDataOldUnsafe);
    alarmWs_->setChecked(c.alarms.stationData.armed());
    alarmNp_->setChecked(c.alarms.sensorData.armed());
    suspend_->setChecked(c.alarms.suspendSound);
    rendering_ = false;
}

} // namespace skyvane
