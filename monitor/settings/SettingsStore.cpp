#include "SettingsStore.h"

#include "Format.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <cmath>

namespace skyvane {

SettingsStore::SettingsStore(QString root) : root_(std::move(root)) {}
SettingsStore::~SettingsStore() { sync(); }

QString SettingsStore::defaultRoot()
{
    const QByteArray env = qgetenv("SKYVANE_SETTINGS_DIR");
    if (!env.isEmpty()) return QString::fromLocal8Bit(env);
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/VB and VBA Program Settings");
}

QString SettingsStore::fileOf(const QString& application) const
{
    return root_ + QLatin1Char('/') + application + QStringLiteral(".ini");
}

QSettings& SettingsStore::settings(const QString& application) const
{
    const QString id = application.toLower();
    auto it = open_.find(id);
    if (it == open_.end()) {
        QDir().mkpath(root_);
        // Application names too are matched regardless of case: reuse a file
        // that exists under another spelling.
        QString file = fileOf(application);
        const QStringList existing = QDir(root_).entryList({QStringLiteral("*.ini")}, QDir::Files);
        for (const QString& e : existing)
            if (e.compare(application + QStringLiteral(".ini"), Qt::CaseInsensitive) == 0) file = root_ + QLatin1Char('/') + e;
        it = open_.emplace(id, std::make_unique<QSettings>(file, QSettings::IniFormat)).first;
    }
    return *it->second;
}

QString SettingsStore::findSection(QSettings& s, const QString& section) const
{
    const QStringList groups = s.childGroups();
    for (const QString& g : groups)
        if (g.compare(section, Qt::CaseInsensitive) == 0) return g;
    return {};
}

QString SettingsStore::findKey(QSettings& s, const QString& section, const QString& key) const
{
    const QString g = findSection(s, section);
    if (g.isEmpty()) return {};
    s.beginGroup(g);
    const QStringList ks = s.childKeys();
    s.endGroup();
    for (const QString& k : ks)
        if (k.compare(key, Qt::CaseInsensitive) == 0) return g + QLatin1Char('/') + k;
    return {};
}

QString SettingsStore::get(const QString& application, const QString& section, const QString& key,
                           const QString& def) const
{
    QSettings& s = settings(application);
    const QString path = findKey(s, section, key);
    if (path.isEmpty()) return def;
    const QVariant v = s.value(path);
    // A value that QSettings parsed as a list ("a, b") is joined back.
    if (v.metaType().id() == QMetaType::QStringList) return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

bool SettingsStore::contains(const QString& application, const QString& section, const QString& key) const
{
    return !findKey(settings(application), section, key).isEmpty();
}

void SettingsStore::save(const QString& application, const QString& section, const QString& key, const QString& value)
{
    QSettings& s = settings(application);
    QString path = findKey(s, section, key);
    if (path.isEmpty()) {
        QString g = findSection(s, section);
        if (g.isEmpty()) g = section;
        path = g + QLatin1Char('/') + key;
    }
    s.setValue(path, value);
}

void SettingsStore::deleteKey(const QString& application, const QString& section, const QString& key)
{
    QSettings& s = settings(application);
    const QString path = findKey(s, section, key);
    if (!path.isEmpty()) s.remove(path);
}

void SettingsStore::deleteSection(const QString& application, const QString& section)
{
    QSettings& s = settings(application);
    const QString g = findSection(s, section);
    if (!g.isEmpty()) s.remove(g);
    s.sync();
}

void SettingsStore::deleteApplication(const QString& application)
{
    QSettings& s = settings(application);
    const QString file = s.fileName();
    s.clear();
    s.sync();
    open_.erase(application.toLower());
    QFile::remove(file);
}

QStringList SettingsStore::sections(const QString& application) const
{
    return settings(application).childGroups();
}

QStringList SettingsStore::keys(const QString& application, const QString& section) const
{
    QSettings& s = settings(application);
    const QString g = findSection(s, section);
    if (g.isEmpty()) return {};
    s.beginGroup(g);
    const QStringList ks = s.childKeys();
    s.endGroup();
    return ks;
}

void SettingsStore::sync()
{
    for (auto& [name, s] : open_) s->sync();
}

void SettingsStore::reload(const QString& application)
{
    auto it = open_.find(application.toLower());
    if (it != open_.end()) {
        it->second->sync();
        open_.erase(it);
    }
}

namespace settings_codec {

bool toBool(const QString& text, bool def)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
    double d = 0;
    if (format::parseNumber(t, d)) return d != 0;
    return def;
}

QString fromBool(bool v) { return v ? QStringLiteral("True") : QStringLiteral("False"); }

int toInt(const QString& text, int def)
{
    double d = 0;
    QString t = text.trimmed();
    const QString dec = format::regional().decimal;
    if (dec != QLatin1String(".")) t.replace(dec, QStringLiteral("."));
    if (!format::parseNumber(t, d)) return def;
    if (d > 2147483647.0 || d < -2147483648.0) return def;
    return int(std::lrint(d));
}

double toDouble(const QString& text, double def)
{
    double d = 0;
    QString t = text.trimmed();
    const QString dec = format::regional().decimal;
    if (dec != QLatin1String(".")) t.replace(dec, QStringLiteral("."));
    return format::parseNumber(t, d) ? d : def;
}

QString fromDouble(double v)
{
    QString t = QString::number(v, 'g', 15);
    const QString dec = format::regional().decimal;
    if (dec != QLatin1String(".")) t.replace(QStringLiteral("."), dec);
    return t;
}

} // namespace settings_codec

} // namespace skyvane
