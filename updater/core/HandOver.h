#pragma once
// The hand-over file "XOB_Updater.txt" that the monitor's update check leaves
// for the updater, and the checks every name and address in it must pass.
//
// Record 1 is written by the monitor: "Title", caption, window left and top,
// program to start at the end. Records 2..n are the update server's
// description: display name, address, local name, target name (empty: do not
// install), backup name. Fields are comma-separated; a field may be quoted
// ("a, b"), with "" standing for a quote inside it.
//
// The description comes from the network: whatever it names must stay inside
// the program directory, and whatever it fetches must come over https (plain
// http only from this machine, for tests and the demo).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace skyvane::updater {

inline constexpr const char* kHandOverFile = "XOB_Updater.txt";

// Records of the file, each padded or cut to five fields. Blank lines are
// skipped.
std::vector<QStringList> parseRecords(const QByteArray& data);

// Writes one field as the monitor always has: text quoted, numbers bare.
QByteArray quoteField(const QString& text);

// The first record, as the monitor writes it (with its line break).
QByteArray titleRecord(const QString& caption, int left, int top, const QString& program);

// True for a plain file name: not empty, no '/' or '\\', not "." or "..", no
// drive letter, no control characters.
bool isPlainFileName(const QString& name);

// Empty when the address may be fetched; otherwise why not.
QString addressProblem(const QString& address);

// One download of the description.
struct FileRecord {
    QString display;
    QString address;
    QString local;
    QString target; // empty: downloaded, not installed
    QString backup;
};

struct HandOver {
    QString caption = QStringLiteral("XOB_Skyvane");
    int left = 0;
    int top = 0;
    QString program;           // started at the end; empty: nothing
    std::vector<FileRecord> files;
    QString problem;           // empty when every record may be used
};

// Reads the records into a hand-over and checks every name and address; the
// first offending record is named in problem.
HandOver interpret(const std::vector<QStringList>& records);

} // namespace skyvane::updater
