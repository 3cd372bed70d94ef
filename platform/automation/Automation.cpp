#include "Automation.h"

#include "Clock.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QCoreApplication>
#include <QDBusVariant>
#include <QHash>
#include <QLocale>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <limits>

Q_LOGGING_CATEGORY(lcAutomation, "skyvane.automation", QtWarningMsg)

namespace skyvane::automation {

// ---------------------------------------------------------------------------
// Failures

QString describe(Failure f)
{
    switch (f) {
    case Failure::None: return QStringLiteral("None");
    case Failure::NoServer: return QStringLiteral("NoServer");
    case Failure::NoObject: return QStringLiteral("NoObject");
    case Failure::Timeout: return QStringLiteral("Timeout");
    case Failure::Suspended: return QStringLiteral("Suspended");
    case Failure::UnknownMember: return QStringLiteral("UnknownMember");
    case Failure::BadArguments: return QStringLiteral("BadArguments");
    case Failure::ServerError: return QStringLiteral("ServerError");
    }
    return QStringLiteral("ServerError");
}

Failure failureForError(const QString& name)
{
    static const QHash<QString, Failure> bus = {
        {QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"), Failure::NoServer},
        {QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"), Failure::NoServer},
        {QStringLiteral("org.freedesktop.DBus.Error.Disconnected"), Failure::NoServer},
        {QStringLiteral("org.freedesktop.DBus.Error.NoServer"), Failure::NoServer},
        {QStringLiteral("org.freedesktop.DBus.Error.NoNetwork"), Failure::NoServer},
        {QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"), Failure::NoObject},
        {QStringLiteral("org.freedesktop.DBus.Error.NoReply"), Failure::Timeout},
        {QStringLiteral("org.freedesktop.DBus.Error.Timeout"), Failure::Timeout},
        {QStringLiteral("org.freedesktop.DBus.Error.TimedOut"), Failure::Timeout},
        {QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), Failure::UnknownMember},
        {QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"), Failure::UnknownMember},
        {QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"), Failure::UnknownMember},
        {QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), Failure::BadArguments},
        {QStringLiteral("org.freedesktop.DBus.Error.InvalidSignature"), Failure::BadArguments},
    };
    if (auto it = bus.constFind(name); it != bus.constEnd()) return *it;
    const QLatin1String prefix(kErrorPrefix);
    if (name.startsWith(prefix)) {
        const QString kind = name.mid(prefix.size());
        for (Failure f : {Failure::NoServer, Failure::NoObject, Failure::Timeout, Failure::Suspended,
                          Failure::UnknownMember, Failure::BadArguments, Failure::ServerError}) {
            if (describe(f) == kind) return f;
        }
    }
    return Failure::ServerError;
}

// ---------------------------------------------------------------------------
// Conversions

namespace {

bool isDateTime(const QVariant& v) { return v.metaType().id() == QMetaType::QDateTime; }
bool isDBusVariant(const QVariant& v) { return v.metaType() == QMetaType::fromType<QDBusVariant>(); }
bool isDBusArgument(const QVariant& v) { return v.metaType() == QMetaType::fromType<QDBusArgument>(); }
bool isObjectPath(const QVariant& v) { return v.metaType() == QMetaType::fromType<QDBusObjectPath>(); }

bool isNumber(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Double: case QMetaType::Float: case QMetaType::Short: case QMetaType::UShort:
    case QMetaType::Char: case QMetaType::SChar: case QMetaType::UChar: case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

std::optional<double> textToNumber(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return -1.0;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return 0.0;
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double d = c.toDouble(t, &ok);
    if (!ok || !std::isfinite(d)) return std::nullopt;
    return d;
}

// The value as a double, when it has a numeric reading at all.
std::optional<double> numberOf(const QVariant& v, QString* error)
{
    if (!v.isValid()) return 0.0; // an empty value converts to 0
    if (isDBusVariant(v)) return numberOf(v.value<QDBusVariant>().variant(), error);
    if (v.metaType().id() == QMetaType::Bool) return v.toBool() ? -1.0 : 0.0;
    if (isNumber(v)) {
        const double d = v.toDouble();
        if (std::isnan(d)) {
            if (error) *error = QStringLiteral("not a number");
            return std::nullopt;
        }
        return d;
    }
    if (isDateTime(v)) {
        const QDateTime t = v.toDateTime();
        if (!t.isValid()) {
            if (error) *error = QStringLiteral("invalid date");
            return std::nullopt;
        }
        return toOleDate(t);
    }
    if (v.metaType().id() == QMetaType::QString || v.metaType().id() == QMetaType::QByteArray) {
        const QString s = v.toString();
        if (auto d = textToNumber(s)) return d;
        if (error) *error = QStringLiteral("text \"%1\" is not a number").arg(s.left(40));
        return std::nullopt;
    }
    if (error) *error = QStringLiteral("a %1 is not a number").arg(QString::fromLatin1(v.typeName()));
    return std::nullopt;
}

std::optional<qint32> roundToInt32(double d, QString* error)
{
    // Round half to even, as a late-bound caller rounds a double to a long.
    double r = std::round(d);
    if (std::abs(d - std::trunc(d)) == 0.5) r = 2.0 * std::round(d / 2.0);
    if (!std::isfinite(r) || r < double(std::numeric_limits<qint32>::min())
        || r > double(std::numeric_limits<qint32>::max())) {
        if (error) *error = QStringLiteral("%1 is out of the range of a 32-bit integer").arg(d);
        return std::nullopt;
    }
    return qint32(r);
}

QString numberText(double d)
{
    if (d == std::trunc(d) && std::abs(d) < 1e15) return QString::number(qint64(d));
    QString s = QString::number(d, 'g', 15);
    return s.replace(QLatin1Char('e'), QLatin1Char('E'));
}

std::optional<bool> boolOf(const QVariant& v, QString* error)
{
    if (isDBusVariant(v)) return boolOf(v.value<QDBusVariant>().variant(), error);
    if (v.metaType().id() == QMetaType::Bool) return v.toBool();
    if (v.metaType().id() == QMetaType::QString) {
        const QString t = v.toString().trimmed();
        if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
        if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
    }
    if (auto d = numberOf(v, error)) return *d != 0.0;
    return std::nullopt;
}

QVariant plain(const QVariant& v);

// Everything the bus can carry inside a variant.
QVariant wireForVariant(const QVariant& v, QString* error)
{
    if (isDBusVariant(v)) return wireForVariant(v.value<QDBusVariant>().variant(), error);
    if (!v.isValid()) return QString();
    switch (v.metaType().id()) {
    case QMetaType::Bool: case QMetaType::Int: case QMetaType::Double: case QMetaType::QString:
        return v;
    case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong: case QMetaType::Long:
    case QMetaType::ULong: case QMetaType::Short: case QMetaType::UShort: case QMetaType::Char:
    case QMetaType::SChar: case QMetaType::UChar: case QMetaType::Float: {
        const double d = v.toDouble();
        if (d == std::trunc(d) && d >= std::numeric_limits<qint32>::min() && d <= std::numeric_limits<qint32>::max())
            return qint32(d);
        return d;
    }
    case QMetaType::QDateTime: return toOleDate(v.toDateTime());
    case QMetaType::QByteArray: return QString::fromUtf8(v.toByteArray());
    case QMetaType::QStringList: {
        QVariantList out;
        for (const QString& s : v.toStringList()) out << s;
        return out;
    }
    case QMetaType::QVariantList: {
        QVariantList out;
        for (const QVariant& e : v.toList()) {
            const QVariant w = wireForVariant(e, error);
            if (!w.isValid()) return {};
            out << w; // a QVariantList travels as "av": each element is a variant already
        }
        return out;
    }
    default:
        break;
    }
    if (isObjectPath(v)) return v;
    if (error) *error = QStringLiteral("a %1 can not be passed in a variant").arg(QString::fromLatin1(v.typeName()));
    return {};
}

QVariant demarshal(const QDBusArgument& arg)
{
    switch (arg.currentType()) {
    case QDBusArgument::ArrayType: {
        QVariantList out;
        arg.beginArray();
        while (!arg.atEnd()) out << plain(arg.asVariant());
        arg.endArray();
        return out;
    }
    case QDBusArgument::StructureType: {
        QVariantList out;
        arg.beginStructure();
        while (!arg.atEnd()) out << plain(arg.asVariant());
        arg.endStructure();
        return out;
    }
    case QDBusArgument::MapType: {
        QVariantMap out;
        arg.beginMap();
        while (!arg.atEnd()) {
            arg.beginMapEntry();
            const QVariant key = plain(arg.asVariant());
            const QVariant value = plain(arg.asVariant());
            arg.endMapEntry();
            out.insert(key.toString(), value);
        }
        arg.endMap();
        return out;
    }
    default:
        return plain(arg.asVariant());
    }
}

// Strips the bus wrappers off a received value.
QVariant plain(const QVariant& v)
{
    if (isDBusVariant(v)) return plain(v.value<QDBusVariant>().variant());
    if (isDBusArgument(v)) return demarshal(v.value<QDBusArgument>());
    if (v.metaType().id() == QMetaType::QStringList) {
        QVariantList out;
        for (const QString& s : v.toStringList()) out << s;
        return out;
    }
    if (v.metaType().id() == QMetaType::QVariantList) {
        QVariantList out;
        for (const QVariant& e : v.toList()) out << plain(e);
        return out;
    }
    return v;
}

} // namespace

bool toBool(const QVariant& v, bool* ok)
{
    const auto b = boolOf(plain(v), nullptr);
    if (ok) *ok = b.has_value();
    return b.value_or(false);
}

double toDouble(const QVariant& v, bool* ok)
{
    const auto d = numberOf(plain(v), nullptr);
    if (ok) *ok = d.has_value();
    return d.value_or(0.0);
}

qint32 toInt32(const QVariant& v, bool* ok)
{
    const auto d = numberOf(plain(v), nullptr);
    std::optional<qint32> i = d ? roundToInt32(*d, nullptr) : std::nullopt;
    if (ok) *ok = i.has_value();
    return i.value_or(0);
}

QString toText(const QVariant& value)
{
    const QVariant v = plain(value);
    if (!v.isValid()) return {};
    switch (v.metaType().id()) {
    case QMetaType::Bool: return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDateTime: return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    case QMetaType::QString: return v.toString();
    default: break;
    }
    if (isNumber(v)) return numberText(v.toDouble());
    if (isObjectPath(v)) return v.value<QDBusObjectPath>().path();
    return v.toString();
}

QVariant toWire(const QVariant& value, const QString& type, bool isDate, QString* error)
{
    QString why;
    const QVariant v = isDBusVariant(value) ? plain(value) : value;
    auto fail = [&](const QString& text) {
        if (error) *error = text;
        return QVariant();
    };
    if (type == QLatin1String("i")) {
        const auto d = numberOf(v, &why);
        if (!d) return fail(why);
        const auto i = roundToInt32(*d, &why);
        if (!i) return fail(why);
        return QVariant(qint32(*i));
    }
    if (type == QLatin1String("d")) {
        if (isDate && v.metaType().id() == QMetaType::QString) {
            // A date may also come as text.
            const QString s = v.toString().trimmed();
            QDateTime t = QDateTime::fromString(s, Qt::ISODate);
            if (!t.isValid()) t = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            if (t.isValid()) return toOleDate(t);
        }
        const auto d = numberOf(v, &why);
        if (!d) return fail(why);
        return QVariant(*d);
    }
    if (type == QLatin1String("b")) {
        const auto b = boolOf(v, &why);
        if (!b) return fail(why);
        return QVariant(*b);
    }
    if (type == QLatin1String("s")) {
        if (v.metaType().id() == QMetaType::QVariantList || v.metaType().id() == QMetaType::QStringList)
            return fail(QStringLiteral("an array is not a text"));
        return QVariant(toText(v));
    }
    if (type == QLatin1String("v")) {
        const QVariant w = wireForVariant(v, &why);
        if (!w.isValid()) return fail(why);
        return QVariant::fromValue(QDBusVariant(w));
    }
    if (type == QLatin1String("o")) {
        if (isObjectPath(v)) return v;
        if (v.metaType().id() == QMetaType::QString) {
            static const QRegularExpression valid(QStringLiteral("^/$|^(/[A-Za-z0-9_]+)+$"));
            if (valid.match(v.toString()).hasMatch()) return QVariant::fromValue(QDBusObjectPath(v.toString()));
        }
        return fail(QStringLiteral("not an object"));
    }
    if (type == QLatin1String("av")) {
        if (v.metaType().id() != QMetaType::QVariantList && v.metaType().id() != QMetaType::QStringList)
            return fail(QStringLiteral("not an array"));
        const QVariant w = wireForVariant(v, &why);
        if (!w.isValid()) return fail(why);
        return w;
    }
    return fail(QStringLiteral("unsupported type \"%1\"").arg(type));
}

QVariant fromWire(const QVariant& wire, const QString& type, bool isDate)
{
    const QVariant v = plain(wire);
    if (type == QLatin1String("d") && isDate) {
        const auto d = numberOf(v, nullptr);
        return d ? QVariant(fromOleDate(*d)) : QVariant();
    }
    if (type == QLatin1String("i")) return QVariant(toInt32(v));
    // A double result may be NaN: "no value", which must not turn into 0.
    if (type == QLatin1String("d") && v.metaType().id() == QMetaType::Double && std::isnan(v.toDouble())) return v;
    if (type == QLatin1String("d")) return QVariant(toDouble(v));
    if (type == QLatin1String("b")) return QVariant(toBool(v));
    if (type == QLatin1String("s")) return QVariant(toText(v));
    if (type == QLatin1String("o")) {
        if (isObjectPath(v)) return v;
        return QVariant::fromValue(QDBusObjectPath(v.toString()));
    }
    if (type == QLatin1String("av")) return v.metaType().id() == QMetaType::QVariantList ? v : QVariant(QVariantList{});
    return v;
}

// ---------------------------------------------------------------------------
// Introspection data

namespace {

struct ArgSig {
    QString name;
    QString type;
    bool date = false;
};

struct MethodSig {
    QString name;
    QList<ArgSig> in;
    QList<ArgSig> out;
    int resultIndex = -1;          // index into out of the result, -1 for none
    QList<int> byRefIn;            // in-arg index of each by-reference out arg
    QList<int> byRefOut;           // ... and its index into out
    QString outSignature() const
    {
        QString s;
        for (const ArgSig& a : out) s += a.type;
        return s;
    }
};

struct InterfaceSig {
    QString name;
    QList<MethodSig> methods;
};

bool isStandardInterface(const QString& name)
{
    return name.startsWith(QLatin1String("org.freedesktop.DBus."));
}

QList<InterfaceSig> parseIntrospection(const QString& xml, QString* error)
{
    QList<InterfaceSig> out;
    QXmlStreamReader r(xml);
    InterfaceSig* iface = nullptr;
    MethodSig* method = nullptr;
    ArgSig* arg = nullptr;
    bool argIsOut = false;
    int depthInNode = 0;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            const auto n = r.name();
            const auto at = r.attributes();
            if (n == QLatin1String("node")) {
                ++depthInNode;
            } else if (n == QLatin1String("interface") && depthInNode == 1) {
                out.append(InterfaceSig{at.value(QLatin1String("name")).toString(), {}});
                iface = &out.last();
            } else if (n == QLatin1String("method") && iface) {
                iface->methods.append(MethodSig{});
                method = &iface->methods.last();
                method->name = at.value(QLatin1String("name")).toString();
            } else if (n == QLatin1String("arg") && method) {
                ArgSig a{at.value(QLatin1String("name")).toString(), at.value(QLatin1String("type")).toString(), false};
                argIsOut = at.value(QLatin1String("direction")) == QLatin1String("out");
                QList<ArgSig>& list = argIsOut ? method->out : method->in;
                list.append(a);
                arg = &list.last();
            } else if (n == QLatin1String("annotation") && arg) {
                if (at.value(QLatin1String("name")) == QLatin1String(kTypeAnnotation)
                    && at.value(QLatin1String("value")) == QLatin1String("date"))
                    arg->date = true;
            }
        } else if (r.isEndElement()) {
            const auto n = r.name();
            if (n == QLatin1String("node")) --depthInNode;
            else if (n == QLatin1String("interface")) iface = nullptr;
            else if (n == QLatin1String("method")) method = nullptr;
            else if (n == QLatin1String("arg")) arg = nullptr;
        }
    }
    if (r.hasError()) {
        if (error) *error = QStringLiteral("unreadable introspection data: %1").arg(r.errorString());
        return {};
    }
    // An out argument named like an in argument is that argument passed by
    // reference; the one other out argument is the result.
    for (InterfaceSig& i : out) {
        for (MethodSig& m : i.methods) {
            for (int o = 0; o < m.out.size(); ++o) {
                int match = -1;
                for (int k = 0; k < m.in.size(); ++k) {
                    if (!m.out[o].name.isEmpty() && m.in[k].name == m.out[o].name) {
                        match = k;
                        break;
                    }
                }
                if (match >= 0) {
                    m.byRefIn << match;
                    m.byRefOut << o;
                } else if (m.resultIndex < 0) {
                    m.resultIndex = o;
                }
            }
        }
    }
    return out;
}

constexpr int kMaxTimeoutMs = 2000;
constexpr int kReleaseTimeoutMs = 500;

int clampTimeout(int ms)
{
    if (ms <= 0) return kDefaultTimeoutMs;
    return std::min(ms, kMaxTimeoutMs);
}

// Runs fn on this thread's event loop, after the caller has returned.
void postLater(std::function<void()> fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

// Runs fn when the pending call has its answer (or its timeout has passed).
void onAnswer(const QDBusPendingCall& pending, std::function<void(const QDBusMessage&)> fn)
{
    auto* w = new QDBusPendingCallWatcher(pending);
    QObject::connect(w, &QDBusPendingCallWatcher::finished, w, [w, fn = std::move(fn)] {
        w->deleteLater();
        fn(w->reply());
    });
}

} // namespace

// ---------------------------------------------------------------------------
// LateBoundObject

struct LateBoundObject::Impl {
    QDBusConnection bus;
    QString progId;      // the well-known name the calls go to
    QString owner;       // unique name of the server that created the instance
    QString path;
    int timeoutMs = kDefaultTimeoutMs;
    bool owned = false;  // created through the factory: release on destruction
    bool suspended = false;
    bool releaseWithoutWaiting = false;

    bool introspected = false;
    QString iface;
    QList<MethodSig> methods;
    QHash<QString, int> byName;

    enum class MemberKind { Get, Let, Method };

    Impl(const QDBusConnection& b) : bus(b) {}

    CallResult failed(Failure f, const QString& text)
    {
        CallResult r;
        r.failure = f;
        r.error = text;
        if (f == Failure::Timeout) suspended = true;
        return r;
    }

    CallResult fromError(const QDBusMessage& reply, const QString& what)
    {
        const Failure f = failureForError(reply.errorName());
        QString text = reply.errorMessage();
        if (text.isEmpty()) text = reply.errorName();
        if (f == Failure::Timeout) text = QStringLiteral("%1: no answer within %2 ms").arg(what).arg(timeoutMs);
        else text = QStringLiteral("%1: %2").arg(what, text);
        qCDebug(lcAutomation) << progId << path << text;
        return failed(f, text);
    }

    QDBusMessage send(QDBusMessage msg, int timeout)
    {
        msg.setAutoStartService(false);
        if (!bus.isConnected())
            return msg.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
                                        QStringLiteral("not connected to the bus"));
        return bus.call(msg, QDBus::Block, timeout);
    }

    CallResult introspect()
    {
        if (introspected) return {};
        if (suspended) return failed(Failure::Suspended, QStringLiteral("object suspended after a timeout"));
        QDBusMessage msg = QDBusMessage::createMethodCall(destination(), path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                          QStringLiteral("Introspect"));
        return takeIntrospection(send(msg, timeoutMs));
    }

    // The method for a member called with the given dispatch kind. A property
    // get and a method call stand in for each other, like a late-bound call
    // of an expression that names either.
    const MethodSig* resolve(const QString& member, MemberKind kind) const
    {
        auto find = [&](const QString& n) -> const MethodSig* {
            auto it = byName.constFind(n);
            return it == byName.constEnd() ? nullptr : &methods[*it];
        };
        switch (kind) {
        case MemberKind::Get:
            if (auto m = find(QStringLiteral("get_") + member)) return m;
            return find(member);
        case MemberKind::Let:
            return find(QStringLiteral("let_") + member);
        case MemberKind::Method:
            if (auto m = find(member)) return m;
            return find(QStringLiteral("get_") + member);
        }
        return nullptr;
    }

    // The message for a member call, or the reason it can not be sent.
    struct Prepared {
        CallResult failure;
        const MethodSig* method = nullptr;
        QDBusMessage msg;
    };
    Prepared prepare(const QString& member, MemberKind kind, const QVariantList& args)
    {
        Prepared p;
        const MethodSig* m = resolve(member, kind);
        if (!m) {
            const char* what = kind == MemberKind::Get ? "property get" : kind == MemberKind::Let ? "property let" : "member";
            p.failure = failed(Failure::UnknownMember, QStringLiteral("%1 has no %2 %3").arg(iface, QLatin1String(what), member));
            return p;
        }
        if (args.size() != m->in.size()) {
            p.failure = failed(Failure::BadArguments, QStringLiteral("%1 takes %2 argument(s), %3 given").arg(member).arg(m->in.size()).arg(args.size()));
            return p;
        }
        QVariantList wire;
        wire.reserve(args.size());
        for (int i = 0; i < args.size(); ++i) {
            QString why;
            const QVariant w = toWire(args[i], m->in[i].type, m->in[i].date, &why);
            if (!w.isValid()) {
                const QString argName = m->in[i].name.isEmpty() ? QString::number(i + 1) : m->in[i].name;
                p.failure = failed(Failure::BadArguments, QStringLiteral("%1, argument %2: %3").arg(member, argName, why));
                return p;
            }
            wire << w;
        }
        p.method = m;
        p.msg = QDBusMessage::createMethodCall(destination(), path, iface, m->name);
        p.msg.setArguments(wire);
        p.msg.setAutoStartService(false);
        return p;
    }

    // The answer to a prepared call; by-reference values go back into args.
    CallResult finish(const QString& member, const MethodSig* m, const QDBusMessage& reply, QVariantList& args)
    {
        if (reply.type() != QDBusMessage::ReplyMessage) return fromError(reply, member);
        if (reply.signature() != m->outSignature() || reply.arguments().size() != m->out.size())
            return failed(Failure::ServerError, QStringLiteral("%1: answer of type \"%2\" where \"%3\" was declared")
                                                    .arg(member, reply.signature(), m->outSignature()));
        const QVariantList outs = reply.arguments();
        CallResult r;
        if (m->resultIndex >= 0) {
            const ArgSig& a = m->out[m->resultIndex];
            r.value = fromWire(outs[m->resultIndex], a.type, a.date);
        }
        for (int k = 0; k < m->byRefIn.size(); ++k) {
            const ArgSig& a = m->out[m->byRefOut[k]];
            args[m->byRefIn[k]] = fromWire(outs[m->byRefOut[k]], a.type, a.date);
        }
        return r;
    }

    CallResult invoke(const QString& member, MemberKind kind, QVariantList& args)
    {
        if (suspended) return failed(Failure::Suspended, QStringLiteral("%1: object suspended after a timeout").arg(member));
        if (CallResult r = introspect(); !r.ok()) return r;
        Prepared p = prepare(member, kind, args);
        if (!p.method) return p.failure;
        const QDBusMessage reply = send(p.msg, timeoutMs);
        return finish(member, p.method, reply, args);
    }

    // ---- without waiting ------------------------------------------------
    // Lives as long as the Impl; callbacks check it before touching the Impl.
    std::shared_ptr<int> alive = std::make_shared<int>(0);
    bool introspecting = false;
    std::vector<std::function<void(const CallResult&)>> afterIntrospect;

    // Runs fn on this thread's event loop (so that a callback never runs
    // inside the call that asked for it), unless the Impl is gone by then.
    void later(std::function<void()> fn)
    {
        std::weak_ptr<int> token = alive;
        postLater([token, fn = std::move(fn)] { if (!token.expired()) fn(); });
    }

    // Calls back with each answer, unless the Impl is gone by then.
    void whenAnswered(const QDBusPendingCall& pending, std::function<void(const QDBusMessage&)> fn)
    {
        std::weak_ptr<int> token = alive;
        onAnswer(pending, [token, fn = std::move(fn)](const QDBusMessage& reply) {
            if (!token.expired()) fn(reply);
        });
    }

    void introspectAsync(std::function<void(const CallResult&)> then)
    {
        if (introspected) {
            then({});
            return;
        }
        afterIntrospect.push_back(std::move(then));
        if (introspecting) return;
        introspecting = true;
        QDBusMessage msg = QDBusMessage::createMethodCall(destination(), path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                          QStringLiteral("Introspect"));
        msg.setAutoStartService(false);
        whenAnswered(bus.asyncCall(msg, timeoutMs), [this](const QDBusMessage& reply) {
            introspecting = false;
            const CallResult r = introspected ? CallResult{} : takeIntrospection(reply);
            auto waiting = std::move(afterIntrospect);
            afterIntrospect.clear();
            std::weak_ptr<int> token = alive;
            for (auto& fn : waiting) {
                if (token.expired()) return;
                fn(r);
            }
        });
    }

    void invokeAsync(const QString& member, MemberKind kind, const QVariantList& args, AsyncDone done)
    {
        auto fail = [this, args, done](const CallResult& r) {
            if (done) later([done, r, args] { done(r, args); });
        };
        if (suspended) return fail(failed(Failure::Suspended, QStringLiteral("%1: object suspended after a timeout").arg(member)));
        if (!bus.isConnected()) return fail(failed(Failure::NoServer, QStringLiteral("%1: not connected to the bus").arg(member)));
        if (!introspected) {
            // Later calls queue behind the introspection and are sent in the
            // order they were asked for.
            introspectAsync([this, member, kind, args, done](const CallResult& r) {
                if (!r.ok()) {
                    if (done) done(r, args);
                    return;
                }
                invokeAsync(member, kind, args, done);
            });
            return;
        }
        Prepared p = prepare(member, kind, args);
        if (!p.method) return fail(p.failure);
        const MethodSig* m = p.method;
        whenAnswered(bus.asyncCall(p.msg, timeoutMs), [this, member, m, args, done](const QDBusMessage& reply) {
            QVariantList out = args;
            const CallResult r = finish(member, m, reply, out);
            if (done) done(r, out);
        });
    }

    // Calls go to the server that created the instance: after a restart of
    // the server program the old instance is gone, and a call must fail
    // instead of reaching an object of the same path in the new one.
    QString destination() const { return owner.isEmpty() ? progId : owner; }

    CallResult takeIntrospection(const QDBusMessage& reply)
    {
        if (reply.type() != QDBusMessage::ReplyMessage) return fromError(reply, QStringLiteral("Introspect"));
        if (reply.arguments().size() != 1 || reply.signature() != QLatin1String("s"))
            return failed(Failure::ServerError, QStringLiteral("Introspect: unexpected answer"));
        QString err;
        const QList<InterfaceSig> ifaces = parseIntrospection(reply.arguments().first().toString(), &err);
        if (!err.isEmpty()) return failed(Failure::ServerError, err);
        const InterfaceSig* chosen = nullptr;
        for (const InterfaceSig& i : ifaces) {
            if (i.name == progId) { chosen = &i; break; }
        }
        if (!chosen) {
            for (const InterfaceSig& i : ifaces) {
                if (!isStandardInterface(i.name)) { chosen = &i; break; }
            }
        }
        if (!chosen) return failed(Failure::NoObject, QStringLiteral("%1 has no automation interface").arg(path));
        iface = chosen->name;
        methods = chosen->methods;
        byName.clear();
        for (int i = 0; i < methods.size(); ++i) byName.insert(methods[i].name, i);
        introspected = true;
        return {};
    }
};

LateBoundObject::LateBoundObject(std::unique_ptr<Impl> impl) : d(std::move(impl)) {}

LateBoundObject::~LateBoundObject()
{
    if (!d || !d->owned || !d->bus.isConnected()) return;
    QDBusMessage msg = QDBusMessage::createMethodCall(d->owner, QString::fromLatin1(kFactoryPath),
                                                      QString::fromLatin1(kFactoryInterface),
                                                      QStringLiteral("ReleaseInstance"));
    msg << QVariant::fromValue(QDBusObjectPath(d->path));
    msg.setAutoStartService(false);
    if (d->suspended || d->releaseWithoutWaiting) {
        // A hung server would cost another wait; the release is only a
        // courtesy, the server also notices when this client leaves.
        d->bus.send(msg);
        return;
    }
    d->bus.call(msg, QDBus::Block, std::min(d->timeoutMs, kReleaseTimeoutMs));
}

std::unique_ptr<LateBoundObject> LateBoundObject::create(const QDBusConnection& bus, const QString& progId, int timeoutMs,
                                                         QString* error)
{
    auto setError = [&](const QString& text) {
        qCDebug(lcAutomation) << progId << text;
        if (error) *error = text;
    };
    if (!bus.isConnected()) {
        setError(QStringLiteral("not connected to the bus"));
        return nullptr;
    }
    static const QRegularExpression validName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_-]*(\\.[A-Za-z_][A-Za-z0-9_-]*)+$"));
    if (!validName.match(progId).hasMatch() || progId.size() > 255) {
        setError(QStringLiteral("\"%1\" is not a valid class name").arg(progId));
        return nullptr;
    }
    const int t = clampTimeout(timeoutMs);
    QDBusMessage msg = QDBusMessage::createMethodCall(progId, QString::fromLatin1(kFactoryPath),
                                                      QString::fromLatin1(kFactoryInterface),
                                                      QStringLiteral("CreateInstance"));
    const QDBusMessage reply = QDBusConnection(bus).call(msg, QDBus::Block, t);
    QString why;
    auto obj = fromCreateReply(bus, progId, t, reply, &why);
    if (!obj) setError(why);
    return obj;
}

std::unique_ptr<LateBoundObject> LateBoundObject::fromCreateReply(const QDBusConnection& bus, const QString& progId, int timeoutMs,
                                                                  const QDBusMessage& reply, QString* error)
{
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const Failure f = failureForError(reply.errorName());
        *error = QStringLiteral("%1: %2 (%3)").arg(progId, reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage(), describe(f));
        return nullptr;
    }
    if (reply.signature() != QLatin1String("o") || reply.arguments().size() != 1) {
        *error = QStringLiteral("%1: CreateInstance answered \"%2\"").arg(progId, reply.signature());
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(bus);
    impl->progId = progId;
    impl->owner = reply.service();
    impl->path = reply.arguments().first().value<QDBusObjectPath>().path();
    impl->timeoutMs = timeoutMs;
    impl->owned = true;
    return std::unique_ptr<LateBoundObject>(new LateBoundObject(std::move(impl)));
}

std::unique_ptr<LateBoundObject> LateBoundObject::attach(const QDBusConnection& bus, const QString& busName,
                                                         const QString& path, int timeoutMs, QString* error)
{
    static const QRegularExpression validPath(QStringLiteral("^/$|^(/[A-Za-z0-9_]+)+$"));
    if (!validPath.match(path).hasMatch()) {
        if (error) *error = QStringLiteral("\"%1\" is not an object path").arg(path);
        return nullptr;
    }
    const int t = clampTimeout(timeoutMs);
    QDBusMessage msg = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    msg << busName;
    const QDBusMessage reply = bus.isConnected() ? QDBusConnection(bus).call(msg, QDBus::Block, t)
                                                 : msg.createErrorReply(QDBusError::Disconnected, QStringLiteral("not connected to the bus"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        if (error) *error = QStringLiteral("%1: %2").arg(busName, reply.errorMessage());
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(bus);
    impl->progId = busName;
    impl->owner = reply.arguments().first().toString();
    impl->path = path;
    impl->timeoutMs = t;
    impl->owned = false;
    return std::unique_ptr<LateBoundObject>(new LateBoundObject(std::move(impl)));
}

CallResult LateBoundObject::get(const QString& member, const QVariantList& index)
{
    QVariantList args = index;
    return d->invoke(member, Impl::MemberKind::Get, args);
}

CallResult LateBoundObject::let(const QString& member, const QVariant& value, const QVariantList& index)
{
    QVariantList args = index;
    args << value;
    return d->invoke(member, Impl::MemberKind::Let, args);
}

CallResult LateBoundObject::callLong(const QString& member, QVariantList& args, int timeoutMs)
{
    const int saved = d->timeoutMs;
    d->timeoutMs = timeoutMs <= 0 ? saved : std::min(timeoutMs, kMaxLongCallMs);
    CallResult r = d->invoke(member, Impl::MemberKind::Method, args);
    d->timeoutMs = saved;
    return r;
}

CallResult LateBoundObject::call(const QString& member, QVariantList& args)
{
    return d->invoke(member, Impl::MemberKind::Method, args);
}

void LateBoundObject::getAsync(const QString& member, AsyncDone done, const QVariantList& index)
{
    d->invokeAsync(member, Impl::MemberKind::Get, index, std::move(done));
}

void LateBoundObject::letAsync(const QString& member, const QVariant& value, AsyncDone done, const QVariantList& index)
{
    QVariantList args = index;
    args << value;
    d->invokeAsync(member, Impl::MemberKind::Let, args, std::move(done));
}

void LateBoundObject::callAsync(const QString& member, const QVariantList& args, AsyncDone done)
{
    d->invokeAsync(member, Impl::MemberKind::Method, args, std::move(done));
}

QString LateBoundObject::owner() const { return d->owner; }


void LateBoundObject::createAsync(const QDBusConnection& bus, const QString& progId, int timeoutMs, CreateDone done)
{
    auto fail = [done](const QString& text) {
        postLater([done, text] { done(nullptr, text); });
    };
    if (!bus.isConnected()) return fail(QStringLiteral("not connected to the bus"));
    static const QRegularExpression validName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_-]*(\\.[A-Za-z_][A-Za-z0-9_-]*)+$"));
    if (!validName.match(progId).hasMatch() || progId.size() > 255)
        return fail(QStringLiteral("\"%1\" is not a valid class name").arg(progId));
    const int t = clampTimeout(timeoutMs);
    QDBusMessage msg = QDBusMessage::createMethodCall(progId, QString::fromLatin1(kFactoryPath),
                                                      QString::fromLatin1(kFactoryInterface), QStringLiteral("CreateInstance"));
    msg.setAutoStartService(false);
    onAnswer(QDBusConnection(bus).asyncCall(msg, t), [bus, progId, t, done](const QDBusMessage& reply) {
        QString why;
        auto obj = fromCreateReply(bus, progId, t, reply, &why);
        done(std::move(obj), why);
    });
}

void LateBoundObject::nameOwnerAsync(const QDBusConnection& bus, const QString& progId, int timeoutMs,
                                     std::function<void(const QString&)> done)
{
    if (!bus.isConnected()) {
        postLater([done] { done(QString()); });
        return;
    }
    QDBusMessage msg = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    msg << progId;
    onAnswer(QDBusConnection(bus).asyncCall(msg, clampTimeout(timeoutMs)), [done](const QDBusMessage& reply) {
        done(reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() ? reply.arguments().first().toString()
                                                                                        : QString());
    });
}

std::unique_ptr<LateBoundObject> LateBoundObject::objectAt(const QString& path) const
{
    static const QRegularExpression valid(QStringLiteral("^/$|^(/[A-Za-z0-9_]+)+$"));
    if (!valid.match(path).hasMatch()) return nullptr;
    auto impl = std::make_unique<Impl>(d->bus);
    impl->progId = d->progId;
    impl->owner = d->owner;
    impl->path = path;
    impl->timeoutMs = d->timeoutMs;
    impl->owned = false;
    return std::unique_ptr<LateBoundObject>(new LateBoundObject(std::move(impl)));
}

QStringList LateBoundObject::members()
{
    if (!d->introspect().ok()) return {};
    QStringList out;
    for (const MethodSig& m : d->methods) {
        QString n = m.name;
        if (n.startsWith(QLatin1String("get_")) || n.startsWith(QLatin1String("let_"))) n = n.mid(4);
        if (!out.contains(n)) out << n;
    }
    return out;
}

bool LateBoundObject::hasMember(const QString& member)
{
    if (!d->introspect().ok()) return false;
    return d->byName.contains(member) || d->byName.contains(QStringLiteral("get_") + member)
        || d->byName.contains(QStringLiteral("let_") + member);
}

QString LateBoundObject::interfaceName() const { return d->iface; }
bool LateBoundObject::isSuspended() const { return d->suspended; }
void LateBoundObject::resume() { d->suspended = false; }
void LateBoundObject::setReleaseWithoutWaiting(bool on) { d->releaseWithoutWaiting = on; }
void LateBoundObject::setTimeout(int ms) { d->timeoutMs = clampTimeout(ms); }
int LateBoundObject::timeout() const { return d->timeoutMs; }
QString LateBoundObject::progId() const { return d->progId; }
QString LateBoundObject::path() const { return d->path; }

bool LateBoundObject::serverAlive() const
{
    if (!d->bus.isConnected() || d->owner.isEmpty()) return false;
    QDBusMessage msg = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    msg << d->progId;
    const QDBusMessage reply = QDBusConnection(d->bus).call(msg, QDBus::Block, kReleaseTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
        && reply.arguments().first().toString() == d->owner;
}

} // namespace skyvane::automation
