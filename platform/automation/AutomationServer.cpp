#include "AutomationServer.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cmath>
#include <exception>

Q_LOGGING_CATEGORY(lcAutomationServer, "skyvane.automation.server", QtWarningMsg)

namespace skyvane::automation {

namespace {

const QString kIntrospectable = QStringLiteral("org.freedesktop.DBus.Introspectable");
const QString kResultName = QStringLiteral("Result");

bool validIdentifier(const QString& s)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return re.match(s).hasMatch();
}

bool validType(const QString& t)
{
    return t == QLatin1String("i") || t == QLatin1String("d") || t == QLatin1String("b") || t == QLatin1String("s")
        || t == QLatin1String("v") || t == QLatin1String("o") || t == QLatin1String("av");
}

QString errorName(Failure f) { return QLatin1String(kErrorPrefix) + describe(f); }

QString xmlEscape(const QString& s) { return s.toHtmlEscaped(); }

QString argXml(const QString& name, const QString& type, const QString& dir, bool date, const QString& pad)
{
    QString s = pad + QStringLiteral("<arg name=\"%1\" type=\"%2\" direction=\"%3\"").arg(xmlEscape(name), type, dir);
    if (!date) return s + QStringLiteral("/>\n");
    s += QStringLiteral(">\n");
    s += pad + QStringLiteral("  <annotation name=\"%1\" value=\"date\"/>\n").arg(QLatin1String(kTypeAnnotation));
    s += pad + QStringLiteral("</arg>\n");
    return s;
}

const char* kindWord(MemberKind k)
{
    switch (k) {
    case MemberKind::Get: return "get";
    case MemberKind::Let: return "let";
    case MemberKind::Method: return "method";
    }
    return "method";
}

} // namespace

// ---------------------------------------------------------------------------
// Member table

QString MemberSpec::dbusName() const
{
    switch (kind) {
    case MemberKind::Get: return QStringLiteral("get_") + name;
    case MemberKind::Let: return QStringLiteral("let_") + name;
    case MemberKind::Method: return name;
    }
    return name;
}

QString MemberSpec::inSignature() const
{
    QString s;
    for (const ArgSpec& a : args) s += a.type;
    return s;
}

QString MemberSpec::outSignature() const
{
    QString s = result;
    for (const ArgSpec& a : args) {
        if (a.byRef) s += a.type;
    }
    return s;
}

ClassSpec::ClassSpec(QString interfaceName) : iface_(std::move(interfaceName)) {}

void ClassSpec::reindex()
{
    index_.clear();
    for (int i = 0; i < members_.size(); ++i) index_.insert(members_[i].dbusName(), i);
}

bool ClassSpec::add(MemberSpec m, QString* error)
{
    auto fail = [&](const QString& text) {
        if (error) *error = QStringLiteral("%1 %2: %3").arg(QLatin1String(kindWord(m.kind)), m.name, text);
        return false;
    };
    if (!validIdentifier(m.name)) return fail(QStringLiteral("not a valid member name"));
    if (m.result == QLatin1String("date")) {
        m.result = QStringLiteral("d");
        m.resultDate = true;
    }
    if (!m.result.isEmpty() && !validType(m.result)) return fail(QStringLiteral("unknown result type \"%1\"").arg(m.result));
    if (m.resultDate && m.result != QLatin1String("d")) return fail(QStringLiteral("a date result must be a double"));
    if (m.kind == MemberKind::Get && m.result.isEmpty()) return fail(QStringLiteral("a property get needs a result type"));
    if (m.kind == MemberKind::Let && !m.result.isEmpty()) return fail(QStringLiteral("a property let has no result"));
    if (m.kind == MemberKind::Let && m.args.isEmpty()) return fail(QStringLiteral("a property let needs its value"));
    QSet<QString> names;
    for (ArgSpec& a : m.args) {
        if (a.type == QLatin1String("date")) {
            a.type = QStringLiteral("d");
            a.date = true;
        }
        if (!validIdentifier(a.name)) return fail(QStringLiteral("argument \"%1\" has no valid name").arg(a.name));
        if (a.name == kResultName) return fail(QStringLiteral("argument name \"Result\" is reserved for the result"));
        if (names.contains(a.name)) return fail(QStringLiteral("argument \"%1\" declared twice").arg(a.name));
        names.insert(a.name);
        if (!validType(a.type)) return fail(QStringLiteral("argument \"%1\" has unknown type \"%2\"").arg(a.name, a.type));
        if (a.date && a.type != QLatin1String("d")) return fail(QStringLiteral("a date argument must be a double"));
        if (a.byRef && m.kind == MemberKind::Get) return fail(QStringLiteral("index arguments are passed by value"));
    }
    const QString dbus = m.dbusName();
    if (index_.contains(dbus)) return fail(QStringLiteral("declared twice"));
    int at = int(members_.size());
    if (m.kind == MemberKind::Get) {
        // get and let of one property sit together, get first
        if (auto it = index_.constFind(QStringLiteral("let_") + m.name); it != index_.constEnd()) at = *it;
    } else if (m.kind == MemberKind::Let) {
        if (auto it = index_.constFind(QStringLiteral("get_") + m.name); it != index_.constEnd()) at = *it + 1;
    }
    members_.insert(at, std::move(m));
    reindex();
    return true;
}

