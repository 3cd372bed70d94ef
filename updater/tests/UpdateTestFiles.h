#pragma once
// Files of the update tests: a stand-in "monitor" program that answers
// --version and notes each start, and small file helpers.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace skyvane::testing {

// A shell script that answers --version with `version` as the monitor does,
// and otherwise appends `version` to started.log beside itself.
inline QByteArray monitorScript(const char* version)
{
    return QByteArray("#!/bin/sh\nif [ \"$1\" = --version ]; then echo \"XOB_Skyvane ") + version
           + "\"; exit 0; fi\necho \"" + version + "\" >> \"$(dirname \"$0\")/started.log\"\n";
}

// Writes `data` to `path`, making its folder; `exe` makes it executable.
inline bool writeFile(const QString& path, const QByteArray& data, bool exe = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    f.write(data);
    f.close();
    if (exe) f.setPermissions(f.permissions() | QFile::ExeOwner);
    return true;
}

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace skyvane::testing
