#include "NephorService.h"

#include <QDBusObjectPath>
#include <QLoggingCategory>
#include <QMetaType>

Q_LOGGING_CATEGORY(lcServe, "skyvane.sensorserve", QtInfoMsg)

namespace skyvane::sensorserve {

using automation::Call;
using automation::ClassSpec;
using automation::Failure;
using automation::MemberKind;
using automation::Reply;

namespace {

// Member order: first what the monitor reads and sends on every connection and
// read cycle, in the order it uses them; then the settings that the monitor's
// own class passes through to clients, in that class's order; then the graph
// members and the main window.
const char* const kNephorDecl = R"(
get    Version : s
get    XOB_DeviceRole : s
prop   XOB_DeviceSwitchCtrl : b
method XOB_LocalControl(vData b, sLabel s)
method Device_Start
get    DataReady : b
prop   XOB_TemperatureUnits : s
get    Condition_Cloud : i
get    Condition_Rain : i
get    Condition_Brightness : i
get    SkyTemperature : d
get    RainValue : d
get    BrightnessValue : d
get    SkySensorTemperature : d
get    AmbientTemperature : d
get    RainHeaterPercent : d
get    RainHeaterTemperature : d
get    RainHeaterStatus : s
get    LastReading : date
get    DeviceIsRunning : b
get    XOB_XFERFileErr : b
get    XFERFileErr : b
method XOB_AlarmStop
method SetUnSafe(ref iP b)
method XOB_SetSwitch(ref vData d)
get    SwitchStatus : d
prop   ThreshBrightnessDark : d
prop   ThreshBrightnessLigth : d
prop   ThreshBrightnessVLigth : d
prop   BrightnessUnknowConditionValue : i
prop   ThreshRainDry : d
prop   ThreshRainWet : d
prop   ThreshRainRain : d
prop   RainUnknowConditionValue : i
prop   ThreshTempClear : d
prop   ThreshTempCloudy : d
prop   ThreshTempVCloudy : d
prop   CloudUnknowConditionValue : i
prop   ColorClear : i
prop   ColorCloudy : i
prop   ColorVCloudy : i
prop   ColorDry : i
prop   ColorWet : i
prop   ColorRain : i
prop   ColorDark : i
prop   ColorLight : i
prop   ColorVLight : i
prop   DescriptionClear : s
prop   DescriptionCloudy : s
prop   DescriptionVCloudy : s
prop   DescriptionDry : s
prop   DescriptionWet : s
prop   DescriptionRain : s
prop   DescriptionDark : s
prop   DescriptionLight : s
prop   DescriptionVLight : s
prop   TempFactorON : b
prop   TempFactorK1 : i
prop   TempFactorK2 : i
prop   TempFactorK3 : i
prop   TempFactorK4 : i
prop   TempFactorK5 : i
prop   NoConsecutiveUnknownReads : i
prop   NoConsecutiveRS232Errors : i
prop   XOB_CloudAlarmDelay : i
prop   ReadCycle : i
method GetGraphFreq(iP i) : i
method GraphTemperatureMax(ref iP i) : i
method GraphTemperatureMin(ref iP i) : i
method XOB_GraphArrayFirstElem(GraphNo i) : i
method XOB_GraphArrayLastElem(GraphNo i) : i
method XOB_GraphArrayCloud : av
method XOB_GraphArrayRain : av
method XOB_GraphArrayDay : av
method XOB_GraphArrayTemp : av
method MForm : o
)";

const char* const kFormDecl = R"(
get    UnknowRainLT : o
get    UnknowCloudGT : o
get    RainLimit(Index i) : o
get    CloudLimit(Index i) : o
method CloudTempSet(ref Value d)
)";

const char* const kNumberBoxDecl = R"(
prop   Value : d
)";

std::shared_ptr<ClassSpec> build(const char* iface, const char* decl)
{
    auto spec = std::make_shared<ClassSpec>(QString::fromLatin1(iface));
    QString err;
    if (!spec->declare(QString::fromLatin1(decl), &err)) qFatal("sensor server class %s: %s", iface, qPrintable(err));
    return spec;
}

const QStringList kLimitNames = {QStringLiteral("RainLimit"), QStringLiteral("CloudLimit")};

QString controlPath(const QString& key)
{
    // "RainLimit_2" -> /MForm/RainLimit/2
    QString p = QLatin1String(kFormPath) + QLatin1Char('/') + key;
    return p.replace(QLatin1Char('_'), QLatin1Char('/'));
}

} // namespace

const QStringList& readingMembers()
{
    static const QStringList names = {
        QStringLiteral("SkyTemperature"),       QStringLiteral("RainValue"),
        QStringLiteral("BrightnessValue"),      QStringLiteral("SkySensorTemperature"),
        QStringLiteral("AmbientTemperature"),   QStringLiteral("RainHeaterPercent"),
        QStringLiteral("RainHeaterTemperature"), QStringLiteral("SwitchStatus"),
        QStringLiteral("RainHeaterStatus"),     QStringLiteral("LastReading"),
        QStringLiteral("Condition_Cloud"),      QStringLiteral("Condition_Rain"),
        QStringLiteral("Condition_Brightness")};
    return names;
}