bool ClassSpec::declare(const QString& text, QString* error)
{
    // kind Name [ (args) ] [ : type ]
    static const QRegularExpression line(
        QStringLiteral("^\\s*(get|let|prop|method)\\s+([A-Za-z_][A-Za-z0-9_]*)\\s*(?:\\(([^)]*)\\))?\\s*(?::\\s*(ref\\s+)?([A-Za-z]+))?\\s*$"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        QString l = lines[n];
        if (int hash = l.indexOf(QLatin1Char('#')); hash >= 0) l.truncate(hash);
        if (l.trimmed().isEmpty()) continue;
        auto fail = [&](const QString& why) {
            if (error) *error = QStringLiteral("line %1 \"%2\": %3").arg(n + 1).arg(l.trimmed(), why);
            return false;
        };
        const auto mt = line.match(l);
        if (!mt.hasMatch()) return fail(QStringLiteral("expected <kind> <Name>[(<args>)] [: <type>]"));
        const QString kind = mt.captured(1);
        const QString name = mt.captured(2);
        const bool valueByRef = !mt.captured(4).isEmpty();
        const QString type = mt.captured(5);
        if (valueByRef && kind != QLatin1String("let") && kind != QLatin1String("prop"))
            return fail(QStringLiteral("only the value of a let can be passed by reference"));
        QList<ArgSpec> args;
        const QString argText = mt.captured(3).trimmed();
        if (!argText.isEmpty()) {
            for (const QString& part : argText.split(QLatin1Char(','))) {
                QStringList words = part.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
                ArgSpec a;
                if (!words.isEmpty() && words.first() == QLatin1String("ref")) {
                    a.byRef = true;
                    words.removeFirst();
                }
                if (words.size() != 2) return fail(QStringLiteral("argument \"%1\" is not [ref] <name> <type>").arg(part.trimmed()));
                a.name = words[0];
                a.type = words[1];
                args << a;
            }
        }
        QString why;
        if (kind == QLatin1String("get") || kind == QLatin1String("prop")) {
            MemberSpec g{name, MemberKind::Get, args, type};
            if (!add(g, &why)) return fail(why);
        }
        if (kind == QLatin1String("let") || kind == QLatin1String("prop")) {
            if (type.isEmpty()) return fail(QStringLiteral("a property let needs the type of its value"));
            MemberSpec s{name, MemberKind::Let, args, {}};
            s.args << ArgSpec{QStringLiteral("value"), type, valueByRef};
            if (!add(s, &why)) return fail(why);
        }
        if (kind == QLatin1String("method")) {
            MemberSpec m{name, MemberKind::Method, args, type};
            if (!add(m, &why)) return fail(why);
        }
    }
    return true;
}

const MemberSpec* ClassSpec::find(const QString& dbusName) const
{
    auto it = index_.constFind(dbusName);
    return it == index_.constEnd() ? nullptr : &members_[*it];
}

const MemberSpec* ClassSpec::find(const QString& name, MemberKind kind) const
{
    MemberSpec probe;
    probe.name = name;
    probe.kind = kind;
    return find(probe.dbusName());
}

QStringList ClassSpec::memberNames() const
{
    QStringList out;
    for (const MemberSpec& m : members_) {
        if (out.isEmpty() || out.last() != m.name) {
            if (!out.contains(m.name)) out << m.name;
        }
    }
    return out;
}

QString ClassSpec::interfaceXml(int indent) const
{
    const QString pad(indent, QLatin1Char(' '));
    QString x = pad + QStringLiteral("<interface name=\"%1\">\n").arg(xmlEscape(iface_));
    for (const MemberSpec& m : members_) {
        const QString p2 = pad + QStringLiteral("  ");
        const QString p3 = p2 + QStringLiteral("  ");
        x += p2 + QStringLiteral("<method name=\"%1\">\n").arg(m.dbusName());
        for (const ArgSpec& a : m.args) x += argXml(a.name, a.type, QStringLiteral("in"), a.date, p3);
        if (!m.result.isEmpty()) x += argXml(kResultName, m.result, QStringLiteral("out"), m.resultDate, p3);
        for (const ArgSpec& a : m.args) {
            if (a.byRef) x += argXml(a.name, a.type, QStringLiteral("out"), a.date, p3);
        }
        x += p2 + QStringLiteral("</method>\n");
    }
    x += pad + QStringLiteral("</interface>\n");
    return x;
}

QString ClassSpec::documentHead(const QString& comment)
{
    return QStringLiteral(
               "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
               "<!-- %1 -->\n"
               "<node name=\"/\">\n"
               "  <interface name=\"XOB.Automation.ClassFactory\">\n"
               "    <method name=\"CreateInstance\">\n"
               "      <arg type=\"o\" direction=\"out\"/>\n"
               "    </method>\n"
               "    <method name=\"ReleaseInstance\">\n"
               "      <arg name=\"path\" type=\"o\" direction=\"in\"/>\n"
               "    </method>\n"
               "  </interface>\n"
               "  <node name=\"Instances\">\n"
               "    <node name=\"I1_run\">\n")
        .arg(comment);
}

QString ClassSpec::introspectionXml() const
{
    QString x = QStringLiteral(
        "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
        "<node>\n");
    x += interfaceXml(2);
    x += QStringLiteral(
        "  <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
        "    <method name=\"Introspect\">\n"
        "      <arg name=\"xml_data\" type=\"s\" direction=\"out\"/>\n"
        "    </method>\n"
        "  </interface>\n"
        "</node>\n");
    return x;
}

// ---------------------------------------------------------------------------
// Handler table

HandlerTable& HandlerTable::on(MemberKind kind, const QString& name, Fn fn)
{
    MemberSpec probe;
    probe.name = name;
    probe.kind = kind;
    fns_.insert(probe.dbusName(), std::move(fn));
    return *this;
}

HandlerTable& HandlerTable::onGet(const QString& name, Fn fn) { return on(MemberKind::Get, name, std::move(fn)); }
HandlerTable& HandlerTable::onLet(const QString& name, Fn fn) { return on(MemberKind::Let, name, std::move(fn)); }
HandlerTable& HandlerTable::onMethod(const QString& name, Fn fn) { return on(MemberKind::Method, name, std::move(fn)); }
HandlerTable& HandlerTable::otherwise(Fn fn)
{
    otherwise_ = std::move(fn);
    return *this;
}

Reply HandlerTable::operator()(Call& call) const
{
    const QString key = call.member->dbusName();
    if (auto it = fns_.constFind(key); it != fns_.constEnd()) return (*it)(call);
    if (otherwise_) return otherwise_(call);
    return Reply::fail(Failure::UnknownMember, QStringLiteral("%1 is not implemented").arg(key));
}

QStringList HandlerTable::missing(const ClassSpec& cls) const
{
    QStringList out;
    for (const MemberSpec& m : cls.members()) {
        if (!fns_.contains(m.dbusName())) out << m.dbusName();
    }
    return out;
}

// ---------------------------------------------------------------------------
// Responder

struct Responder::State {
    QDBusMessage msg;
    QDBusConnection bus{QString()};
    std::shared_ptr<const ClassSpec> spec; // keeps member alive
    const MemberSpec* member = nullptr;
    QVariantList args;
    bool answered = false;

    void send(const QDBusMessage& reply)
    {
        answered = true;
        if (msg.isReplyRequired()) bus.send(reply);
    }
    ~State()
    {
        if (!answered)
            send(msg.createErrorReply(errorName(Failure::ServerError),
                                      QStringLiteral("%1 ended without an answer").arg(member ? member->dbusName() : msg.member())));
    }
};

bool Responder::isAnswered() const { return d && d->answered; }

QVariantList& Responder::args()
{
    static QVariantList none;
    if (!d) {
        none.clear();
        return none;
    }
    return d->args;
}

bool Responder::reply(const Reply& r)
{
    if (!d || d->answered) return false;
    if (r.isDeferred()) return false;
    d->send(AutomationObject::replyMessage(d->msg, *d->member, r, d->args));
    return true;
}

// ---------------------------------------------------------------------------
// Object

AutomationObject::AutomationObject(std::shared_ptr<const ClassSpec> spec, Handler handler, int instance, QObject* parent)
    : QDBusVirtualObject(parent), spec_(std::move(spec)), handler_(std::move(handler)), instance_(instance)
{
}

QString AutomationObject::introspect(const QString&) const { return spec_->interfaceXml(2); }

void AutomationObject::retire()
{
    retired_ = true;
    if (busy_ == 0) deleteLater();
}

bool AutomationObject::handleMessage(const QDBusMessage& msg, const QDBusConnection& connection)
{
    QDBusConnection bus(connection);
    ++busy_;
    const bool handled = dispatch(msg, bus);
    if (--busy_ == 0 && retired_) deleteLater();
    return handled;
}

bool AutomationObject::dispatch(const QDBusMessage& msg, QDBusConnection& bus)
{
    auto answer = [&](const QDBusMessage& reply) {
        if (msg.isReplyRequired()) bus.send(reply);
        return true;
    };
    auto error = [&](const QString& name, const QString& text) {
        qCDebug(lcAutomationServer) << msg.path() << msg.member() << name << text;
        return answer(msg.createErrorReply(name, text));
    };
    if (msg.type() != QDBusMessage::MethodCallMessage) return false;
    const QString iface = msg.interface();
    if (iface == kIntrospectable) {
        if (msg.member() == QLatin1String("Introspect") && msg.signature().isEmpty())
            return answer(msg.createReply(spec_->introspectionXml()));
        return error(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                     QStringLiteral("no method %1 in %2").arg(msg.member(), iface));
    }
    if (!iface.isEmpty() && iface != spec_->interfaceName())
        return error(QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
                     QStringLiteral("object %1 has no interface %2").arg(msg.path(), iface));
    const MemberSpec* m = spec_->find(msg.member());
    if (!m)
        return error(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                     QStringLiteral("%1 has no member %2").arg(spec_->interfaceName(), msg.member()));
    if (msg.signature() != m->inSignature())
        return error(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                     QStringLiteral("%1 takes (%2), was given (%3)").arg(m->dbusName(), m->inSignature(), msg.signature()));

    Call call;
    call.member = m;
    call.path = msg.path();
    call.instance = instance_;
    call.sender = msg.service();
    const QVariantList in = msg.arguments();
    for (int i = 0; i < m->args.size(); ++i) {
        // A NaN has no automation meaning and would convert to 0: refuse it
        // before any handler sees a made-up value.
        const QVariant& w = in.value(i);
        if (m->args[i].type == QLatin1String("d") && w.metaType().id() == QMetaType::Double && std::isnan(w.toDouble()))
            return error(errorName(Failure::BadArguments),
                         QStringLiteral("%1: argument %2 is not a number").arg(m->dbusName(), m->args[i].name));
        call.args << fromWire(w, m->args[i].type, m->args[i].date);
    }

    std::shared_ptr<Responder::State> pending;
    call.deferrer = [&]() {
        if (!pending) {
            pending = std::make_shared<Responder::State>();
            pending->msg = msg;
            pending->bus = bus;
            pending->spec = spec_;
            pending->member = m;
            pending->args = call.args;
        }
        return Responder(pending);
    };

    Reply r;
    try {
        r = handler_ ? handler_(call) : Reply::fail(Failure::UnknownMember, QStringLiteral("no handler"));
    } catch (const std::exception& e) {
        r = Reply::fail(Failure::ServerError, QStringLiteral("%1 failed: %2").arg(m->dbusName(), QString::fromLocal8Bit(e.what())));
    } catch (...) {
        r = Reply::fail(Failure::ServerError, QStringLiteral("%1 failed").arg(m->dbusName()));
    }
    call.deferrer = nullptr;
    if (pending) {
        // The responder answers: now, unless the handler answers later.
        if (!r.isDeferred()) {
            pending->args = call.args;
            Responder(pending).reply(r);
        }
        return true;
    }
    if (r.isDeferred())
        return error(errorName(Failure::ServerError), QStringLiteral("%1: no answer was prepared").arg(m->dbusName()));
    return answer(replyMessage(msg, *m, r, call.args));
}

QDBusMessage AutomationObject::replyMessage(const QDBusMessage& msg, const MemberSpec& m, const Reply& r, const QVariantList& args)
{
    auto error = [&](const QString& name, const QString& text) {
        qCDebug(lcAutomationServer) << msg.path() << msg.member() << name << text;
        return msg.createErrorReply(name, text);
    };
    if (!r.isOk()) return error(errorName(r.failure), r.error.isEmpty() ? m.dbusName() : r.error);

    QVariantList out;
    QString why;
    if (!m.result.isEmpty()) {
        // A double result may say "no value" as NaN; only what comes in
        // must be a number.
        const bool noValue = m.result == QLatin1String("d") && !m.resultDate &&
                             r.value.metaType().id() == QMetaType::Double && std::isnan(r.value.toDouble());
        const QVariant w = noValue ? r.value : toWire(r.value, m.result, m.resultDate, &why);
        if (!w.isValid())
            return error(errorName(Failure::ServerError), QStringLiteral("%1: result can not be converted: %2").arg(m.dbusName(), why));
        out << w;
    }
    for (int i = 0; i < m.args.size(); ++i) {
        const ArgSpec& a = m.args[i];
        if (!a.byRef) continue;
        const QVariant w = toWire(args.value(i), a.type, a.date, &why);
        if (!w.isValid())
            return error(errorName(Failure::ServerError), QStringLiteral("%1: argument %2 can not be converted: %3").arg(m.dbusName(), a.name, why));
        out << w;
    }
    return msg.createReply(out);
}

// ---------------------------------------------------------------------------
// Factory

class FactoryObject final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "XOB.Automation.ClassFactory")
public:
    explicit FactoryObject(AutomationServer* server) : QObject(server), server_(server) {}

