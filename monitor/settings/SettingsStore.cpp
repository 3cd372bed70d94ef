#include "SettingsStore.h"

#include "Format.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace skyvane {

namespace {

// No settings file of ours comes near this; anything larger is not one.
constexpr qint64 kMaxIniBytes = 8 * 1024 * 1024;

// True when data can be an INI file as QSettings writes it: text of
// section lines, key = value lines, comments and blank lines. QSettings
// itself accepts nearly anything and would write its own keys over a file it
// half understood; this decides first whether the file is ours to write.
// Text in another encoding than UTF-8 (a file edited by hand) is still text:
// only control characters and lines of no INI form mark a file as foreign.
bool looksLikeIni(const QByteArray& data)
{
    if (data.size() > kMaxIniBytes) return false;
    for (const char c : data) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r') return false;
        if (u == 0x7F) return false;
    }
    const QList<QByteArray> lines = data.split('\n');
    for (const QByteArray& raw : lines) {
        QByteArray line = raw.trimmed();
        if (line.startsWith("\xEF\xBB\xBF")) line.remove(0, 3);
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) continue;
        if (line.startsWith('[') && line.endsWith(']')) continue;
        if (line.contains('=')) continue;
        return false;
    }
    return true;
}

// A line of text in the sense of looksLikeIni: no control character.
bool isTextLine(const QByteArray& line)
{
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7F) return false;
    }
    return true;
}

// What can still be read of a damaged settings file: every section line and
// every key = value line under a section that is whole text. Lines touched
// by the damage are left out, so a key is either as it was or absent (and
// takes its default), never half a value.
QByteArray salvageIni(const QByteArray& data, int& keys)
{
    keys = 0;
    QByteArray out;
    bool inSection = false;
    const QList<QByteArray> lines = data.left(kMaxIniBytes).split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r')) line.chop(1);
        if (!isTextLine(line)) continue;
        QByteArray t = line.trimmed();
        if (t.startsWith("\xEF\xBB\xBF")) t.remove(0, 3);
        if (t.startsWith('[') && t.endsWith(']') && t.size() > 2) {
            inSection = true;
            out += t + '\n';
            continue;
        }
        const qsizetype eq = t.indexOf('=');
        if (!inSection || eq <= 0 || t.left(eq).trimmed().isEmpty()) continue;
        out += t + '\n';
        ++keys;
    }
    return out;
}

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The settings library writes a changed object by itself from the event
// loop; here only sync() writes, so that every write is checked.
class NoAutoSync : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override { return e->type() == QEvent::UpdateRequest; }
};

QSettings* makeSettings(const QString& file)
{
    static NoAutoSync* filter = new NoAutoSync; // lives as long as the program
    auto* s = new QSettings(file, QSettings::IniFormat);
    s->installEventFilter(filter);
    return s;
}

// A file of an older run may still be readable by others.
void fixPermissions(const QString& file)
{
    constexpr QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                                | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (QFileInfo(file).isFile() && (QFile::permissions(file) & others)) QFile::setPermissions(file, kOwnerOnly);
}

// Every key and value a settings object holds.
QMap<QString, QVariant> contentOf(QSettings& s)
{
    QMap<QString, QVariant> m;
    const QStringList keys = s.allKeys();
    for (const QString& k : keys) m.insert(k, s.value(k));
    return m;
}

// Bytes free for us in the folder of path; -1 when unknown.
qint64 freeBytes(const QString& path)
{
    struct statvfs st {};
    if (::statvfs(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &st) != 0) return -1;
    return qint64(st.f_bavail) * qint64(st.f_frsize);
}

} // namespace

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
    if (it == open_.end()) it = open_.emplace(id, std::unique_ptr<QSettings>(makeSettings(openFile(application)))).first;
    return *it->second;
}

void SettingsStore::report(const QString& id, const QString& text, const QString& brief) const
{
    if (problems_[id].first == text) return;
    problems_[id] = {text, brief};
    qWarning("XOB_Skyvane settings: %s", qPrintable(text));
}

