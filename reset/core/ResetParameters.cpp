#include "ResetParameters.h"

#include "SettingsStore.h"

namespace skyvane::reset {

namespace {
const QString kMonitor = QStringLiteral("XOB_Skyvane");
const QString kUploader = QStringLiteral("XOB_Uploader");
} // namespace

const std::vector<GroupInfo>& groups()
{
    static const std::vector<GroupInfo> rows{
        {Group::All, QStringLiteral("ALL parameters"), QStringLiteral("all"),
         QStringLiteral("ALL parameters of XOB_Skyvane have been reset")},
        {Group::Alarms, QStringLiteral("ALARMS only"), QStringLiteral("alarms"), QStringLiteral("ALARMS have been resetted")},
        {Group::Colours, QStringLiteral("COLOURS + DESCRIPTIONS only"), QStringLiteral("colours"),
         QStringLiteral("COLOURS & DESCRIPTIONS have been resetted")},
        {Group::Limits, QStringLiteral("LIMITS only"), QStringLiteral("limits"), QStringLiteral("LIMITS have been resetted")},
        {Group::Unsafe, QStringLiteral("UNSAFE Conditions only"), QStringLiteral("unsafe"),
         QStringLiteral("UNSAFE Conditions have been resetted")},
        {Group::Graphs, QStringLiteral("GRAPHS only"), QStringLiteral("graphs"), QStringLiteral("GRAPHS have been resetted")},
    };
    return rows;
}

const GroupInfo& info(Group g)
{
    for (const GroupInfo& i : groups())
        if (i.group == g) return i;
    return groups().front();
}

std::vector<Deletion> deletionsOf(Group g)
{
    const auto monitor = [](std::initializer_list<const char*> sections) {
        std::vector<Deletion> d;
        for (const char* s : sections) d.push_back({kMonitor, QString::fromLatin1(s)});
        return d;
    };
    switch (g) {
    case Group::All: {
        // Sections first: the application goes only once it is empty.
        auto d = monitor({"Alarms", "Color", "Description", "Graphs", "Limit", "Setup", "Unsafe", "Window", "File"});
        d.push_back({kMonitor, QString()});
        d.push_back({kUploader, QStringLiteral("Setup")});
        d.push_back({kUploader, QStringLiteral("Window")});
        d.push_back({kUploader, QString()});
        return d;
    }
    case Group::Alarms: return monitor({"Alarms"});
    case Group::Colours: return monitor({"Color", "Description"});
    case Group::Limits: return monitor({"Limit"});
    case Group::Unsafe: return monitor({"Unsafe"});
    case Group::Graphs: return monitor({"Graphs"});
    }
    return {};
}

QString resetGroup(SettingsStore& store, Group g)
{
    // Another program (the monitor, the uploader) may have written since this
    // store was opened: work on what is on disk now.
    store.reload(kMonitor);
    store.reload(kUploader);
    for (const Deletion& d : deletionsOf(g)) {
        if (!d.section.isEmpty()) {
            store.deleteSection(d.application, d.section);
        } else if (store.sections(d.application).isEmpty()) {
            store.deleteApplication(d.application);
        }
    }
    store.sync();
    return info(g).message;
}

QString versionLabel()
{
    return QStringLiteral("XOB_Skyvane (v%1.%2.%3)")
        .arg(SKYVANE_VERSION_MAJOR)
        .arg(SKYVANE_VERSION_MINOR, 2, 10, QLatin1Char('0'))
        .arg(SKYVANE_VERSION_REVISION, 3, 10, QLatin1Char('0'));
}

} // namespace skyvane::reset