public Q_SLOTS:
    QDBusObjectPath CreateInstance()
    {
        QString err, name;
        const QString path = server_->createInstance(message().service(), &err, &name);
        if (path.isEmpty()) {
            sendErrorReply(name.isEmpty() ? QLatin1String(kErrorPrefix) + describe(Failure::ServerError) : name, err);
            return QDBusObjectPath(QStringLiteral("/"));
        }
        return QDBusObjectPath(path);
    }

    void ReleaseInstance(const QDBusObjectPath& path)
    {
        QString err;
        if (!server_->releaseInstance(path.path(), message().service(), &err))
            sendErrorReply(QLatin1String(kErrorPrefix) + describe(Failure::NoObject), err);
    }

private:
    AutomationServer* server_;
};

// ---------------------------------------------------------------------------
// Server

AutomationServer::AutomationServer(const QDBusConnection& bus, const QString& progId, std::shared_ptr<const ClassSpec> spec,
                                   Handler handler, QObject* parent)
    : QObject(parent), bus_(bus), progId_(progId), spec_(std::move(spec)), handler_(std::move(handler))
{
    run_ = QString::number(QRandomGenerator::global()->generate(), 16);
    watcher_ = new QDBusServiceWatcher(this);
    watcher_->setConnection(bus_);
    watcher_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, &AutomationServer::ownerGone);
}

