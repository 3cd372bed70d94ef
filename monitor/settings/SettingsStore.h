#pragma once
// The per-user settings store: every value is a string kept under an
// application name, a section and a key, exactly like the store the monitor
// has always used. On this platform each application is one INI file in the
// user's configuration folder:
//
//   $XDG_CONFIG_HOME/VB and VBA Program Settings/<application>.ini
//
// Section and key names are matched without regard to letter case; a write
// to an existing key keeps the spelling already stored. The folder can be
// moved with the environment variable SKYVANE_SETTINGS_DIR (tests, demo) or
// by passing a root to the constructor.
//
// The files will hold the upload server's password and the night's changes,
// so they are written whole or not at all (a temporary file renamed over the
// old one) and only the user may read them (mode 0600). A file that is there
// but can not be used never costs the program its start nor the user the
// file: a folder or other non-file, or a file we may not read, is left alone
// and nothing is saved over it; a file that is not an INI file (binary
// garbage, a half-written file of another program) is moved aside to
// "<application>.ini.unreadable" before a fresh one is made from every line
// of it that can still be read (sections and key = value lines untouched by
// the damage). Either way what could not be read takes its default and
// problems() says what happened.

#include <QString>
#include <QStringList>
#include <map>
#include <set>
#include <memory>

class QSettings;
class QTemporaryDir;

namespace skyvane {

class SettingsStore {
public:
    explicit SettingsStore(QString root = defaultRoot());
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    static QString defaultRoot();
    QString root() const { return root_; }
    QString fileOf(const QString& application) const;

    // Read setting: the stored text, or def when the section or key is absent.
    QString get(const QString& application, const QString& section, const QString& key,
                const QString& def = QString()) const;
    bool contains(const QString& application, const QString& section, const QString& key) const;
    // Write setting: creates the section and key when needed.
    void save(const QString& application, const QString& section, const QString& key, const QString& value);

    void deleteKey(const QString& application, const QString& section, const QString& key);
    void deleteSection(const QString& application, const QString& section);
    void deleteApplication(const QString& application);

    QStringList sections(const QString& application) const;
    QStringList keys(const QString& application, const QString& section) const;

    // Writes pending changes to disk. False when some application's file
    // could not be written (see problems()).
    bool sync();
    // What went wrong with the files, one sentence each, for the user; and
    // the same, each short enough for the status line.
    QStringList problems() const;
    QStringList problemsBrief() const;
    // False when changes of this application are kept in memory only,
    // because its file could not be read.
    bool writable(const QString& application) const;
    // How many keys were taken over from a damaged file of this application
    // (0 when its file was whole, absent or not read at all).
    int recovered(const QString& application) const;
    // True when this application's file was damaged and kept aside.
    bool damaged(const QString& application) const;
    // Drops cached values so that changes made by another program are seen.
    void reload(const QString& application);

private:
    QSettings& settings(const QString& application) const;
    QString findSection(QSettings& s, const QString& section) const;
    QString findKey(QSettings& s, const QString& section, const QString& key) const;

    QString openFile(const QString& application) const;
    void report(const QString& id, const QString& text, const QString& brief) const;

    QString root_;
    mutable std::map<QString, std::unique_ptr<QSettings>> open_;
    // Applications whose file is not ours to write: their QSettings works
    // on a scratch copy that is thrown away.
    mutable std::map<QString, QString> scratch_;
    mutable std::unique_ptr<QTemporaryDir> scratchDir_;
    mutable std::map<QString, std::pair<QString, QString>> problems_; // text, brief
    mutable std::map<QString, int> recovered_;
    // Applications with changes not yet written.
    std::set<QString> dirty_;
};

// Typed views of stored strings, as the store has always encoded them.
namespace settings_codec {
// "True"/"False" (any case) or a number (non-zero = true); def otherwise.
bool toBool(const QString& text, bool def);
QString fromBool(bool v);
// Integer text; def when not a number. A decimal text is rounded.
int toInt(const QString& text, int def);
// Number in the regional format; a '.' is also accepted.
double toDouble(const QString& text, double def);
QString fromDouble(double v);
} // namespace settings_codec

} // namespace skyvane
