#pragma once
// The public class "XOB_Skyvane.Nephor": its member table, in interface
// order, with everything the server and the documentation need to know about
// each slot. The table is written once (NephorClass.cpp); the introspection
// data served on the bus, the member list of docs/nephor-class.md and the
// dispatch checks all come from it.
//
// Each slot carries, besides its D-Bus shape (kind, arguments, by-reference
// flags, result):
//  * activity: whether a call first counts as client activity on the main
//    window (BlinkLEDCOM with colour 0x80FFFF), with the period shown, or not
//    at all, or only through ReadCycle (GetGraphCycle);
//  * guarded: answered only while monitoring runs, otherwise a zero value and
//    no call to the sensor server;
//  * forwarded: passed on, by member name, to the sensor server's object;
//  * declared type: the automation type of the result (or let value) as the
//    type library names it (int32, double, bool, string, variant, object, or
//    an enumeration such as CloudCond).

#include "AutomationServer.h"

#include <QList>
#include <QPair>
#include <QString>
#include <memory>

namespace skyvane::nephor {

inline constexpr const char* kProgId = "XOB_Skyvane.Nephor";
// The main window, as MForm hands it out.
inline constexpr const char* kFormPath = "/MForm";
inline constexpr const char* kFormInterface = "XOB_Skyvane.MForm";
// Object safety, answered on every instance.
inline constexpr const char* kObjectSafetyInterface = "XOB_Skyvane.IObjectSafety";
inline constexpr int kSlotCount = 342;

enum class Activity {
    Signal,           // BlinkLEDCOM(0x80FFFF, false) before anything else
    SignalWithPeriod, // BlinkLEDCOM(0x80FFFF, true)
    Quiet,            // no activity signal
    ThroughReadCycle, // only when the member reads ReadCycle itself (GetGraphCycle)
};

struct MemberTraits {
    Activity activity = Activity::Signal;
    bool guarded = false;
    QString forwardTo;    // the sensor server's member; empty when not forwarded
    QString declaredType; // result (get, method) or value (let); empty for none
    bool forwarded() const { return !forwardTo.isEmpty(); }
};

struct Slot {
    automation::MemberSpec spec; // spec.tag is the slot's index
    MemberTraits traits;
};

// The 342 slots in interface order.
const QList<Slot>& nephorSlots();
// The class as the server publishes it (interface "XOB_Skyvane.Nephor").
std::shared_ptr<const automation::ClassSpec> nephorClass();
// The traits of a member of nephorClass(); a member of another table gets
// default traits.
const MemberTraits& traitsOf(const automation::MemberSpec& m);

// The object-safety interface served beside the class on every instance:
// GetInterfaceSafetyOptions(riid) -> (hr, supported, enabled) and
// SetInterfaceSafetyOptions(riid, mask, enabled) -> hr.
std::shared_ptr<const automation::ClassSpec> objectSafetyClass();
// The main window object returned by MForm (read-only members).
std::shared_ptr<const automation::ClassSpec> formClass();

// The enumerations of the type library.
struct EnumDef {
    QString name;
    QList<QPair<QString, int>> values;
};
const QList<EnumDef>& typeLibraryEnums();

// The automation type name for a D-Bus type ("i" -> "int32", ...).
QString automationTypeName(const QString& dbusType);

// The whole introspection document: factory, an instance (class and object
// safety), the main window object, and the enumerations as a comment.
QString introspectionDocument();
// docs/nephor-class.md: the member table and the enumerations.
QString markdownPage();

} // namespace skyvane::nephor
