#include "SettingsSchema.h"
#include "SettingsStore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane;

namespace {

struct Sample {
    QString name;
    int count = 0;
    bool flag = false;
    int choice = 0;
    QStringList log; // the order values were applied in
    std::vector<QString> items;
};

std::vector<SettingRow<Sample>> sampleRows()
{
    std::vector<SettingRow<Sample>> rows;
    // Declared out of load order on purpose.
    rows.push_back(rowInteger<Sample>(LoadStage::File, "File", "Count", 4, 0, 10, [](Sample& s) -> int& { return s.count; }));
    rows.push_back(rowText<Sample>(LoadStage::WindowFirst, "Window", "Name", "none", [](Sample& s) -> QString& { return s.name; }));
    rows.push_back(rowCheck<Sample>(LoadStage::Setup, "Setup", "Flag", true, [](Sample& s) -> bool& { return s.flag; }));
    for (int i = 0; i < 2; ++i)
        rows.push_back(rowGroupOption<Sample, int>(LoadStage::Setup, "Setup", QStringLiteral("Choice%1").arg(i), i, i == 0,
                                                   [](Sample& s) -> int& { return s.choice; }));
    for (auto& r : rows) {
        auto inner = r.apply;
        r.apply = [inner, key = r.key](Sample& s, const QString& t) {
            s.log << key;
            inner(s, t);
        };
    }
    return rows;
}

std::vector<SettingListRow<Sample>> sampleLists()
{
    return {{LoadStage::Setup, "Setup", "NoItems", {"Item"}, {SettingKind::Text}, {"?"},
             [](const Sample& s) { return int(s.items.size()); }, [](Sample& s, int n) { s.items.resize(std::size_t(n)); },
             [](const Sample& s, int i, int) { return s.items[std::size_t(i)]; },
             [](Sample& s, int i, int, const QString& t) { s.items[std::size_t(i)] = t; }}};
}

} // namespace

TEST(SettingsSchema, LoadsInStageOrderAndRoundTrips)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    Sample s;
    SettingsSchema schema;
    schema.add(sampleRows(), s);
    schema.add(sampleLists(), s);
    EXPECT_TRUE(schema.duplicates().isEmpty());

    schema.load(store);
    EXPECT_EQ(s.log, (QStringList{"Name", "Flag", "Choice0", "Choice1", "Count"}));
    EXPECT_EQ(s.name, "none");
    EXPECT_EQ(s.count, 4);
    EXPECT_TRUE(s.flag);
    EXPECT_EQ(s.choice, 0);
    EXPECT_TRUE(s.items.empty());

    s.name = "a, b = c";
    s.count = 9;
    s.flag = false;
    s.choice = 1;
    s.items = {"x", "y"};
    EXPECT_TRUE(schema.save(store).isEmpty());
    EXPECT_EQ(store.get("XOB_Skyvane", "Setup", "Choice0"), "False");
    EXPECT_EQ(store.get("XOB_Skyvane", "Setup", "Choice1"), "True");
    EXPECT_EQ(store.get("XOB_Skyvane", "Setup", "Item2"), "y");
    ASSERT_TRUE(store.sync());

    Sample back;
    SettingsSchema again;
    again.add(sampleRows(), back);
    again.add(sampleLists(), back);
    SettingsStore other(dir.path());
    again.load(other);
    EXPECT_EQ(back.name, s.name);
    EXPECT_EQ(back.count, 9);
    EXPECT_FALSE(back.flag);
    EXPECT_EQ(back.choice, 1);
    EXPECT_EQ(back.items, s.items);
    EXPECT_EQ(again.snapshot(), schema.snapshot());
}

TEST(SettingsSchema, ListReadsOnlyCountedEntriesAndOutOfRangeGivesDefault)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    store.save("XOB_Skyvane", "Setup", "NoItems", "1");
    store.save("XOB_Skyvane", "Setup", "Item1", "one");
    store.save("XOB_Skyvane", "Setup", "Item2", "ignored");
    store.save("XOB_Skyvane", "File", "Count", "11");
    Sample s;
    SettingsSchema schema;
    schema.add(sampleRows(), s);
    schema.add(sampleLists(), s);
    schema.load(store);
    EXPECT_EQ(s.items, std::vector<QString>{"one"});
    EXPECT_EQ(s.count, 4);
}

TEST(SettingsSchema, DuplicatesAcrossModulesAreFound)
{
    Sample a, b;
    SettingsSchema schema;
    schema.add(sampleRows(), a);
    schema.add(std::vector<SettingRow<Sample>>{rowText<Sample>(LoadStage::File, "window", "NAME", "",
                                                               [](Sample& s) -> QString& { return s.name; })},
               b);
    // A plain key that a list would write over.
    schema.add(std::vector<SettingRow<Sample>>{rowText<Sample>(LoadStage::Setup, "Setup", "Item3", "",
                                                               [](Sample& s) -> QString& { return s.name; })},
               b);
    schema.add(sampleLists(), a);
    EXPECT_EQ(schema.duplicates(), (QStringList{"window/name", "setup/item3"}));
}
