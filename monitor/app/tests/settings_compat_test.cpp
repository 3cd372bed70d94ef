// A settings file as this version has always written it, every key away
// from its default, must come back the same: loaded and saved again it is
// the same file, byte for byte. The file in tests/data was written by the
// monitor before its settings were moved into the modules that own them;
// any key that a module stops declaring, declares twice or reads differently
// shows up here as a changed line.
#include "MonitorRig.h"
#include "SettingsSchema.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSettings>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

const QString kApp = QString::fromLatin1(kAppName);

QString fixturePath()
{
    return QDir(qEnvironmentVariable("SKYVANE_SOURCE_DIR")).filePath(QStringLiteral("monitor/app/tests/data/settings_every_key.ini"));
}

QByteArray contents(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// "section/key" -> value of every key in an INI file, as the store reads it.
QMap<QString, QString> valuesOf(const QString& file)
{
    QMap<QString, QString> out;
    QSettings ini(file, QSettings::IniFormat);
    for (const QString& section : ini.childGroups()) {
        ini.beginGroup(section);
        for (const QString& key : ini.childKeys()) {
            const QVariant v = ini.value(key);
            out.insert(section + QLatin1Char('/') + key,
                       v.metaType().id() == QMetaType::QStringList ? v.toStringList().join(QStringLiteral(", ")) : v.toString());
        }
        ini.endGroup();
    }
    return out;
}

QString idOf(const QString& section, const QString& key) { return (section + QLatin1Char('/') + key).toLower(); }

struct Rig : MonitorRig {
    Rig() : MonitorRig({}, false) {}
};

} // namespace

TEST(SettingsCompat, EveryKeyOfAnOlderFileIsDeclaredExactlyOnce)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    const SettingsSchema& schema = rig.core->settingsSchema();
    QMap<QString, int> declared;
    for (const SettingsSchema::Entry* e : schema.entries()) ++declared[idOf(e->section, e->key)];
    for (const SettingsSchema::ListEntry& l : schema.lists()) {
        ++declared[idOf(l.section, l.countKey)];
        for (const QString& p : l.prefixes)
            for (int n = 1; n <= 3; ++n) ++declared[idOf(l.section, p + QString::number(n))];
    }
    for (auto it = declared.cbegin(); it != declared.cend(); ++it)
        EXPECT_EQ(it.value(), 1) << "declared " << it.value() << " times: " << it.key().toStdString();

    // The file holds every key (three upload entries): nothing in it is left
    // undeclared, nothing declared is missing from it.
    const QMap<QString, QString> file = valuesOf(fixturePath());
    ASSERT_FALSE(file.isEmpty()) << fixturePath().toStdString();
    QSet<QString> inFile;
    for (auto it = file.cbegin(); it != file.cend(); ++it) inFile.insert(it.key().toLower());
    for (const QString& id : inFile) EXPECT_TRUE(declared.contains(id)) << "not declared: " << id.toStdString();
    for (auto it = declared.cbegin(); it != declared.cend(); ++it)
        EXPECT_TRUE(inFile.contains(it.key())) << "not in the file: " << it.key().toStdString();
}

TEST(SettingsCompat, AnOlderFileLoadsAndSavesBackByteForByte)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    SettingsStore& store = rig.store;
    const QString file = store.fileOf(kApp);
    const QByteArray before = contents(fixturePath());
    ASSERT_FALSE(before.isEmpty()) << fixturePath().toStdString();
    ASSERT_TRUE(store.sync());
    QFile::remove(file);
    ASSERT_TRUE(QFile::copy(fixturePath(), file));
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    store.reload(kApp);
    rig.core->load();

    // What was loaded is what each declaration would write.
    const QMap<QString, QString> want = valuesOf(fixturePath());
    const SettingsSchema& schema = rig.core->settingsSchema();
    for (const SettingsSchema::Entry* e : schema.entries())
        EXPECT_EQ(e->text(), want.value(e->section + QLatin1Char('/') + e->key, QStringLiteral("<missing>")))
            << e->section.toStdString() << "/" << e->key.toStdString();

    // Saved into an empty store, the keys come back with the same values;
    // the news text, which only its arrival writes, is put back by hand.
    store.deleteApplication(kApp);
    rig.core->save();
    for (const SettingsSchema::Entry* e : schema.entries())
        if (e->saveRule == SaveRule::ImmediateOnly) store.save(kApp, e->section, e->key, e->text());
    ASSERT_TRUE(store.sync());
    const QMap<QString, QString> got = valuesOf(file);
    for (auto it = want.cbegin(); it != want.cend(); ++it)
        EXPECT_EQ(got.value(it.key(), QStringLiteral("<missing>")), it.value()) << it.key().toStdString();
    EXPECT_EQ(got.size(), want.size());
    EXPECT_EQ(contents(file), before);
}
