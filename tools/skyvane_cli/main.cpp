// skyvane-cli: a command-line client of the monitor's class for scripts.
#include "Automation.h"
#include "CliValues.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QXmlStreamReader>
#include <cstdio>

using namespace skyvane;
using namespace skyvane::cli;

namespace {

void out(const QString& s)
{
    std::fputs(qPrintable(s + QLatin1Char('\n')), stdout);
}

int fail(int status, const QString& s)
{
    std::fputs(qPrintable(QStringLiteral("skyvane-cli: ") + s + QLatin1Char('\n')), stderr);
    return status;
}

struct MethodInfo {
    QString name;
    QStringList in, inNames, out, outNames;
};

// The D-Bus methods of the instance, from its introspection data.
QList<MethodInfo> introspect(const QDBusConnection& bus, const QString& service, const QString& path, const QString& iface,
                             int timeoutMs)
{
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                    QStringLiteral("Introspect"));
    const QDBusMessage reply = QDBusConnection(bus).call(m, QDBus::Block, timeoutMs);
    QList<MethodInfo> methods;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return methods;
    QXmlStreamReader x(reply.arguments().first().toString());
    bool inIface = false;
    while (!x.atEnd()) {
        x.readNext();
        if (x.isStartElement() && x.name() == QLatin1String("interface"))
            inIface = x.attributes().value(QLatin1String("name")) == iface;
        else if (x.isEndElement() && x.name() == QLatin1String("interface"))
            inIface = false;
        else if (inIface && x.isStartElement() && x.name() == QLatin1String("method"))
            methods << MethodInfo{x.attributes().value(QLatin1String("name")).toString(), {}, {}, {}, {}};
        else if (inIface && x.isStartElement() && x.name() == QLatin1String("arg") && !methods.isEmpty()) {
            const auto a = x.attributes();
            MethodInfo& mi = methods.last();
            if (a.value(QLatin1String("direction")) == QLatin1String("out")) {
                mi.out << a.value(QLatin1String("type")).toString();
                mi.outNames << a.value(QLatin1String("name")).toString();
            } else {
                mi.in << a.value(QLatin1String("type")).toString();
                mi.inNames << a.value(QLatin1String("name")).toString();
            }
        }
    }
    return methods;
}

int exitFor(automation::Failure f)
{
    return (f == automation::Failure::NoServer || f == automation::Failure::NoObject) ? kExitNoServer : kExitFailed;
}

QString failureText(const QString& member, const automation::CallResult& r)
{
    return QStringLiteral("%1: %2 (%3)").arg(member, r.error, automation::describe(r.failure));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Options o = parseArguments(app.arguments().mid(1));
    if (o.command == Command::Help) {
        std::fputs(qPrintable(usage()), stdout);
        return kExitOk;
    }
    if (o.command == Command::Version) {
        out(QStringLiteral("skyvane-cli %1").arg(QStringLiteral(SKYVANE_CLI_VERSION)));
        return kExitOk;
    }
    if (!o.error.isEmpty()) return fail(kExitUsage, o.error + QStringLiteral(" (skyvane-cli --help shows the usage)"));

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(kExitNoServer, QStringLiteral("no session bus: %1").arg(bus.lastError().message()));

    // A monitor that is not running can be started by the bus (session
    // activation). Starting a program takes longer than a call may, so it is
    // asked for by itself, with a generous wait.
    if (!o.noStart && bus.interface()) {
        QDBusConnectionInterface* bi = bus.interface();
        if (!bi->isServiceRegistered(o.progId).value()) {
            const QDBusReply<QStringList> act = bi->call(QStringLiteral("ListActivatableNames"));
            if (act.isValid() && act.value().contains(o.progId)) {
                QDBusMessage start = QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("StartServiceByName"));
                start << o.progId << 0u;
                const QDBusMessage r = bus.call(start, QDBus::Block, 30000);
                if (r.type() != QDBusMessage::ReplyMessage)
                    return fail(kExitNoServer, QStringLiteral("the bus could not start %1: %2").arg(o.progId, r.errorMessage()));
            }
        }
    }

    QString err;
    auto obj = automation::LateBoundObject::create(bus, o.progId, o.timeoutMs, &err);
    if (!obj) return fail(kExitNoServer, QStringLiteral("can not create %1: %2").arg(o.progId, err));

    switch (o.command) {
    case Command::List: {
        const QStringList names = obj->members();
        if (names.isEmpty()) return fail(kExitFailed, QStringLiteral("%1 lists no members").arg(o.progId));
        if (!o.longList) {
            for (const QString& n : names) out(n);
            return kExitOk;
        }
        const QList<MethodInfo> methods = introspect(bus, o.progId, obj->path(), obj->interfaceName(), o.timeoutMs);
        int slot = 0;
        for (const MethodInfo& m : methods) {
            QStringList in;
            for (int i = 0; i < m.in.size(); ++i) in << m.inNames[i] + QLatin1Char(' ') + m.in[i];
            QStringList outs;
            for (int i = 0; i < m.out.size(); ++i) outs << m.outNames[i] + QLatin1Char(' ') + m.out[i];
            out(QStringLiteral("%1\t%2(%3)%4").arg(++slot).arg(m.name, in.join(QStringLiteral(", ")),
                                                             outs.isEmpty() ? QString() : QStringLiteral(" -> ") + outs.join(QStringLiteral(", "))));
        }
        return kExitOk;
    }
    case Command::Get: {
        // Device_Start is a method: "get" calls it, with its long timeout.
        QVariantList none;
        const int timeout = memberTimeoutMs(o.member, o.timeoutMs);
        const automation::CallResult r = timeout > o.timeoutMs ? obj->callLong(o.member, none, timeout) : obj->get(o.member);
        if (!r.ok()) return fail(exitFor(r.failure), failureText(o.member, r));
        if (r.value.isValid()) out(formatValue(r.value));
        return kExitOk;
    }
    case Command::Set: {
        const automation::CallResult r = obj->let(o.member, argumentValue(o.args.first()));
        if (!r.ok()) return fail(exitFor(r.failure), failureText(o.member, r));
        return kExitOk;
    }
    case Command::Call: {
        QVariantList args;
        for (const QString& a : o.args) args << argumentValue(a);
        const int timeout = memberTimeoutMs(o.member, o.timeoutMs);
        const automation::CallResult r =
            timeout > o.timeoutMs ? obj->callLong(o.member, args, timeout) : obj->call(o.member, args);
        if (!r.ok()) return fail(exitFor(r.failure), failureText(o.member, r));
        if (r.value.isValid()) out(formatValue(r.value));
        // By-reference arguments come back under their names.
        const QList<MethodInfo> methods = introspect(bus, o.progId, obj->path(), obj->interfaceName(), o.timeoutMs);
        for (const MethodInfo& m : methods) {
            if (m.name != o.member && m.name != QStringLiteral("get_") + o.member) continue;
            for (int i = 0; i < m.inNames.size() && i < args.size(); ++i)
                if (m.outNames.contains(m.inNames[i])) out(m.inNames[i] + QLatin1Char('=') + formatValue(args[i]));
            break;
        }
        return kExitOk;
    }
    default:
        break;
    }
    return fail(kExitUsage, QStringLiteral("nothing to do"));
}
