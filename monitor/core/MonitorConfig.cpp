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

qint64 MonitorConfig::uploadIntervalMs() const
{
    return qint64(leadingInt(kRefreshUploadItems[std::clamp(refreshUpload, 0, 3)].left(2))) * 1000;
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
                               [](MonitorConfig& c) -> QString& { return c.later.lastUpdateMsg; }));
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
                               [](MonitorConfig& c) -> QString& { return c.later.news; }));
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
    add(rowText<MonitorConfig>(St::Setup, kSetup, QStringLiteral("Server"), QString(),
                               [](MonitorConfig& c) -> QString& { return c.later.server; }));
    add(rowText<MonitorConfig>(St::Setup, kSetup, QStringLiteral("ServerPath"), QString(),
                               [](MonitorConfig& c) -> QString& { return c.later.serverPath; }));
    add(rowText<MonitorConfig>(St::Setup, kSetup, QStringLiteral("Username"), QString(),
                               [](MonitorConfig& c) -> QString& { return c.later.username; }));
    add(rowText<MonitorConfig>(St::Setup, kSetup, QStringLiteral("Password"), QString(),
                               [](MonitorConfig& c) -> QString& { return c.later.password; }));
    add(rowNumber<MonitorConfig>(St::Setup, kSetup, QStringLiteral("UploadOnSec"), QStringLiteral("15"),
                                 [](MonitorConfig& c) -> double& { return c.later.uploadOnSec; }));
    add(rowNumber<MonitorConfig>(St::Setup, kSetup, QStringLiteral("TimeoutUPLOAD"), QStringLiteral("60"),
                                 [](MonitorConfig& c) -> double& { return c.later.timeoutUpload; }));
    add(rowNumber<MonitorConfig>(St::Setup, kSetup, QStringLiteral("NPTimeout"), QStringLiteral("10"),
                                 [](MonitorConfig& c) -> double& { return c.npTimeout; }));
    add(rowInteger<MonitorConfig>(St::Setup, kSetup, QStringLiteral("RefreshUpload"), 3, 0, 3,
                                  [](MonitorConfig& c) -> int& { return c.refreshUpload; }));
    add(rowInteger<MonitorConfig>(St::Setup, kSetup, QStringLiteral("RefreshRead"), 1, 0, 3,
                                  [](MonitorConfig& c) -> int& { return c.refreshRead; }));
    add(rowNumber<MonitorConfig>(St::Setup, kSetup, QStringLiteral("TimeoutREAD"), QStringLiteral("3"),
                                 [](MonitorConfig& c) -> double& { return c.timeoutRead; }));
    add(rowText<MonitorConfig>(St::Setup, kSetup, QStringLiteral("UploadDir"), QString(),
                               [](MonitorConfig& c) -> QString& { return c.later.uploadDir; }));
    add(rowCheck<MonitorConfig>(St::Setup, kSetup, QStringLiteral("Emulator"), true,
                                [](MonitorConfig& c) -> bool& { return c.emulator; }));
    for (int i = 0; i < 2; ++i)
        add(rowGroupOption<MonitorConfig, int>(St::Setup, kSetup, QStringLiteral("SWRole%1").arg(i), i, i == 0,
                                               [](MonitorConfig& c) -> int& { return c.swRole; }));

    // "Graphs"
    add(rowNumber<MonitorConfig>(St::Graphs, kGraphs, QStringLiteral("GraphNoPoints"), QStringLiteral("120"),
                                 [](MonitorConfig& c) -> double& { return c.later.graphNoPoints; }));
    add(rowNumber<MonitorConfig>(St::Graphs, kGraphs, QStringLiteral("GraphFreq"), QStringLiteral("6"),
                                 [](MonitorConfig& c) -> double& { return c.later.graphFreq; }));
    for (int i = 0; i < GraphImageCount; ++i)
        add(rowCheck<MonitorConfig>(St::Graphs, kGraphs, QStringLiteral("Generate") + QLatin1String(kGraphNames[i]), true,
                                    [i](MonitorConfig& c) -> bool& { return c.later.generate[std::size_t(i)]; }));
    for (int i = 0; i < GraphImageCount; ++i)
        add(rowCheck<MonitorConfig>(St::Graphs, kGraphs, QStringLiteral("Image") + QLatin1String(kGraphNames[i]), true,
                                    [i](MonitorConfig& c) -> bool& { return c.graphImage[std::size_t(i)]; }));
    const MonitorConfig factory;
    for (int i = 0; i < GraphImageCount; ++i) {
        const int items = i == ImageDir ? 3 : 2;
        for (int k = 0; k < items; ++k)
            add(rowColour<MonitorConfig>(St::Graphs, kGraphs, QStringLiteral("GraphColor%1%2").arg(QLatin1String(kGraphNames[i])).arg(k),
                                         factory.later.graphColours[std::size_t(i)][std::size_t(k)],
                                         [i, k](MonitorConfig& c) -> int& {
                                             return c.later.graphColours[std::size_t(i)][std::size_t(k)];
                                         }));
    }
    add(rowCheck<MonitorConfig>(St::Graphs, kGraphs, QStringLiteral("ImageType"), true,
                                [](MonitorConfig& c) -> bool& { return c.later.imageTypePng; }));
    const char* const qualities[] = {"QualityTop", "QualityGood", "QualityNormal"};
    for (int i = 0; i < 3; ++i) {
        Row q = rowGroupOption<MonitorConfig, int>(St::Graphs, kGraphs, QLatin1String(qualities[i]), i, i == 2,
                                                   [](MonitorConfig& c) -> int& { return c.later.imageQuality; });
        // A file with none of the three set means no option selected (the
        // library's own JPEG quality), not the default: the group starts
        // empty and takes the option that is set.
        if (i == 0) {
            auto apply = q.apply;
            q.apply = [apply](MonitorConfig& c, const QString& v) {
                c.later.imageQuality = -1;
                apply(c, v);
            };
        }
        add(std::move(q));
    }
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

