#pragma once
// Late-bound automation over the D-Bus session bus.
//
// A class is published under a well-known bus name equal to its ProgID (for
// example "XOB_Nephor.Nephor"). Conventions, shared by every server and client
// of this project (docs/automation.md says the same for outside programs):
//
//  * Class factory: object "/" with interface "XOB.Automation.ClassFactory",
//    methods CreateInstance() -> o and ReleaseInstance(o). One instance per
//    client; an instance whose owner leaves the bus is released by the server.
//  * Instance: object path returned by CreateInstance, interface named like
//    the ProgID. Every member of the class is one D-Bus method, in the class's
//    member order:
//        property get  -> method "get_<Name>"  (in: index args, out: result)
//        property let  -> method "let_<Name>"  (in: index args..., value)
//        method        -> method "<Name>"      (in: args, out: result?)
//    An argument passed by reference is an in argument and, under the same
//    name, an out argument after the result; the caller writes it back.
//  * Types: int32 "i", double "d", bool "b", string "s", variant "v",
//    object "o" (object path on the same bus name), array of variants "av".
//    A date is a double of days since 1899-12-30 (local time), marked with the
//    annotation XOB.Automation.Type = "date" on its argument.
//  * Errors are D-Bus errors named XOB.Automation.Error.<Kind>.
//
// Every call carries a timeout (2 s at most). Calls never run a nested event
// loop, so a client call can not re-enter the caller. The Async variants send
// the call and return at once; the answer comes back through a callback on
// the caller's thread, so a program that must keep serving its own clients
// (the monitor) never waits for another program.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

namespace skyvane::automation {

inline constexpr const char* kFactoryInterface = "XOB.Automation.ClassFactory";
inline constexpr const char* kFactoryPath = "/";
inline constexpr const char* kTypeAnnotation = "XOB.Automation.Type";
inline constexpr const char* kErrorPrefix = "XOB.Automation.Error.";
inline constexpr int kDefaultTimeoutMs = 1500;
inline constexpr int kMaxLongCallMs = 10 * 60 * 1000;

enum class Failure {
    None,
    NoServer,      // nothing owns the bus name, or it left
    NoObject,      // the instance is gone (the server restarted)
    Timeout,       // no answer within the timeout
    Suspended,     // not sent: an earlier call timed out and the object is suspended
    UnknownMember, // the class has no such member
    BadArguments,  // wrong number of arguments or a value that can not be converted
    ServerError,   // the member itself failed
};

struct CallResult {
    Failure failure = Failure::None;
    QString error;  // human-readable text when failed
    QVariant value; // result converted to the declared type (QDateTime for dates,
                    // QDBusObjectPath for objects); invalid for void members
    bool ok() const { return failure == Failure::None; }
};

class LateBoundObject;

// The answer of a call sent without waiting: the result and the arguments as
// the server wrote them back (by-reference arguments), or the failure.
using AsyncDone = std::function<void(const CallResult& result, const QVariantList& args)>;
using CreateDone = std::function<void(std::unique_ptr<LateBoundObject> object, const QString& error)>;

// A client's handle on one instance of a class served by another program.
class LateBoundObject {
public:
    // Creates an instance of the class published under progId. Returns null
    // and fills *error when no server answers or creation fails.
    static std::unique_ptr<LateBoundObject> create(const QDBusConnection& bus, const QString& progId,
                                                   int timeoutMs = kDefaultTimeoutMs, QString* error = nullptr);
    // A handle on an object that a program publishes at a fixed path (not
    // made by a class factory), such as a control object. Not released on
    // destruction. Null when busName has no owner.
    static std::unique_ptr<LateBoundObject> attach(const QDBusConnection& bus, const QString& busName,
                                                   const QString& path, int timeoutMs = kDefaultTimeoutMs,
                                                   QString* error = nullptr);
    ~LateBoundObject(); // releases the instance (best effort, short timeout)
    LateBoundObject(const LateBoundObject&) = delete;
    LateBoundObject& operator=(const LateBoundObject&) = delete;

    // Property get, with optional index arguments.
    CallResult get(const QString& member, const QVariantList& index = {});
    // Property let, with optional index arguments before the value.
    CallResult let(const QString& member, const QVariant& value, const QVariantList& index = {});
    // Method call. Arguments are converted to the declared types; those the
    // class takes by reference are written back into args.
    CallResult call(const QString& member, QVariantList& args);
    CallResult call(const QString& member) { QVariantList none; return call(member, none); }
    // One method call allowed to take longer than the 2 s of every other call
    // (up to kMaxLongCallMs), for members that answer when a long job is done,
    // such as the monitor's Device_Start. For client tools only: the calling
    // thread waits all that time, so a program that serves others never uses
    // it towards another program.
    CallResult callLong(const QString& member, QVariantList& args, int timeoutMs);