QString SettingsStore::openFile(const QString& application) const
{
    const QString id = application.toLower();
    QDir().mkpath(root_);
    // Application names too are matched regardless of case: reuse a file
    // that exists under another spelling.
    QString file = fileOf(application);
    const QStringList existing =
        QDir(root_).entryList({QStringLiteral("*.ini")}, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& e : existing)
        if (e.compare(application + QStringLiteral(".ini"), Qt::CaseInsensitive) == 0) file = root_ + QLatin1Char('/') + e;

    // A file that must not be written gets a scratch file instead: the
    // program runs on defaults, and what the user changes lives until exit.
    const auto scratch = [&](const QString& text) {
        report(id, text, QStringLiteral("Settings file unusable: defaults used, not saved"));
        if (!scratchDir_) scratchDir_ = std::make_unique<QTemporaryDir>();
        scratch_[id] = file;
        return scratchDir_->filePath(id + QStringLiteral(".ini"));
    };
    const QFileInfo fi(file);
    if (!fi.exists() && !fi.isSymLink()) return file;
    if (fi.isDir())
        return scratch(QStringLiteral("%1 is a folder, not a settings file: the defaults are used and no setting is saved.").arg(file));
    // Never open a pipe or device: reading it could wait for ever.
    if (!fi.isFile())
        return scratch(QStringLiteral("%1 is not a regular file: the defaults are used and no setting is saved.").arg(file));
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return scratch(QStringLiteral("%1 can not be read (%2): the defaults are used and no setting is saved.")
                           .arg(file, f.errorString()));
    const QByteArray data = f.read(kMaxIniBytes + 1);
    const bool readOk = f.error() == QFileDevice::NoError;
    f.close();
    if (!readOk)
        return scratch(QStringLiteral("%1 can not be read (%2): the defaults are used and no setting is saved.")
                           .arg(file, f.errorString()));
    if (!looksLikeIni(data)) {
        // Keep what was there: it may be the user's only copy of a night's
        // settings, damaged, and worth a look.
        QString aside = file + QStringLiteral(".unreadable");
        for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
            aside = file + QStringLiteral(".unreadable") + QString::number(n);
        if (!QFile::rename(file, aside))
            return scratch(QStringLiteral("%1 is not a settings file and could not be moved aside: the defaults are used "
                                          "and no setting is saved.")
                               .arg(file));
        int keys = 0;
        const QByteArray kept = salvageIni(data, keys);
        if (keys > 0) {
            // Start with what could be read; the next save writes it whole.
            QSaveFile out(file);
            if (out.open(QIODevice::WriteOnly)) {
                out.setPermissions(kOwnerOnly);
                out.write(kept);
                if (out.commit()) {
                    recovered_[id] = keys;
                    report(id,
                           QStringLiteral("%1 was damaged: it was kept as %2; the %3 settings that could still be read "
                                          "are used, the defaults for the rest.")
                               .arg(file, aside)
                               .arg(keys),
                           QStringLiteral("Settings file damaged: %1 kept, defaults for rest").arg(keys));
                    return file;
                }
            }
        }
        recovered_[id] = 0;
        report(id, QStringLiteral("%1 was not a settings file: it was kept as %2 and the defaults are used.").arg(file, aside),
               QStringLiteral("Settings file unreadable: kept aside, defaults used"));
        return file;
    }
    if (!fi.isWritable())
        report(id, QStringLiteral("%1 is read-only: the settings are read, but changes can not be saved.").arg(file),
               QStringLiteral("Settings file read-only: changes are not saved"));
    return file;
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
    dirty_.insert(application.toLower());
}

void SettingsStore::deleteKey(const QString& application, const QString& section, const QString& key)
{
    QSettings& s = settings(application);
    const QString path = findKey(s, section, key);
    if (path.isEmpty()) return;
    s.remove(path);
    dirty_.insert(application.toLower());
}

void SettingsStore::deleteSection(const QString& application, const QString& section)
{
    QSettings& s = settings(application);
    const QString g = findSection(s, section);
    if (g.isEmpty()) return;
    s.remove(g);
    dirty_.insert(application.toLower());
    sync();
}

