#pragma once
// The small rules of the class that need no bus and no monitor: colour to
// HTML text, the sky condition, the read-period items, object safety.

#include <QString>
#include <QtGlobal>

namespace skyvane::nephor {

// "#RRGGBB" for a colour stored as blue * 65536 + green * 256 + red
// (16777088 gives "#80FFFF", 255 gives "#FF0000"). Values outside 0 to
// 16777215 (system colour references, "the control's own colour") have no
// defined HTML colour: the answer is empty.
QString colourToHtml(qint64 colour);

// Condition_Sky: 0 when the rain or cloud level is unknown; the cloud level
// (1..3) when dry; 4 (wet) otherwise.
qint32 skyCondition(qint32 cloudLevel, qint32 rainLevel);
// Condition_WetF: rain level 2 (wet) or 3 (rain).
bool wetFlag(qint32 rainLevel);

// ReadCycle let: the item of RefreshRead for a number of seconds (<= 5 item
// 0, 6..10 item 1, 11..30 item 2, 31..60 item 3, above 60 item 1).
int readCycleItem(qint32 seconds);

// Object safety. Results are HRESULTs.
inline constexpr qint32 kS_OK = 0;
inline constexpr qint32 kE_FAIL = qint32(0x80004005u);
inline constexpr qint32 kE_NOINTERFACE = qint32(0x80004002u);
inline constexpr qint32 kSafeForUntrustedCaller = 1; // INTERFACESAFE_FOR_UNTRUSTED_CALLER
inline constexpr qint32 kSafeForUntrustedData = 2;   // INTERFACESAFE_FOR_UNTRUSTED_DATA

inline const QString kIID_IDispatch = QStringLiteral("{00020400-0000-0000-C000-000000000046}");
inline const QString kIID_IPersistStorage = QStringLiteral("{0000010A-0000-0000-C000-000000000046}");
inline const QString kIID_IPersistStream = QStringLiteral("{00000109-0000-0000-C000-000000000046}");
inline const QString kIID_IPersistPropertyBag = QStringLiteral("{37D84F60-42CB-11CE-8135-00AA004BB851}");

struct SafetyFlags {
    bool safeForScripting = true;    // set at program start, never changed
    bool safeForInitialising = true;
};

// An interface identifier in its registry form: trimmed, upper case, in
// braces (a GUID written without braces or in lower case is the same GUID).
QString normaliseIid(const QString& riid);

struct SafetyOptions {
    qint32 hr = kS_OK;
    qint32 supported = 0;
    qint32 enabled = 0;
};
SafetyOptions getInterfaceSafetyOptions(const QString& riid, const SafetyFlags& flags);
qint32 setInterfaceSafetyOptions(const QString& riid, qint32 mask, qint32 enabled, const SafetyFlags& flags);

} // namespace skyvane::nephor
