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

#include <QString>
#include <QStringList>
#include <map>
#include <memory>

class QSettings;

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

    // Writes pending changes to disk.
    void sync();
    // Drops cached values so that changes made by another program are seen.
    void reload(const QString& application);

private:
    QSettings& settings(const QString& application) const;
    QString findSection(QSettings& s, const QString& section) const;
    QString findKey(QSettings& s, const QString& section, const QString& key) const;

    QString root_;
    mutable std::map<QString, std::unique_ptr<QSettings>> open_;
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
