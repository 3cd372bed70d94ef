#include "MonitorConfig.h"

#include "SettingsStore.h"

namespace skyvane {

namespace {
const char* const kImageKeys[GraphImageCount] = {"ImageWind", "ImageGust", "ImageDir", "ImageHum", "ImageDew", "ImageTemp"};
}

int leadingInt(const QString& item)
{
    const QString t = item.trimmed();
    int i = 0;
    while (i < t.size() && t[i].isDigit()) ++i;
    return t.left(i).toInt();
}

qint64 MonitorConfig::readIntervalMs() const
{
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

void MonitorConfig::load(const SettingsStore& s, const QString& programDir)
{
    using namespace settings_codec;
    const QString app = QString::fromLatin1(kAppName);
    auto get = [&](const char* section, const char* key, const QString& def) {
        return s.get(app, QString::fromLatin1(section), QString::fromLatin1(key), def);
    };
    dateFormat = toBool(get("Limit", "DateFormat1", QStringLiteral("False")), false) ? 1 : 0;
    readStation = toInt(get("Setup", "ReadStation", QStringLiteral("1")), 1) != 0;
    upload = toInt(get("Setup", "Upload", QStringLiteral("0")), 0) != 0;
    htmFile = get("Setup", "HTMFile", QString());
    npTimeout = toDouble(get("Setup", "NPTimeout", QStringLiteral("10")), 10);
    refreshUpload = std::clamp(toInt(get("Setup", "RefreshUpload", QStringLiteral("3")), 3), 0, 3);
    refreshRead = std::clamp(toInt(get("Setup", "RefreshRead", QStringLiteral("1")), 1), 0, 3);
    timeoutRead = toDouble(get("Setup", "TimeoutREAD", QStringLiteral("3")), 3);
    emulator = toInt(get("Setup", "Emulator", QStringLiteral("1")), 1) != 0;
    swRole = toBool(get("Setup", "SWRole1", QStringLiteral("False")), false) ? 1 : 0;
    for (int i = 0; i < GraphImageCount; ++i)
        graphImage[i] = toInt(get("Graphs", kImageKeys[i], QStringLiteral("1")), 1) != 0;
    graphImagePath = get("Graphs", "GraphImagePath", programDir);
    pathName = get("Window", "PathName", programDir);
}

void MonitorConfig::save(SettingsStore& s) const
{
    using namespace settings_codec;
    const QString app = QString::fromLatin1(kAppName);
    auto put = [&](const char* section, const QString& key, const QString& value) {
        s.save(app, QString::fromLatin1(section), key, value);
    };
    auto flag = [](bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); };
    put("Limit", QStringLiteral("DateFormat0"), fromBool(dateFormat == 0));
    put("Limit", QStringLiteral("DateFormat1"), fromBool(dateFormat == 1));
    put("Setup", QStringLiteral("ReadStation"), flag(readStation));
    put("Setup", QStringLiteral("Upload"), flag(upload));
    put("Setup", QStringLiteral("HTMFile"), htmFile);
    put("Setup", QStringLiteral("NPTimeout"), fromDouble(npTimeout));
    put("Setup", QStringLiteral("RefreshUpload"), QString::number(refreshUpload));
    put("Setup", QStringLiteral("RefreshRead"), QString::number(refreshRead));
    put("Setup", QStringLiteral("TimeoutREAD"), fromDouble(timeoutRead));
    put("Setup", QStringLiteral("Emulator"), flag(emulator));
    put("Setup", QStringLiteral("SWRole0"), fromBool(swRole == 0));
    put("Setup", QStringLiteral("SWRole1"), fromBool(swRole == 1));
    for (int i = 0; i < GraphImageCount; ++i) put("Graphs", QString::fromLatin1(kImageKeys[i]), flag(graphImage[i]));
    put("Graphs", QStringLiteral("GraphImagePath"), graphImagePath);
    put("Window", QStringLiteral("PathName"), pathName);
}

} // namespace skyvane
