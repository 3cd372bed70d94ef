#pragma once
// Publishing a class for late-bound clients (the conventions are in
// Automation.h). A class is described by a member table; the server generates
// its introspection data from the table, checks every call against it,
// converts the arguments and hands the call to one handler function. There are
// no hand-written slots: a class with hundreds of members is one table and one
// dispatch table of small functions.
//
// Example:
//     auto cls = std::make_shared<ClassSpec>("XOB_Example.Thing");
//     cls->declare(R"(
//         get    Version : s
//         prop   Threshold : d
//         get    LastReading : date
//         method SetFlag(ref flag b)
//         method Limit(index i) : o
//     )");
//     HandlerTable h;
//     h.onGet("Version", [](Call&) { return Reply::ok("1.00"); });
//     ...
//     AutomationServer server(bus, "XOB_Example.Thing", cls, h);
//     server.publish();
//
// Declaration lines: `<kind> <Name>[(<args>)] [: <type>]`, kind one of
//   get     property get; the type is the result
//   let     property let; the type is that of the value (an argument "value"
//           after the index arguments); ": ref <type>" passes the value by
//           reference
//   prop    a get and a let of the same property
//   method  a method; the type, if any, is the result
// Arguments are `[ref] <name> <type>` separated by commas; types are
// i d b s v o av, and date (a double holding an automation date). Blank
// lines and text after '#' are ignored.

#include "Automation.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

namespace skyvane::automation {

enum class MemberKind { Get, Let, Method };

struct ArgSpec {
    QString name;
    QString type;       // "i", "d", "b", "s", "v", "o", "av"
    bool byRef = false; // written back to the caller
    bool date = false;  // a "d" holding an automation date
};

struct MemberSpec {
    QString name;
    MemberKind kind = MemberKind::Method;
    QList<ArgSpec> args;     // get: index arguments; let: index arguments, then the value
    QString result;          // type of the result, empty for none (a get always has one)
    bool resultDate = false; // the result is a date
    int tag = -1;            // free for the owner of the table

    // The D-Bus method: get_<Name>, let_<Name> or <Name>.
    QString dbusName() const;
    QString inSignature() const;
    QString outSignature() const;
};

class ClassSpec {
public:
    explicit ClassSpec(QString interfaceName = {});

    QString interfaceName() const { return iface_; }
    void setInterfaceName(const QString& name) { iface_ = name; }

    // Adds one member. Fails (and leaves the table unchanged) when the name,
    // a type or an argument is invalid or the member is already declared.
    // A get added after the let of the same property goes just before it.
    bool add(MemberSpec m, QString* error = nullptr);
    // Adds members from declaration lines (see the top of this file). Stops
    // at the first bad line; *error names it.
    bool declare(const QString& text, QString* error = nullptr);

    const QList<MemberSpec>& members() const { return members_; }
    const MemberSpec* find(const QString& dbusName) const;
    const MemberSpec* find(const QString& name, MemberKind kind) const;
    // Member names in order, each once.
    QStringList memberNames() const;

    // The <interface> element for this class.
    QString interfaceXml(int indent = 2) const;
    // The whole introspection document of an object of this class.
    QString introspectionXml() const;

    // For documentation of a published class: the doctype, the given comment
    // (its lines indented by five blanks after the first), the factory
    // interface at "/" and the node of one instance, left open for the
    // class's <interface> (close it with "    </node>\n  </node>\n").
    static QString documentHead(const QString& comment);

private:
    QString iface_;
    QList<MemberSpec> members_;
    QHash<QString, int> index_; // dbus name -> position
    void reindex();
};

struct Reply;

// The answer to one call, sent later (see Call::defer). Copies share the one
// call; the first reply() answers it and later ones do nothing. When the last
// copy goes without an answer the caller gets a ServerError, so that it never
// waits for its timeout. A caller that has left the bus meanwhile is no
// concern: the answer goes nowhere.
class Responder {
public:
    struct State;
    Responder() = default;
    bool isValid() const { return bool(d); }
    bool isAnswered() const;
    // The by-reference arguments as they will be written back; they start as
    // the handler left them when it deferred.
    QVariantList& args();
    // Converts and sends the answer as a direct reply would be. False when
    // there is nothing to answer (invalid, or already answered).
    bool reply(const Reply& r);

private:
    friend class AutomationObject;
    explicit Responder(std::shared_ptr<State> s) : d(std::move(s)) {}
    std::shared_ptr<State> d;
};

// One call as the handler sees it.
struct Call {
    const MemberSpec* member = nullptr;
    // Arguments in declared order, converted: int, double, bool, QString,
    // QVariant (the value held), QDBusObjectPath, QVariantList; dates as
    // QDateTime. The handler may change by-reference arguments.
    QVariantList args;
    QString path;       // object path called
    int instance = 0;   // instance id, 0 for objects not made by the factory
    QString sender;     // unique bus name of the caller

    QVariant arg(int i) const { return i >= 0 && i < args.size() ? args.at(i) : QVariant(); }
    // For a let: the value (the last argument).
    QVariant value() const { return args.isEmpty() ? QVariant() : args.last(); }

    // For a handler that answers later: takes the call's responder (the same
    // one on every call of defer()); the handler then returns
    // Reply::deferred() and answers through the responder, from a timer or a
    // signal. Meanwhile the server goes on answering other calls, this
    // client's too. Invalid for calls that were not made through the bus.
    Responder defer() { return deferrer ? deferrer() : Responder(); }
    std::function<Responder()> deferrer; // set by the server
};

struct Reply {
    QVariant value; // converted to the declared result type on the way out
    Failure failure = Failure::None;
    QString error;
    bool later = false; // answered through the call's responder

