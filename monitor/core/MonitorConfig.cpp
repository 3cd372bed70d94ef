#include "MonitorConfig.h"

#include "SettingsStore.h"

namespace skyvane {

QString versionDigits()
{
    return QStringLiteral("%1.%2.%3")
        .arg(SKYVANE_VERSION_MAJOR)
        .arg(SKYVANE_VERSION_MINOR, 2, 10, QLatin1Char('0'))
        .arg(SKYVANE_VERSION_REVISION, 3, 10, QLatin1Char('0'));
}

QString titleText() { return QStringLiteral("XOB_Skyvane (v%1)").arg(versionDigits()); }



int leadingInt(const QString& item)
{
    const QString t = item.trimmed();
    int i = 0;
    while (i < t.size() && t[i].isDigit()) ++i;
    return t.left(i).toInt();
}

namespace {
qint64 readIntervalOverride = 0;
}

void setReadIntervalOverride(qint64 ms) { readIntervalOverride = ms > 0 ? std::max<qint64>(ms, 1000) : 0; }

qint64 MonitorConfig::readIntervalMs() const
{
    if (readIntervalOverride > 0) return readIntervalOverride;
    return qint64(leadingInt(kRefreshReadItems[std::clamp(refreshRead, 0, 3)].left(2))) * 1000;
}

bool MonitorConfig::anyGraphImage() const
{
    for (bool b : graphImage)
        if (b) return true;
    return false;
}

namespace {

using Row = SettingRow<MonitorConfig>;
using St = LoadStage;
template <class F>
using Ref = SettingRef<MonitorConfig, F>;

const QString kWindow = QStringLiteral("Window");
const QString kSetup = QStringLiteral("Setup");
const QString kLimit = QStringLiteral("Limit");
const QString kGraphs = QStringLiteral("Graphs");

const auto& kGraphNames = outputs::kImageSuffixes;

std::vector<Row> buildRows()
{
    std::vector<Row> rows;
    const auto add = [&rows](Row r) { rows.push_back(std::move(r)); };
    const auto programDir = [](const MonitorConfig& c) { return c.programDir; };

    // "Window", first part.
    add(rowText<MonitorConfig>(St::WindowFirst, kWindow, QStringLiteral("LastUpdateMsg"), QString(),
                               [](MonitorConfig& c) -> QString& { return c.lastUpdateMsg; }));
    for (const bool isLeft : {true, false}) {
        Row r = rowInteger<MonitorConfig>(St::WindowFirst, kWindow, isLeft ? QStringLiteral("Left") : QStringLiteral("Top"), 0,
                                          -1000000, 1000000, [isLeft](MonitorConfig& c) -> int& {
                                              return isLeft ? c.window.left : c.window.top;
                                          });
        r.dynamicDefault = [isLeft](const MonitorConfig& c) {
            return QString::number(isLeft ? c.window.centreLeft : c.window.centreTop);
        };
        // A position that is not a number gives the centred one too.
        r.apply = [isLeft](MonitorConfig& c, const QString& t) {
            const int centre = isLeft ? c.window.centreLeft : c.window.centreTop;
            (isLeft ? c.window.left : c.window.top) = setting_rows::intValue(t, centre);
        };
        r.savable = [](const MonitorConfig& c) { return !c.window.minimised; };
        add(std::move(r));
    }
    for (int i = 0; i < 3; ++i)
        add(rowInteger<MonitorConfig>(St::WindowFirst, kWindow, QStringLiteral("SSTab%1").arg(i + 1), i == 1 ? 1 : 0, 0, 99,
                                      [i](MonitorConfig& c) -> int& { return c.window.ssTab[std::size_t(i)]; }));
    add(rowText<MonitorConfig>(St::WindowFirst, kWindow, QStringLiteral("XOB_News"), QString(),
                               [](MonitorConfig& c) -> QString& { return c.news; }));
    rows.back().saveRule = SaveRule::ImmediateOnly;

    // "Limit": the date format of the weather-station file.
    for (int i = 0; i < 2; ++i)
        add(rowGroupOption<MonitorConfig, int>(St::LimitUnits, kLimit, QStringLiteral("DateFormat%1").arg(i), i, i == 0,
                                               [](MonitorConfig& c) -> int& { return c.dateFormat; }));

    // "Window", second part: the panel scroll bars.
    for (int i : {0, 1, 3})
        add(rowInteger<MonitorConfig>(St::WindowSecond, kWindow, QStringLiteral("VScrollPos%1").arg(i), i == 3 ? 15 : 0, 0,
                                      32767, [i](MonitorConfig& c) -> int& { return c.window.vScrollPos[std::size_t(i)]; }));
    add(rowInteger<MonitorConfig>(St::WindowSecond, kWindow, QStringLiteral("HScrollPos2"), 15, 0, 32767,
                                  [](MonitorConfig& c) -> int& { return c.window.hScrollPos2; }));

    // "Setup"
    add(rowCheck<MonitorConfig>(St::Setup, kSetup, QStringLiteral("ReadStation"), true,
                                [](MonitorConfig& c) -> bool& { return c.readStation; }));
    add(rowCheck<MonitorConfig>(St::Setup, kSetup, QStringLiteral("Upload"), false,
                                [](MonitorConfig& c) -> bool& { return c.upload; }));
    add(rowText<MonitorConfig>(St::Setup, kSetup, QStringLiteral("HTMFile"), QString(),
                               [](MonitorConfig& c) -> QString& { return c.htmFile; }));
    add(rowNumber<MonitorConfig>(St::Setup, kSetup, QStringLiteral("NPTimeout"), QStringLiteral("10"),
                                 [](MonitorConfig& c) -> double& { return c.npTimeout; }));
    add(rowInteger<MonitorConfig>(St::Setup, kSetup, QStringLiteral("RefreshRead"), 1, 0, 3,
                                  [](MonitorConfig& c) -> int& { return c.refreshRead; }));
    add(rowNumber<MonitorConfig>(St::Setup, kSetup, QStringLiteral("TimeoutREAD"), QStringLiteral("3"),
                                 [](MonitorConfig& c) -> double& { return c.timeoutRead; }));
    add(rowCheck<MonitorConfig>(St::Setup, kSetup, QStringLiteral("Emulator"), true,
                                [](MonitorConfig& c) -> bool& { return c.emulator; }));
    for (int i = 0; i < 2; ++i)
        add(rowGroupOption<MonitorConfig, int>(St::Setup, kSetup, QStringLiteral("SWRole%1").arg(i), i, i == 0,
                                               [](MonitorConfig& c) -> int& { return c.swRole; }));

    // "Graphs": which graphs are kept as images, and where (the graphs
    // declare their own keys).
    for (int i = 0; i < GraphImageCount; ++i)
        add(rowCheck<MonitorConfig>(St::Graphs, kGraphs, QStringLiteral("Image") + QLatin1String(kGraphNames[i]), true,
                                    [i](MonitorConfig& c) -> bool& { return c.graphImage[std::size_t(i)]; }));
    Row graphPath = rowText<MonitorConfig>(St::Graphs, kGraphs, QStringLiteral("GraphImagePath"), QString(),
                                           [](MonitorConfig& c) -> QString& { return c.graphImagePath; });
    graphPath.dynamicDefault = programDir;
    add(std::move(graphPath));

    // "Window", user data file: its folder is checked by the start procedure.
    Row pathName = rowText<MonitorConfig>(St::WindowUserFile, kWindow, QStringLiteral("PathName"), QString(),
                                          [](MonitorConfig& c) -> QString& { return c.pathName; });
    pathName.dynamicDefault = programDir;
    add(std::move(pathName));
    return rows;
}

} // namespace

const std::vector<SettingRow<MonitorConfig>>& monitorConfigRows()
{
    static const std::vector<SettingRow<MonitorConfig>> rows = buildRows();
    return rows;
}

void MonitorConfig::load(const SettingsStore& s, const QString& folder)
{
    programDir = folder;
    SettingsSchema schema;
    schema.add(monitorConfigRows(), *this);
    schema.load(s);
}

void MonitorConfig::save(SettingsStore& s) const
{
    MonitorConfig copy = *this;
    SettingsSchema schema;
    schema.add(monitorConfigRows(), copy);
    schema.save(s);
}

} // namespace skyvane