bool isReadingMember(const QString& name) { return readingMembers().contains(name); }

QString NephorService::settingOfControl(const QString& key)
{
    static const QHash<QString, QString> map = {
        {QStringLiteral("UnknowRainLT"), QStringLiteral("ThreshRainRain")},
        {QStringLiteral("UnknowCloudGT"), QStringLiteral("ThreshTempVCloudy")},
        {QStringLiteral("RainLimit_0"), QStringLiteral("ThreshRainDry")},
        {QStringLiteral("RainLimit_1"), QStringLiteral("ThreshRainWet")},
        {QStringLiteral("RainLimit_2"), QStringLiteral("RainUnknowConditionValue")},
        {QStringLiteral("CloudLimit_0"), QStringLiteral("ThreshTempClear")},
        {QStringLiteral("CloudLimit_1"), QStringLiteral("ThreshTempCloudy")},
        {QStringLiteral("CloudLimit_2"), QStringLiteral("CloudUnknowConditionValue")},
    };
    return map.value(key);
}

std::shared_ptr<ClassSpec> NephorService::nephorClass() { return build(kProgId, kNephorDecl); }
std::shared_ptr<ClassSpec> NephorService::formClass() { return build(kFormInterface, kFormDecl); }
std::shared_ptr<ClassSpec> NephorService::numberBoxClass() { return build(kNumberBoxInterface, kNumberBoxDecl); }

QString NephorService::introspectionDocument(const QString& comment, const QString& extra)
{
    QString x = ClassSpec::documentHead(comment);
    x += nephorClass()->interfaceXml(6);
    x += QStringLiteral("    </node>\n  </node>\n  <node name=\"MForm\">\n");
    x += formClass()->interfaceXml(4);
    const QString box = numberBoxClass()->interfaceXml(8);
    for (const char* c : {"UnknowRainLT", "UnknowCloudGT"})
        x += QStringLiteral("    <node name=\"%1\">\n").arg(QLatin1String(c)) + numberBoxClass()->interfaceXml(6)
            + QStringLiteral("    </node>\n");
    for (const QString& l : kLimitNames) {
        x += QStringLiteral("    <node name=\"%1\">\n").arg(l);
        for (int i = 0; i < 3; ++i)
            x += QStringLiteral("      <node name=\"%1\">\n").arg(i) + box + QStringLiteral("      </node>\n");
        x += QStringLiteral("    </node>\n");
    }
    x += QStringLiteral("  </node>\n");
    x += extra;
    x += QStringLiteral("</node>\n");
    return x;
}

NephorService::NephorService(const QDBusConnection& bus, SensorBackend& backend) : bus_(bus), backend_(backend) {}

NephorService::~NephorService() = default;

bool NephorService::prepare(QString* error)
{
    if (server_) return true;
    server_ = std::make_unique<automation::AutomationServer>(bus_, QString::fromLatin1(kProgId), nephorClass(),
                                                             [this](Call& c) { return nephor(c); });
    server_->setOnCreated([](int id) { qCDebug(lcServe) << "instance" << id << "created"; });
    server_->setOnReleased([](int id) { qCDebug(lcServe) << "instance" << id << "released"; });
    bool ok = server_->addObject(QString::fromLatin1(kFormPath), formClass(), [this](Call& c) { return form(c); }, error);
    const auto box = numberBoxClass();
    QStringList keys = {QStringLiteral("UnknowRainLT"), QStringLiteral("UnknowCloudGT")};
    for (const QString& l : kLimitNames)
        for (int i = 0; i < 3; ++i) keys << QStringLiteral("%1_%2").arg(l).arg(i);
    for (const QString& key : keys) {
        if (!ok) break;
        ok = server_->addObject(controlPath(key), box, [this, key](Call& c) { return numberBox(key, c); }, error);
    }
    return ok;
}

bool NephorService::publish(QString* error)
{
    if (!server_ && !prepare(error)) return false;
    return server_->publish(error);
}

void NephorService::log(const QString& member)
{
    if (received_.callLog.size() < 10000) received_.callLog << member;
}

