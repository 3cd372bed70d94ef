#include "NephorRules.h"

namespace skyvane::nephor {

QString colourToHtml(qint64 colour)
{
    if (colour < 0 || colour > 0xFFFFFF) return {};
    // The hexadecimal text padded to six characters holds blue, green, red;
    // HTML wants red, green, blue.
    const QString hex = QString::number(colour, 16).toUpper().rightJustified(6, QLatin1Char('0'));
    return QLatin1Char('#') + hex.mid(4, 2) + hex.mid(2, 2) + hex.mid(0, 2);
}

qint32 skyCondition(qint32 cloud, qint32 rain)
{
    if (rain == 0 || cloud == 0) return 0;
    if (rain == 1) return cloud;
    return 4;
}

bool wetFlag(qint32 rain) { return rain == 2 || rain == 3; }

int readCycleItem(qint32 s)
{
    if (s <= 5) return 0;
    if (s <= 10) return 1;
    if (s <= 30) return 2;
    if (s <= 60) return 3;
    return 1;
}

QString normaliseIid(const QString& riid)
{
    QString s = riid.trimmed().toUpper();
    if (!s.startsWith(QLatin1Char('{')) && !s.endsWith(QLatin1Char('}'))) s = QLatin1Char('{') + s + QLatin1Char('}');
    return s;
}

namespace {
enum class Iface { Dispatch, Persist, Other };
Iface classify(const QString& riid)
{
    const QString s = normaliseIid(riid);
    if (s == kIID_IDispatch) return Iface::Dispatch;
    if (s == kIID_IPersistStorage || s == kIID_IPersistStream || s == kIID_IPersistPropertyBag) return Iface::Persist;
    return Iface::Other;
}
} // namespace

SafetyOptions getInterfaceSafetyOptions(const QString& riid, const SafetyFlags& flags)
{
    SafetyOptions o;
    o.supported = kSafeForUntrustedCaller | kSafeForUntrustedData;
    switch (classify(riid)) {
    case Iface::Dispatch: o.enabled = flags.safeForScripting ? kSafeForUntrustedCaller : 0; break;
    case Iface::Persist: o.enabled = flags.safeForInitialising ? kSafeForUntrustedData : 0; break;
    case Iface::Other: o.hr = kE_NOINTERFACE; break;
    }
    return o;
}

qint32 setInterfaceSafetyOptions(const QString& riid, qint32 mask, qint32 enabled, const SafetyFlags& flags)
{
    const qint32 r = mask & enabled;
    switch (classify(riid)) {
    case Iface::Dispatch:
        return r == kSafeForUntrustedCaller && flags.safeForScripting ? kS_OK : kE_FAIL;
    case Iface::Persist:
        return r == kSafeForUntrustedData && flags.safeForInitialising ? kS_OK : kE_FAIL;
    case Iface::Other:
        break;
    }
    return kE_NOINTERFACE;
}

} // namespace skyvane::nephor
