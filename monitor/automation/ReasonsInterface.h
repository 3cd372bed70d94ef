#pragma once
// Why the monitor is unsafe, for programs on the bus: the object /Reasons
// beside the class's objects, interface "XOB_Skyvane.Reasons". A separate
// interface, so the class and its member order stay as clients know them.
//
//   get Unsafe : b        the flag as the class reports it
//   get ReasonCount : i   how many reasons (0 exactly when Unsafe is false)
//   get Reasons : s       one reason per line, for people
//   get ReasonsJson : s   the reasons as a JSON array (cause, text, quantity,
//                         level, value, rule, sector, minutes)
//   get Reason(index i) : s       reason i (0-based) as text
//   get ReasonCause(index i) : s  its cause name ("marked-level", ...)
//   get LastUpload : s            the uploader's last run as JSON (time, ok,
//                                 filesSent, files, message), or "null"

#include "AutomationServer.h"

#include <memory>

namespace skyvane {
class MonitorApi;
}

namespace skyvane::nephor {

inline constexpr const char* kReasonsPath = "/Reasons";
inline constexpr const char* kReasonsInterface = "XOB_Skyvane.Reasons";

std::shared_ptr<const automation::ClassSpec> reasonsClass();
// The introspection document of /Reasons (docs/reasons.xml).
QString reasonsIntrospection();
// Adds /Reasons to the server (before or after it took its name).
bool publishReasons(automation::AutomationServer& server, const MonitorApi& core, QString* error = nullptr);

} // namespace skyvane::nephor