void SettingsStore::deleteApplication(const QString& application)
{
    QSettings& s = settings(application);
    const QString file = s.fileName();
    s.clear();
    s.sync();
    open_.erase(application.toLower());
    dirty_.erase(application.toLower());
    // A file we were not allowed to write is not ours to delete either.
    if (!scratch_.erase(application.toLower())) QFile::remove(file);
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

bool SettingsStore::sync()
{
    bool ok = true;
    for (auto& [id, s] : open_) {
        if (scratch_.count(id)) {
            s->sync();
            continue;
        }
        const QString file = s->fileName();
        if (!dirty_.count(id)) {
            fixPermissions(file);
            continue;
        }
        // QSettings replaces the file through a temporary file and a rename,
        // keeping the permissions of the file it replaces: a new file is made
        // private first, so the password is never readable by others.
        if (!QFileInfo::exists(file) && !s->allKeys().isEmpty()) {
            QFile f(file);
            if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly)) f.close();
        }
        // A full disk must never cost the file: this version of the
        // settings library can rename a cut temporary file over the old one
        // when its last write fails. So a save that can not fit is not tried,
        // and a save is read back and undone when it did not arrive whole.
        const QMap<QString, QVariant> held = contentOf(*s);
        qint64 needed = 4096;
        for (auto it = held.cbegin(); it != held.cend(); ++it) needed += 2 * (it.key().size() + it.value().toString().size()) + 8;
        const qint64 room = freeBytes(file);
        bool saved = false;
        if (room < 0 || room >= needed) {
            // The old file stays reachable under a second name while the new
            // one is written (a link costs no space): a cut save is undone by
            // renaming it back, exactly as it was.
            const QByteArray native = QFile::encodeName(file);
            const QByteArray keep = native + ".previous";
            ::unlink(keep.constData());
            const bool kept = QFileInfo::exists(file) && ::link(native.constData(), keep.constData()) == 0;
            s->sync();
            QSettings back(file, QSettings::IniFormat);
            saved = s->status() == QSettings::NoError && contentOf(back) == held;
            if (saved) ::unlink(keep.constData());
            else if (kept) ::rename(keep.constData(), native.constData());
        }
        if (!saved) {
            // The library remembers its first error for good and then never
            // writes again: what it holds moves to a fresh object, which the
            // next sync writes whole.
            std::unique_ptr<QSettings> fresh(makeSettings(file));
            fresh->clear();
            for (auto it = held.cbegin(); it != held.cend(); ++it) fresh->setValue(it.key(), it.value());
            s = std::move(fresh);
        }
        fixPermissions(file);
        if (saved) dirty_.erase(id);
        if (!saved) {
            ok = false;
            report(id, QStringLiteral("The settings could not be saved to %1.").arg(file),
                   QStringLiteral("Settings could not be saved"));
        } else if (problems_.count(id) && problems_[id].second == QLatin1String("Settings could not be saved")) {
            problems_.erase(id);
        }
    }
    return ok;
}


QStringList SettingsStore::problems() const
{
    QStringList out;
    for (const auto& [id, p] : problems_)
        if (!p.first.isEmpty()) out << p.first;
    return out;
}

QStringList SettingsStore::problemsBrief() const
{
    QStringList out;
    for (const auto& [id, p] : problems_)
        if (!p.second.isEmpty()) out << p.second;
    return out;
}

int SettingsStore::recovered(const QString& application) const
{
    settings(application);
    const auto it = recovered_.find(application.toLower());
    return it == recovered_.end() ? 0 : it->second;
}

bool SettingsStore::damaged(const QString& application) const
{
    settings(application);
    return recovered_.count(application.toLower()) != 0;
}

bool SettingsStore::writable(const QString& application) const
{
    settings(application);
    return !scratch_.count(application.toLower());
}

void SettingsStore::reload(const QString& application)
{
    const QString id = application.toLower();
    if (!open_.count(id)) return;
    if (dirty_.count(id)) sync();
    open_.erase(id);
    scratch_.erase(id);
    dirty_.erase(id);
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