AutomationServer::~AutomationServer()
{
    for (const Instance& i : std::as_const(instances_)) {
        bus_.unregisterObject(i.path);
        delete i.object;
    }
    instances_.clear();
    byPath_.clear();
    byOwner_.clear();
    for (auto it = objects_.begin(); it != objects_.end(); ++it) {
        bus_.unregisterObject(it.key());
        delete it.value();
    }
    objects_.clear();
    if (published_) {
        bus_.unregisterObject(QString::fromLatin1(kFactoryPath));
        bus_.unregisterService(progId_);
    }
}

bool AutomationServer::publish(QString* error)
{
    auto fail = [&](const QString& text) {
        if (error) *error = text;
        return false;
    };
    if (published_) return true;
    if (!bus_.isConnected()) return fail(QStringLiteral("not connected to the bus"));
    if (spec_->interfaceName().isEmpty()) return fail(QStringLiteral("the class has no interface name"));
    if (!factory_) factory_ = new FactoryObject(this);
    if (!bus_.registerObject(QString::fromLatin1(kFactoryPath), factory_, QDBusConnection::ExportAllSlots))
        return fail(QStringLiteral("the object \"/\" is already registered on this connection"));
    QDBusConnectionInterface* bi = bus_.interface();
    if (!bi) return fail(QStringLiteral("the bus does not answer"));
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> r =
        bi->registerService(progId_, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!r.isValid() || r.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus_.unregisterObject(QString::fromLatin1(kFactoryPath));
        return fail(r.isValid() ? QStringLiteral("the name %1 is owned by another program").arg(progId_)
                                : QStringLiteral("can not own %1: %2").arg(progId_, r.error().message()));
    }
    published_ = true;
    return true;
}

