#include "SettingsSchema.h"

#include "SettingsStore.h"

#include <QSet>
#include <algorithm>

namespace skyvane {

namespace setting_rows {

QString checkText(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }
bool checkValue(const QString& text, bool def) { return settings_codec::toInt(text, def ? 1 : 0) != 0; }
int intValue(const QString& text, int def) { return settings_codec::toInt(text, def); }
double numberValue(const QString& text, double def) { return settings_codec::toDouble(text, def); }
QString numberText(double v) { return settings_codec::fromDouble(v); }
QString optionText(bool on) { return settings_codec::fromBool(on); }
bool optionValue(const QString& text, bool def) { return settings_codec::toBool(text, def); }

} // namespace setting_rows

namespace {
QString idOf(const QString& section, const QString& key) { return section.toLower() + QLatin1Char('/') + key.toLower(); }
QString listKey(const SettingsSchema::ListEntry& l, int entry, int field)
{
    return l.prefixes[field] + QString::number(entry + 1);
}
} // namespace

SettingsSchema::SettingsSchema(QString application) : application_(std::move(application)) {}

void SettingsSchema::addEntry(Entry e) { entries_.push_back(std::move(e)); }
void SettingsSchema::addList(ListEntry l) { lists_.push_back(std::move(l)); }

std::vector<const SettingsSchema::Entry*> SettingsSchema::entries() const
{
    std::vector<const Entry*> out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_) out.push_back(&e);
    std::stable_sort(out.begin(), out.end(), [](const Entry* a, const Entry* b) { return a->stage < b->stage; });
    return out;
}

void SettingsSchema::load(const SettingsStore& store) const
{
    // Lists are read at the end of their stage, after the stage's keys.
    const std::vector<const Entry*> order = entries();
    auto it = order.begin();
    for (int stage = int(LoadStage::WindowFirst); stage <= int(LoadStage::File); ++stage) {
        for (; it != order.end() && int((*it)->stage) == stage; ++it)
            (*it)->apply(store.get(application_, (*it)->section, (*it)->key, (*it)->defaultText()));
        for (const ListEntry& l : lists_) {
            if (int(l.stage) != stage) continue;
            // Only the entries the count names are read; higher numbers are
            // left in the store and ignored.
            const int n = std::clamp(settings_codec::toInt(store.get(application_, l.section, l.countKey, QStringLiteral("0")), 0), 0, 999);
            l.resize(n);
            for (int i = 0; i < n; ++i)
                for (int f = 0; f < l.prefixes.size(); ++f)
                    l.set(i, f, store.get(application_, l.section, listKey(l, i, f), l.defaults[f]));
        }
    }
}

QStringList SettingsSchema::save(SettingsStore& store) const
{
    QStringList failed;
    // One key that can not be produced or written does not stop the others.
    const auto put = [&](const QString& section, const QString& key, const std::function<QString()>& text) {
        try {
            store.save(application_, section, key, text());
        } catch (...) {
            failed << section + QLatin1Char('/') + key;
        }
    };
    for (const Entry* e : entries()) {
        if (e->saveRule != SaveRule::AtSave) continue;
        if (e->savable && !e->savable()) continue;
        put(e->section, e->key, e->text);
    }
    for (const ListEntry& l : lists_) {
        const int n = l.size();
        put(l.section, l.countKey, [n] { return QString::number(n); });
        for (int i = 0; i < n; ++i)
            for (int f = 0; f < l.prefixes.size(); ++f) put(l.section, listKey(l, i, f), [&l, i, f] { return l.get(i, f); });
    }
    return failed;
}

void SettingsSchema::applyDefaults() const
{
    for (const Entry* e : entries()) e->apply(e->defaultText());
    for (const ListEntry& l : lists_) l.resize(0);
}

QMap<QString, QString> SettingsSchema::snapshot() const
{
    QMap<QString, QString> m;
    for (const Entry& e : entries_) {
        if (e.saveRule != SaveRule::AtSave) continue;
        if (e.savable && !e.savable()) continue;
        m.insert(idOf(e.section, e.key), e.text());
    }
    for (const ListEntry& l : lists_) {
        const int n = l.size();
        m.insert(idOf(l.section, l.countKey), QString::number(n));
        for (int i = 0; i < n; ++i)
            for (int f = 0; f < l.prefixes.size(); ++f) m.insert(idOf(l.section, listKey(l, i, f)), l.get(i, f));
    }
    return m;
}

QStringList SettingsSchema::duplicates() const
{
    QSet<QString> seen;
    QStringList dup;
    const auto see = [&](const QString& id) {
        if (seen.contains(id)) dup << id;
        seen.insert(id);
    };
    for (const Entry& e : entries_) see(idOf(e.section, e.key));
    for (const ListEntry& l : lists_) {
        see(idOf(l.section, l.countKey));
        // A plain key that looks like a list key would be overwritten by
        // the list: "FileName1" in the same section.
        for (const Entry& e : entries_) {
            if (e.section.compare(l.section, Qt::CaseInsensitive) != 0) continue;
            for (const QString& p : l.prefixes) {
                if (!e.key.startsWith(p, Qt::CaseInsensitive)) continue;
                bool digits = e.key.size() > p.size();
                for (int i = p.size(); i < e.key.size(); ++i) digits = digits && e.key[i].isDigit();
                if (digits) dup << idOf(e.section, e.key);
            }
        }
    }
    return dup;
}

} // namespace skyvane
