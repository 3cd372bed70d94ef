#pragma once
// The deletions of the settings reset tool. Each group deletes whole sections
// of the monitor's store (and, for everything, the uploader's store too); the
// monitor writes every missing key back with its default at its next start,
// and shows its first-run dialog when "Setup" is gone.

#include <QString>
#include <QStringList>
#include <vector>

namespace skyvane {
class SettingsStore;

namespace reset {

enum class Group { All, Alarms, Colours, Limits, Unsafe, Graphs };

struct GroupInfo {
    Group group;
    QString label;   // the row's label in the window
    QString option;  // the command-line switch, without the dashes
    QString message; // shown (or printed) afterwards
};

// The six rows in window order.
const std::vector<GroupInfo>& groups();
const GroupInfo& info(Group g);

// One deletion as it is made: a section of an application, or (empty section)
// the application itself once its sections are gone.
struct Deletion {
    QString application;
    QString section;
    bool operator==(const Deletion&) const = default;
};
// The deletions of a group, in the order they are made.
std::vector<Deletion> deletionsOf(Group g);

// Runs the deletions of the group on the store and writes the result to disk.
// Missing sections are skipped; the application itself is removed only when
// none of its sections are left (a section nobody knows is kept, as a
// registry key with subkeys is). Returns the group's message, which stands
// whatever was or was not there.
QString resetGroup(SettingsStore& store, Group g);

// "XOB_Skyvane (v5.02.015)"
QString versionLabel();

} // namespace reset
} // namespace skyvane
