#include "OutputsConfig.h"

#include "SettingsStore.h"

namespace skyvane::outputs {

std::vector<SettingRow<OutputsConfig>> outputSettingRows(const QString& programDir)
{
    using namespace settings_codec;
    using Row = SettingRow<OutputsConfig>;
    using St = LoadStage;
    using K = SettingKind;
    std::vector<Row> k;
    const QString window = QStringLiteral("Window");
    const QString file = QStringLiteral("File");
    // The imaging file is read with the window's second part, the user data
    // file after its folder ("Window"/"PathName").
    k.push_back({St::WindowSecond, window, QStringLiteral("FileNameCCDAP4"), K::Text, QString::fromLatin1(kCcdDefaultFileName),
                 [](OutputsConfig& c, const QString& t) { c.fileNameCcdap4 = t; },
                 [](const OutputsConfig& c) { return c.fileNameCcdap4; }});
    k.push_back({St::WindowSecond, window, QStringLiteral("PathNameCCDAP4"), K::Text, programDir,
                 [](OutputsConfig& c, const QString& t) { c.pathNameCcdap4 = t; },
                 [](const OutputsConfig& c) { return c.pathNameCcdap4; }});
    k.push_back({St::WindowUserFile, window, QStringLiteral("FileName"), K::Text, QStringLiteral("Skyvane"),
                 [](OutputsConfig& c, const QString& t) { c.fileName = t; },
                 [](const OutputsConfig& c) { return c.fileName; }});
    k.push_back({St::WindowUserFile, window, QStringLiteral("FreqSave"), K::Integer, QStringLiteral("1"),
                 [](OutputsConfig& c, const QString& t) { c.freqSave = std::max(1, toInt(t, 1)); },
                 [](const OutputsConfig& c) { return QString::number(c.freqSave); }});
    for (int i = 0; i < kColumnCount; ++i) {
        const QString nn = QStringLiteral("%1").arg(i + 1, 2, 10, QLatin1Char('0'));
        const size_t at = size_t(i);
        k.push_back({St::File, file, QStringLiteral("Hdr") + nn, K::Text, defaultHeader(i + 1),
                     [at](OutputsConfig& c, const QString& t) { c.columns.columns[at].header = t.left(kHeaderWidth); },
                     [at](const OutputsConfig& c) { return c.columns.columns[at].header; }});
        k.push_back({St::File, file, QStringLiteral("Cal") + nn, K::Integer, QString::number(i + 1),
                     [at, i](OutputsConfig& c, const QString& t) { c.columns.columns[at].quantity = toInt(t, i + 1); },
                     [at](const OutputsConfig& c) { return QString::number(c.columns.columns[at].quantity); }});
        k.push_back({St::File, file, QStringLiteral("Prt") + nn, K::Option, QStringLiteral("True"),
                     [at](OutputsConfig& c, const QString& t) { c.columns.columns[at].include = toBool(t, true); },
                     [at](const OutputsConfig& c) { return fromBool(c.columns.columns[at].include); }});
    }
    return k;
}

void OutputsConfig::load(const SettingsStore& store, const QString& programDir)
{
    SettingsSchema schema;
    schema.add(outputSettingRows(programDir), *this);
    schema.load(store);
}

void OutputsConfig::save(SettingsStore& store) const
{
    OutputsConfig copy = *this;
    SettingsSchema schema;
    schema.add(outputSettingRows(QString()), copy);
    schema.save(store);
}

} // namespace skyvane::outputs