Reply NephorService::nephor(Call& call)
{
    log(call.member->dbusName());
    const QString& name = call.member->name;
    const MemberKind kind = call.member->kind;
    Received& r = received_;

    if (kind == MemberKind::Get && isReadingMember(name)) return Reply::ok(backend_.reading(name));
    if (backend_.hasSetting(name) && call.member->args.size() <= 1) {
        if (kind == MemberKind::Get) return Reply::ok(backend_.setting(name));
        if (kind == MemberKind::Let) {
            backend_.setSetting(name, call.value());
            return Reply::ok();
        }
    }
    if (name == QLatin1String("Version")) return Reply::ok(backend_.version());
    if (name == QLatin1String("XOB_DeviceRole")) return Reply::ok(backend_.role());
    if (name == QLatin1String("XOB_DeviceSwitchCtrl")) {
        if (kind == MemberKind::Get) return Reply::ok(r.switchCtrl);
        r.switchCtrl = call.value().toBool();
        ++r.switchCtrlCount;
        return Reply::ok();
    }
    if (name == QLatin1String("XOB_LocalControl")) {
        r.localControl = call.arg(0).toBool();
        r.localControlLabel = call.arg(1).toString();
        if (r.localControlCalls.size() < 1000) r.localControlCalls << QVariant(QVariantList{r.localControl, r.localControlLabel});
        return Reply::ok();
    }
    if (name == QLatin1String("Device_Start")) {
        ++r.deviceStartCount;
        backend_.deviceStart();
        return Reply::ok();
    }
    if (name == QLatin1String("DataReady")) return Reply::ok(backend_.dataReady());
    if (name == QLatin1String("XOB_TemperatureUnits")) {
        if (kind == MemberKind::Get) return Reply::ok(backend_.temperatureUnits());
        backend_.setTemperatureUnits(call.value().toString());
        return Reply::ok();
    }
    if (name == QLatin1String("DeviceIsRunning")) return Reply::ok(backend_.deviceRunning());
    if (name == QLatin1String("XOB_XFERFileErr") || name == QLatin1String("XFERFileErr"))
        return Reply::ok(backend_.transferError());
    if (name == QLatin1String("XOB_AlarmStop")) {
        ++r.alarmStopCount;
        return Reply::ok();
    }
    if (name == QLatin1String("SetUnSafe")) {
        r.lastUnsafe = call.arg(0).toBool();
        ++r.unsafeCount;
        return Reply::ok();
    }
    if (name == QLatin1String("XOB_SetSwitch")) {
        r.lastSwitch = call.arg(0).toDouble();
        ++r.switchCount;
        backend_.setSwitch(r.lastSwitch);
        return Reply::ok();
    }
    if (name == QLatin1String("GetGraphFreq")) return Reply::ok(backend_.setting(QStringLiteral("GraphFreq")));
    if (name == QLatin1String("GraphTemperatureMax") || name == QLatin1String("GraphTemperatureMin"))
        return Reply::ok(backend_.setting(name));
    if (name == QLatin1String("XOB_GraphArrayFirstElem") || name == QLatin1String("XOB_GraphArrayLastElem")) {
        const int graph = call.arg(0).toInt();
        if (graph < 1 || graph > 4) return Reply::fail(Failure::BadArguments, QStringLiteral("graph number %1 is not 1 to 4").arg(graph));
        return Reply::ok(name.endsWith(QLatin1String("FirstElem")) ? backend_.firstSlot() : backend_.lastSlot());
    }
    static const QStringList arrays = {QStringLiteral("XOB_GraphArrayCloud"), QStringLiteral("XOB_GraphArrayRain"),
                                       QStringLiteral("XOB_GraphArrayDay"), QStringLiteral("XOB_GraphArrayTemp")};
    if (int g = int(arrays.indexOf(name)); g >= 0) return Reply::ok(backend_.history(g + 1));
    if (name == QLatin1String("MForm")) return Reply::ok(QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kFormPath))));
    return Reply::fail(Failure::UnknownMember, QStringLiteral("%1 is not served by %2").arg(call.member->dbusName(), serverName_));
}

Reply NephorService::form(Call& call)
{
    const QString& name = call.member->name;
    log(QStringLiteral("MForm.") + call.member->dbusName());
    if (name == QLatin1String("UnknowRainLT") || name == QLatin1String("UnknowCloudGT"))
        return Reply::ok(QVariant::fromValue(QDBusObjectPath(controlPath(name))));
    if (kLimitNames.contains(name)) {
        const int i = call.arg(0).toInt();
        if (i < 0 || i > 2) return Reply::fail(Failure::BadArguments, QStringLiteral("%1(%2): index is not 0 to 2").arg(name).arg(i));
        return Reply::ok(QVariant::fromValue(QDBusObjectPath(controlPath(QStringLiteral("%1_%2").arg(name).arg(i)))));
    }
    if (name == QLatin1String("CloudTempSet")) {
        received_.cloudTempSet = call.arg(0).toDouble();
        backend_.setSetting(QStringLiteral("TempFactorON"), received_.cloudTempSet != 0.0);
        return Reply::ok();
    }
    return Reply::fail(Failure::UnknownMember, name);
}

Reply NephorService::numberBox(const QString& key, Call& call)
{
    log(QStringLiteral("MForm.%1.%2").arg(key, call.member->dbusName()));
    const QString setting = settingOfControl(key);
    if (call.member->kind == MemberKind::Get) return Reply::ok(backend_.setting(setting).toDouble());
    const QVariant old = backend_.setting(setting);
    const double v = call.value().toDouble();
    // Integer settings stay integers.
    backend_.setSetting(setting, old.metaType().id() == QMetaType::Int ? QVariant(qRound(v)) : QVariant(v));
    return Reply::ok();
}

} // namespace skyvane::sensorserve
