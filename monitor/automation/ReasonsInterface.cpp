#include "ReasonsInterface.h"

#include "MonitorApi.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace skyvane::nephor {

using automation::Call;
using automation::Reply;

std::shared_ptr<const automation::ClassSpec> reasonsClass()
{
    static const std::shared_ptr<const automation::ClassSpec> spec = [] {
        auto c = std::make_shared<automation::ClassSpec>(QString::fromLatin1(kReasonsInterface));
        c->declare(QStringLiteral(R"(
            get Unsafe : b
            get ReasonCount : i
            get Reasons : s
            get ReasonsJson : s
            get Reason(index i) : s
            get ReasonCause(index i) : s
            get LastUpload : s
        )"));
        return c;
    }();
    return spec;
}

QString reasonsIntrospection()
{
    return QStringLiteral(
               "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
               "<!-- Why the monitor is unsafe: object /Reasons of the bus name XOB_Skyvane.Nephor.\n"
               "     ReasonCount is 0 exactly when Unsafe is false; both come from the one\n"
               "     evaluation that set the flag. -->\n"
               "<node name=\"/Reasons\">\n") +
           reasonsClass()->interfaceXml(2) + QStringLiteral("</node>\n");
}

bool publishReasons(automation::AutomationServer& server, const MonitorApi& core, QString* error)
{
    const MonitorApi* c = &core;
    auto handler = [c](Call& call) -> Reply {
        const QString& name = call.member->name;
        // Read once per call: the flag and its reasons come from one place.
        const std::vector<conditions::UnsafeReason> reasons = c->unsafeReasons();
        if (name == QLatin1String("Unsafe")) return Reply::ok(!reasons.empty());
        if (name == QLatin1String("ReasonCount")) return Reply::ok(int(reasons.size()));
        if (name == QLatin1String("Reasons")) return Reply::ok(conditions::reasonsText(reasons));
        if (name == QLatin1String("ReasonsJson")) return Reply::ok(QString::fromUtf8(conditions::reasonsJson(reasons)));
        if (name == QLatin1String("LastUpload")) {
            const QJsonValue v = outputs::uploadRunJson(c->uploads().lastRun());
            return Reply::ok(v.isObject() ? QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact))
                                          : QStringLiteral("null"));
        }
        const int i = call.arg(0).toInt();
        if (i < 0 || i >= int(reasons.size()))
            return Reply::fail(automation::Failure::BadArguments,
                               QStringLiteral("no reason %1 (there are %2)").arg(i).arg(reasons.size()));
        if (name == QLatin1String("Reason")) return Reply::ok(conditions::reasonText(reasons[std::size_t(i)]));
        return Reply::ok(conditions::causeName(reasons[std::size_t(i)].cause));
    };
    return server.addObject(QString::fromLatin1(kReasonsPath), reasonsClass(), handler, error);
}

} // namespace skyvane::nephor