    static Reply ok(QVariant v = {}) { Reply r; r.value = std::move(v); return r; }
    static Reply fail(Failure f, QString text) { Reply r; r.failure = f; r.error = std::move(text); return r; }
    // The handler took the responder (Call::defer) and answers through it.
    static Reply deferred() { Reply r; r.later = true; return r; }
    bool isOk() const { return failure == Failure::None; }
    bool isDeferred() const { return later; }
};

using Handler = std::function<Reply(Call&)>;

// Handlers by member: a convenient Handler for large classes.
class HandlerTable {
public:
    using Fn = std::function<Reply(Call&)>;
    HandlerTable& onGet(const QString& name, Fn fn);
    HandlerTable& onLet(const QString& name, Fn fn);
    HandlerTable& onMethod(const QString& name, Fn fn);
    HandlerTable& on(MemberKind kind, const QString& name, Fn fn);
    // Used for members without their own handler (default: UnknownMember).
    HandlerTable& otherwise(Fn fn);
    Reply operator()(Call& call) const;
    // Members of cls that have no handler here, as D-Bus method names.
    QStringList missing(const ClassSpec& cls) const;

private:
    QHash<QString, Fn> fns_;
    Fn otherwise_;
};

// One object that answers the members of a class. Registered as a virtual
// object, so every call comes through handleMessage.
class AutomationObject final : public QDBusVirtualObject {
    Q_OBJECT
public:
    AutomationObject(std::shared_ptr<const ClassSpec> spec, Handler handler, int instance = 0, QObject* parent = nullptr);
    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
    const ClassSpec& spec() const { return *spec_; }
    int instance() const { return instance_; }
    // Deletes the object once no call of it is running any more (a handler
    // that processes events may see its own instance released meanwhile).
    void retire();

    // The reply (or error) to msg for the handler's answer r, with the
    // by-reference arguments args.
    static QDBusMessage replyMessage(const QDBusMessage& msg, const MemberSpec& m, const Reply& r, const QVariantList& args);

private:
    bool dispatch(const QDBusMessage& message, QDBusConnection& bus);
    std::shared_ptr<const ClassSpec> spec_;
    Handler handler_;
    int instance_;
    int busy_ = 0;
    bool retired_ = false;
};

class FactoryObject;

// Instances one client may hold at a time. Every instance costs the server
// memory and bookkeeping; a client that needs more has a fault.
inline constexpr int kMaxInstancesPerClient = 256;
// The error a client gets when it asks for more.
inline constexpr const char* kTooManyInstancesError = "XOB.Automation.Error.TooManyInstances";

// A class published under a well-known name: the factory at "/" and one
// object per instance, plus any further objects the class hands out.
class AutomationServer : public QObject {
    Q_OBJECT
public:
    AutomationServer(const QDBusConnection& bus, const QString& progId, std::shared_ptr<const ClassSpec> spec,
                     Handler handler, QObject* parent = nullptr);
    ~AutomationServer() override;

    // Registers the factory and takes the bus name. Fails when the name is
    // owned by another program or the bus refuses.
    bool publish(QString* error = nullptr);
    bool isPublished() const { return published_; }

    // A further object of the program (a window, a control), with its own
    // class, reachable by clients at path. Instance id 0.
    bool addObject(const QString& path, std::shared_ptr<const ClassSpec> spec, Handler handler, QString* error = nullptr);
    void removeObject(const QString& path);

    int instanceCount() const { return int(instances_.size()); }
    int instanceCount(const QString& client) const;
    QList<int> instances() const;
    QString instancePath(int id) const;
    QString instanceOwner(int id) const;
    // Releases an instance as if its owner had released it.
    bool release(int id);

    // Called after an instance is created and after it is released (by its
    // client, because the client left the bus, or by release()).
    void setOnCreated(std::function<void(int)> fn) { onCreated_ = std::move(fn); }
    void setOnReleased(std::function<void(int)> fn) { onReleased_ = std::move(fn); }
    // Called after the last instance of a client is released, however that
    // happened (released, left the bus, crashed), with the client's unique
    // bus name.
    void setOnClientGone(std::function<void(const QString&)> fn) { onClientGone_ = std::move(fn); }

    // The most instances one client may hold (kMaxInstancesPerClient).
    void setMaxInstancesPerClient(int n) { maxPerClient_ = n; }
    int maxInstancesPerClient() const { return maxPerClient_; }

    QDBusConnection connection() const { return bus_; }
    QString progId() const { return progId_; }
    const ClassSpec& spec() const { return *spec_; }

private:
    friend class FactoryObject;
    struct Instance {
        int id = 0;
        QString path;
        QString owner;
        AutomationObject* object = nullptr;
    };
    // For the factory object.
    // Fails with *errorName set to the D-Bus error for the client.
    QString createInstance(const QString& owner, QString* error, QString* errorName = nullptr);
    bool releaseInstance(const QString& path, const QString& caller, QString* error);
    void ownerGone(const QString& owner);
    void dropInstance(int id);

    QDBusConnection bus_;
    QString progId_;
    std::shared_ptr<const ClassSpec> spec_;
    Handler handler_;
    FactoryObject* factory_ = nullptr;
    QDBusServiceWatcher* watcher_ = nullptr;
    bool published_ = false;
    QString run_;   // distinguishes instance paths of different runs of the server
    int nextId_ = 1;
    QHash<int, Instance> instances_;
    // Indexes, so that creating and releasing cost the same however many
    // instances there are.
    QHash<QString, int> byPath_;
    QHash<QString, QSet<int>> byOwner_;
    int maxPerClient_ = kMaxInstancesPerClient;
    QHash<QString, AutomationObject*> objects_;
    std::function<void(int)> onCreated_, onReleased_;
    std::function<void(const QString&)> onClientGone_;
};

} // namespace skyvane::automation