std::vector<SettingListRow<MonitorConfig>> buildLists()
{
    using Entry = LaterFeatures::UploadEntry;
    SettingListRow<MonitorConfig> uploads{
        St::Setup,
        kSetup,
        QStringLiteral("NoFiles"),
        {QStringLiteral("FileName"), QStringLiteral("FilePath"), QStringLiteral("FileUpload")},
        {SettingKind::Text, SettingKind::Text, SettingKind::Option},
        {QString(), QString(), QStringLiteral("False")},
        [](const MonitorConfig& c) { return int(c.later.uploadList.size()); },
        [](MonitorConfig& c, int n) { c.later.uploadList.resize(std::size_t(n)); },
        [](const MonitorConfig& c, int i, int f) {
            const Entry& e = c.later.uploadList[std::size_t(i)];
            return f == 0 ? e.fileName : f == 1 ? e.filePath : setting_rows::optionText(e.uploadOnce);
        },
        [](MonitorConfig& c, int i, int f, const QString& t) {
            Entry& e = c.later.uploadList[std::size_t(i)];
            if (f == 0) e.fileName = t;
            else if (f == 1) e.filePath = t;
            else e.uploadOnce = setting_rows::optionValue(t, false);
        }};
    return {uploads};
}

} // namespace

const std::vector<SettingRow<MonitorConfig>>& monitorConfigRows()
{
    static const std::vector<SettingRow<MonitorConfig>> rows = buildRows();
    return rows;
}

const std::vector<SettingListRow<MonitorConfig>>& monitorConfigLists()
{
    static const std::vector<SettingListRow<MonitorConfig>> lists = buildLists();
    return lists;
}

void MonitorConfig::load(const SettingsStore& s, const QString& folder)
{
    programDir = folder;
    SettingsSchema schema;
    schema.add(monitorConfigRows(), *this);
    schema.add(monitorConfigLists(), *this);
    schema.load(s);
}

void MonitorConfig::save(SettingsStore& s) const
{
    MonitorConfig copy = *this;
    SettingsSchema schema;
    schema.add(monitorConfigRows(), copy);
    schema.add(monitorConfigLists(), copy);
    schema.save(s);
}

} // namespace skyvane