    // The same three without waiting. done runs later, on this thread, once:
    // when the answer comes or the timeout has passed; never before the
    // function returns, and never after the object is destroyed. Calls sent
    // one after another reach the server in that order.
    void getAsync(const QString& member, AsyncDone done, const QVariantList& index = {});
    void letAsync(const QString& member, const QVariant& value, AsyncDone done = {}, const QVariantList& index = {});
    void callAsync(const QString& member, const QVariantList& args, AsyncDone done = {});
    // Creates an instance without waiting; done runs later with the object
    // or with null and the reason.
    static void createAsync(const QDBusConnection& bus, const QString& progId, int timeoutMs, CreateDone done);
    // The unique bus name of the program that owns progId now, without
    // waiting (empty when nobody does or the bus did not answer in time).
    static void nameOwnerAsync(const QDBusConnection& bus, const QString& progId, int timeoutMs,
                               std::function<void(const QString& owner)> done);
    // The unique bus name of the server that created this instance.
    QString owner() const;

    // An object returned by a member (for example a window of the server),
    // reached on the same connection. Not released on destruction.
    std::unique_ptr<LateBoundObject> objectAt(const QString& path) const;

    // Member names as the class lists them, in order (read once from the
    // server's introspection data).
    QStringList members();
    // True when the class has a member of that name (of any kind).
    bool hasMember(const QString& member);
    // The interface the calls go to: the ProgID for instances, the object's
    // own interface for objects reached with objectAt (empty before the first
    // call has read the introspection data).
    QString interfaceName() const;

    // After a call times out the object is suspended: every further call fails
    // at once with Failure::Suspended until resume(). The read cycle resumes it
    // at the start of each cycle, so a hung server costs one timeout a cycle.
    bool isSuspended() const;
    void resume();

    void setTimeout(int ms);
    int timeout() const;
    // The release on destruction is sent without waiting for the server's
    // answer (a program that must not stop for another one).
    void setReleaseWithoutWaiting(bool on);
    QString progId() const;
    QString path() const;
    // True while the server that created the instance still owns the name.
    bool serverAlive() const;

    struct Impl;

private:
    explicit LateBoundObject(std::unique_ptr<Impl> impl);
    static std::unique_ptr<LateBoundObject> fromCreateReply(const QDBusConnection& bus, const QString& progId, int timeoutMs,
                                                            const QDBusMessage& reply, QString* error);
    std::unique_ptr<Impl> d;
};

// The name of a failure kind ("NoServer", "Timeout", ...), as used in the
// error names XOB.Automation.Error.<Kind>.
QString describe(Failure f);
// The failure kind for a D-Bus error name (standard bus errors and
// XOB.Automation.Error.<Kind>); anything unknown is ServerError.
Failure failureForError(const QString& dbusErrorName);

// Conversions between automation values and the bus, shared by clients and
// servers. Values are converted the way a late-bound caller converts them:
//  * to a number: bool True is -1 and False 0; text is read in the C locale
//    (surrounding blanks ignored, "True"/"False" accepted); a double becomes
//    an int32 by rounding half to even; out of range is an error;
//  * to bool: a number is True when not 0; text "True"/"False" (any case) or
//    a number;
//  * to text: numbers in the C locale (up to 15 significant digits), bool as
//    "True"/"False", a date as "yyyy-MM-dd hh:mm:ss";
//  * a date travels as a double of days since 1899-12-30; a QDateTime is
//    accepted wherever a date or a number is expected;
//  * to a variant: the value itself (a date as its double); an empty QVariant
//    travels as an empty string, since the bus has no empty value;
//  * to "av": a QVariantList or QStringList; to "o": a QDBusObjectPath or a
//    valid path text.
// Returns the value ready to be marshalled for dbusType ("i", "d", "b", "s",
// "v", "o", "av"), or an invalid QVariant and *error when it can not be
// converted.
QVariant toWire(const QVariant& value, const QString& dbusType, bool isDate, QString* error = nullptr);
// A value as it came off the bus, converted to the declared type: QDateTime
// for dates, QDBusObjectPath for objects, QVariantList for arrays, plain Qt
// values inside variants (nested arrays become nested QVariantLists).
QVariant fromWire(const QVariant& wire, const QString& dbusType, bool isDate);
// The same rules as plain conversions, for callers that hold a variant result.
bool toBool(const QVariant& v, bool* ok = nullptr);
qint32 toInt32(const QVariant& v, bool* ok = nullptr);
double toDouble(const QVariant& v, bool* ok = nullptr);
QString toText(const QVariant& v);

} // namespace skyvane::automation
