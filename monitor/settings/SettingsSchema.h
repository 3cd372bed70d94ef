#pragma once
// Every setting of the monitor is declared once: section, key, how its value
// is written, its default, and the field it restores. Load, save, the change
// watch and the tests all walk the same declarations, so a key can not be
// read at start-up and then forgotten at exit.
//
// How a module adds its own settings
// ----------------------------------
// 1. Describe the keys as a table of SettingRow<Config> over the module's own
//    configuration struct (see rowText, rowNumber, ... below for the usual
//    encodings), each with the LoadStage that places it in the load order.
// 2. Bind the table to the live struct once, before the settings are loaded:
//
//        core.settingsSchema().add(outputSettingRows(), outputsConfig_);
//
//    MonitorCore builds its schema in its constructor and loads it in load(),
//    so a module constructed with the core (or before load() is called) is
//    loaded, saved at exit, saved soon after a change, and covered by the
//    round-trip test over the schema.
// 3. Keys must be unique over the whole schema (section and key compared
//    without regard to case); SettingsSchema::duplicates() lists offenders and
//    the schema tests fail on any.
//
// Settings of features that are not built yet are declared all the same,
// bound to plain fields, so that they survive a load and a save unchanged;
// the feature binds to those fields when it lands.

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace skyvane {

class SettingsStore;

// How a value is written in the store (every value is a string).
enum class SettingKind {
    Text,     // the text itself
    Number,   // decimal text in the regional format
    Integer,  // decimal text of an integer or list index
    CheckBox, // "0" / "1" (a box may also be "2", greyed)
    Option,   // "True" / "False"
    Colour,   // decimal text of the colour value
};

// The load order. Declarations are read stage by stage; within a stage in the
// order they were added. Applying one value can depend on another (a box's
// sound before its state, the units before the thresholds), hence fixed.
enum class LoadStage {
    WindowFirst,      // LastUpdateMsg, SafeDelayVal, Left, Top, SSTab1..3, unit symbols
    LimitUnits,       // unit and date-format options
    WindowSecond,     // compass names, imaging data file, scroll positions, LastMusicDir
    Setup,            // "Setup"
    LimitThresholds,  // thresholds of "Limit"
    Description,      // "Description"
    Color,            // "Color"
    Unsafe,           // "Unsafe"
    AlarmSounds,      // the 24 sound keys of "Alarms"
    AlarmStates,      // then their 24 state keys
    Graphs,           // "Graphs"
    AlarmStale,       // the stale-data keys of "Alarms"
    WindowUserFile,   // FileName, PathName, FreqSave
    File,             // "File"
};

enum class SaveRule {
    AtSave,        // written by every save
    ImmediateOnly, // written only where it changes (the news text), never by a save
};

// One key over a configuration struct T.
template <class T>
struct SettingRow {
    LoadStage stage;
    QString section;
    QString key;
    SettingKind kind;
    QString defaultText;
    std::function<void(T&, const QString&)> apply; // from the stored text
    std::function<QString(const T&)> text;         // to the stored text
    // When set, the default depends on the running program (the program
    // folder, the screen): it replaces defaultText.
    std::function<QString(const T&)> dynamicDefault = {};
    SaveRule saveRule = SaveRule::AtSave;
    // When set and false, a save leaves the stored value alone (the window
    // position while the window is minimised).
    std::function<bool(const T&)> savable = {};
};

// A numbered list stored as a count key plus one group of keys per entry
// ("NoFiles", then "FileName1", "FilePath1", "FileUpload1", ...).
template <class T>
struct SettingListRow {
    LoadStage stage;
    QString section;
    QString countKey;
    QStringList prefixes;                // key of field f of entry n: prefixes[f] + n
    QList<SettingKind> kinds;            // one per prefix
    QStringList defaults;                // one per prefix
    std::function<int(const T&)> size;
    std::function<void(T&, int)> resize;
    std::function<QString(const T&, int entry, int field)> get; // entry from 0
    std::function<void(T&, int entry, int field, const QString&)> set;
};

// The schema: declarations bound to the live configuration they restore.
class SettingsSchema {
public:
    explicit SettingsSchema(QString application = QStringLiteral("XOB_Skyvane"));

    // One bound key, as load and save see it.
    struct Entry {
        LoadStage stage;
        QString section;
        QString key;
        SettingKind kind;
        SaveRule saveRule;
        std::function<QString()> defaultText;
        std::function<void(const QString&)> apply;
        std::function<QString()> text;
        std::function<bool()> savable;
    };
    // A bound list (count key and entries).
    struct ListEntry {
        LoadStage stage;
        QString section;
        QString countKey;
        QStringList prefixes;
        QList<SettingKind> kinds;
        QStringList defaults;
        std::function<int()> size;
        std::function<void(int)> resize;
        std::function<QString(int, int)> get;
        std::function<void(int, int, const QString&)> set;
    };

    template <class T>
    void add(const std::vector<SettingRow<T>>& rows, T& target)
    {
        for (const SettingRow<T>& r : rows) {
            T* t = &target;
            Entry e{r.stage, r.section, r.key, r.kind, r.saveRule, {}, {}, {}, {}};
            const auto dyn = r.dynamicDefault;
            const QString def = r.defaultText;
            e.defaultText = dyn ? std::function<QString()>([dyn, t] { return dyn(*t); })
                                : std::function<QString()>([def] { return def; });
            e.apply = [f = r.apply, t](const QString& v) { f(*t, v); };
            e.text = [f = r.text, t] { return f(*t); };
            if (r.savable) e.savable = [f = r.savable, t] { return f(*t); };
            addEntry(std::move(e));
        }
    }
    template <class T>
    void add(const std::vector<SettingListRow<T>>& lists, T& target)
    {
        for (const SettingListRow<T>& l : lists) {
            T* t = &target;
            addList({l.stage, l.section, l.countKey, l.prefixes, l.kinds, l.defaults,
                     [f = l.size, t] { return f(*t); }, [f = l.resize, t](int n) { f(*t, n); },
                     [f = l.get, t](int i, int k) { return f(*t, i, k); },
                     [f = l.set, t](int i, int k, const QString& v) { f(*t, i, k, v); }});
        }
    }
    void addEntry(Entry e);
    void addList(ListEntry l);

    QString application() const { return application_; }
    // The single keys in load order.
    std::vector<const Entry*> entries() const;
    const std::vector<ListEntry>& lists() const { return lists_; }

    // Reads every declaration in load order and applies it; a missing key
    // gives its default.
    void load(const SettingsStore& store) const;
    // Writes every declaration that a save writes. Returns the keys that
    // could not be written (the rest are written all the same).
    QStringList save(SettingsStore& store) const;
    // Sets every declaration to its default.
    void applyDefaults() const;
    // "section/key" (lower case) -> stored text of the current state of
    // every saved key: two snapshots differ when a save would change the
    // store.
    QMap<QString, QString> snapshot() const;
    // Keys declared more than once ("section/key"), ignoring case.
    QStringList duplicates() const;

private:
    QString application_;
    std::vector<Entry> entries_;
    std::vector<ListEntry> lists_;
};

// ---- usual encodings -------------------------------------------------------
// Helpers that build rows from an accessor returning a reference to the field.
template <class T, class F>
using SettingRef = std::function<F&(T&)>;

namespace setting_rows {
QString checkText(bool on);
bool checkValue(const QString& text, bool def);
int intValue(const QString& text, int def);
double numberValue(const QString& text, double def);
QString numberText(double v);
QString optionText(bool on);
bool optionValue(const QString& text, bool def);
} // namespace setting_rows

template <class T>
SettingRow<T> rowText(LoadStage st, const QString& section, const QString& key, const QString& def,
                      SettingRef<T, QString> ref)
{
    return {st, section, key, SettingKind::Text, def, [ref](T& c, const QString& v) { ref(c) = v; },
            [ref](const T& c) { return ref(const_cast<T&>(c)); }};
}

template <class T>
SettingRow<T> rowNumber(LoadStage st, const QString& section, const QString& key, const QString& def,
                        SettingRef<T, double> ref)
{
    return {st, section, key, SettingKind::Number, def,
            [ref, def](T& c, const QString& v) {
                ref(c) = setting_rows::numberValue(v, setting_rows::numberValue(def, 0));
            },
            [ref](const T& c) { return setting_rows::numberText(ref(const_cast<T&>(c))); }};
}

// An integer or list index, clamped to [lo, hi]; out of range or not a
// number gives the default.
template <class T>
SettingRow<T> rowInteger(LoadStage st, const QString& section, const QString& key, int def, int lo, int hi,
                         SettingRef<T, int> ref)
{
    return {st, section, key, SettingKind::Integer, QString::number(def),
            [ref, def, lo, hi](T& c, const QString& v) {
                const int n = setting_rows::intValue(v, def);
                ref(c) = (n < lo || n > hi) ? def : n;
            },
            [ref](const T& c) { return QString::number(ref(const_cast<T&>(c))); }};
}

template <class T>
SettingRow<T> rowCheck(LoadStage st, const QString& section, const QString& key, bool def, SettingRef<T, bool> ref)
{
    return {st, section, key, SettingKind::CheckBox, setting_rows::checkText(def),
            [ref, def](T& c, const QString& v) { ref(c) = setting_rows::checkValue(v, def); },
            [ref](const T& c) { return setting_rows::checkText(ref(const_cast<T&>(c))); }};
}

template <class T>
SettingRow<T> rowOption(LoadStage st, const QString& section, const QString& key, bool def, SettingRef<T, bool> ref)
{
    return {st, section, key, SettingKind::Option, setting_rows::optionText(def),
            [ref, def](T& c, const QString& v) { ref(c) = setting_rows::optionValue(v, def); },
            [ref](const T& c) { return setting_rows::optionText(ref(const_cast<T&>(c))); }};
}

// One option button of a group stored one key per option: "True" selects
// `option` in the field the group sets.
template <class T, class E>
SettingRow<T> rowGroupOption(LoadStage st, const QString& section, const QString& key, E option, bool def,
                             SettingRef<T, E> ref)
{
    return {st, section, key, SettingKind::Option, setting_rows::optionText(def),
            [ref, option, def](T& c, const QString& v) {
                if (setting_rows::optionValue(v, def)) ref(c) = option;
            },
            [ref, option](const T& c) { return setting_rows::optionText(ref(const_cast<T&>(c)) == option); }};
}

template <class T>
SettingRow<T> rowColour(LoadStage st, const QString& section, const QString& key, int def, SettingRef<T, int> ref)
{
    return {st, section, key, SettingKind::Colour, QString::number(def),
            [ref, def](T& c, const QString& v) {
                const int n = setting_rows::intValue(v, def);
                ref(c) = (n >= 0 && n <= 0xFFFFFF) ? n : def;
            },
            [ref](const T& c) { return QString::number(ref(const_cast<T&>(c))); }};
}

} // namespace skyvane
