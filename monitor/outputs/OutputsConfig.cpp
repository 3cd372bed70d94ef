#include "OutputsConfig.h"

#include "SettingsStore.h"


namespace skyvane::outputs {

namespace {
const QString kApp = QStringLiteral("XOB_Skyvane");

std::vector<OutputsKey> makeKeys(const QString& programDir)
{
    using namespace settings_codec;
    std::vector<OutputsKey> k;
    const QString window = QStringLiteral("Window");
    const QString file = QStringLiteral("File");
    k.push_back({window, QStringLiteral("FileNameCCDAP4"), QString::fromLatin1(kCcdDefaultFileName),
                 [](OutputsConfig& c, const QString& t) { c.fileNameCcdap4 = t; },
                 [](const OutputsConfig& c) { return c.fileNameCcdap4; }});
    k.push_back({window, QStringLiteral("PathNameCCDAP4"), programDir,
                 [](OutputsConfig& c, const QString& t) { c.pathNameCcdap4 = t; },
                 [](const OutputsConfig& c) { return c.pathNameCcdap4; }});
    k.push_back({window, QStringLiteral("FileName"), QStringLiteral("Skyvane"),
                 [](OutputsConfig& c, const QString& t) { c.fileName = t; },
                 [](const OutputsConfig& c) { return c.fileName; }});
    k.push_back({window, QStringLiteral("FreqSave"), QStringLiteral("1"),
                 [](OutputsConfig& c, const QString& t) { c.freqSave = std::max(1, toInt(t, 1)); },
                 [](const OutputsConfig& c) { return QString::number(c.freqSave); }});
    for (int i = 0; i < kColumnCount; ++i) {
        const QString nn = QStringLiteral("%1").arg(i + 1, 2, 10, QLatin1Char('0'));
        const size_t at = size_t(i);
        k.push_back({file, QStringLiteral("Hdr") + nn, defaultHeader(i + 1),
                     [at](OutputsConfig& c, const QString& t) { c.columns.columns[at].header = t.left(kHeaderWidth); },
                     [at](const OutputsConfig& c) { return c.columns.columns[at].header; }});
        k.push_back({file, QStringLiteral("Cal") + nn, QString::number(i + 1),
                     [at, i](OutputsConfig& c, const QString& t) { c.columns.columns[at].quantity = toInt(t, i + 1); },
                     [at](const OutputsConfig& c) { return QString::number(c.columns.columns[at].quantity); }});
        k.push_back({file, QStringLiteral("Prt") + nn, QStringLiteral("True"),
                     [at](OutputsConfig& c, const QString& t) { c.columns.columns[at].include = toBool(t, true); },
                     [at](const OutputsConfig& c) { return fromBool(c.columns.columns[at].include); }});
    }
    k.push_back({file, QStringLiteral("DispFileNameOnly"), QStringLiteral("0"),
                 [](OutputsConfig& c, const QString& t) { c.dispFileNameOnly = toInt(t, 0) != 0; },
                 [](const OutputsConfig& c) { return c.dispFileNameOnly ? QStringLiteral("1") : QStringLiteral("0"); }});
    return k;
}
} // namespace

std::vector<OutputsKey> outputsKeys(const QString& programDir) { return makeKeys(programDir); }

void OutputsConfig::load(const SettingsStore& store, const QString& programDir)
{
    for (const OutputsKey& k : outputsKeys(programDir)) k.set(*this, store.get(kApp, k.section, k.key, k.def));
}

void OutputsConfig::save(SettingsStore& store) const
{
    for (const OutputsKey& k : outputsKeys(QString())) store.save(kApp, k.section, k.key, k.get(*this));
}

} // namespace skyvane::outputs