bool AutomationServer::addObject(const QString& path, std::shared_ptr<const ClassSpec> spec, Handler handler, QString* error)
{
    auto* obj = new AutomationObject(std::move(spec), std::move(handler), 0);
    if (objects_.contains(path) || !bus_.registerVirtualObject(path, obj, QDBusConnection::SingleNode)) {
        delete obj;
        if (error) *error = QStringLiteral("can not register an object at %1").arg(path);
        return false;
    }
    objects_.insert(path, obj);
    return true;
}

void AutomationServer::removeObject(const QString& path)
{
    if (auto* obj = objects_.take(path)) {
        bus_.unregisterObject(path);
        obj->retire();
    }
}

int AutomationServer::instanceCount(const QString& client) const
{
    auto it = byOwner_.constFind(client);
    return it == byOwner_.constEnd() ? 0 : int(it->size());
}

QList<int> AutomationServer::instances() const
{
    QList<int> ids = instances_.keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString AutomationServer::instancePath(int id) const { return instances_.value(id).path; }
QString AutomationServer::instanceOwner(int id) const { return instances_.value(id).owner; }

QString AutomationServer::createInstance(const QString& owner, QString* error, QString* errorName)
{
    if (instanceCount(owner) >= maxPerClient_) {
        if (error)
            *error = QStringLiteral("%1: a client may hold at most %2 instances at a time").arg(progId_).arg(maxPerClient_);
        if (errorName) *errorName = QString::fromLatin1(kTooManyInstancesError);
        return {};
    }
    const int id = nextId_++;
    Instance inst;
    inst.id = id;
    inst.owner = owner;
    inst.path = QStringLiteral("/Instances/I%1_%2").arg(id).arg(run_);
    inst.object = new AutomationObject(spec_, handler_, id);
    if (!bus_.registerVirtualObject(inst.path, inst.object, QDBusConnection::SingleNode)) {
        delete inst.object;
        if (error) *error = QStringLiteral("can not register an object at %1").arg(inst.path);
        return {};
    }
    const bool firstOfOwner = instanceCount(owner) == 0;
    instances_.insert(id, inst);
    byPath_.insert(inst.path, id);
    byOwner_[owner].insert(id);
    if (firstOfOwner && !owner.isEmpty()) watcher_->addWatchedService(owner);
    qCDebug(lcAutomationServer) << "created" << inst.path << "for" << owner;
    if (onCreated_) onCreated_(id);
    // The client may have left between its call and the watch, too early for
    // the watcher to tell: ask the bus once.
    if (firstOfOwner && !owner.isEmpty() && bus_.interface() && !bus_.interface()->isServiceRegistered(owner).value())
        dropInstance(id);
    return inst.path;
}

bool AutomationServer::releaseInstance(const QString& path, const QString& caller, QString* error)
{
    const auto it = byPath_.constFind(path);
    if (it == byPath_.constEnd()) {
        if (error) *error = QStringLiteral("no instance %1").arg(path);
        return false;
    }
    const int id = *it;
    if (instances_.value(id).owner != caller) {
        if (error) *error = QStringLiteral("%1 belongs to another client").arg(path);
        return false;
    }
    dropInstance(id);
    return true;
}

bool AutomationServer::release(int id)
{
    if (!instances_.contains(id)) return false;
    dropInstance(id);
    return true;
}

void AutomationServer::ownerGone(const QString& owner)
{
    QList<int> ids = byOwner_.value(owner).values();
    std::sort(ids.begin(), ids.end());
    for (int id : ids) dropInstance(id);
}

void AutomationServer::dropInstance(int id)
{
    auto it = instances_.find(id);
    if (it == instances_.end()) return;
    const Instance inst = *it;
    instances_.erase(it);
    byPath_.remove(inst.path);
    bool lastOfOwner = false;
    if (auto o = byOwner_.find(inst.owner); o != byOwner_.end()) {
        o->remove(id);
        if (o->isEmpty()) {
            byOwner_.erase(o);
            lastOfOwner = true;
        }
    }
    bus_.unregisterObject(inst.path);
    // The object may be in the middle of answering a call of this very
    // instance: it goes when that call is done.
    inst.object->retire();
    if (lastOfOwner && !inst.owner.isEmpty()) watcher_->removeWatchedService(inst.owner);
    qCDebug(lcAutomationServer) << "released" << inst.path;
    if (onReleased_) onReleased_(id);
    if (lastOfOwner && onClientGone_) onClientGone_(inst.owner);
}

} // namespace skyvane::automation

#include "AutomationServer.moc"
