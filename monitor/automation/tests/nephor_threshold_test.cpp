// Thresholds set by a client program get the checks of the user's threshold
// fields: a value out of order, or a humidity above 100, is refused with the
// field's message, and nothing is stored.
#include "NephorTestRig.h"

#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::testing;
using conditions::Quantity;

TEST(NephorThresholds, OutOfOrderIsRefusedAndNothingStored)
{
    NephorRig rig;
    ASSERT_TRUE(rig.ready()) << rig.why().toStdString();
    auto c = rig.client();
    const auto& limits = rig.core->conditionsConfig().levels.thresholds;

    const automation::CallResult calm = c->let("ThreshWindCalm", 25.0);
    EXPECT_FALSE(calm.ok());
    EXPECT_EQ(calm.failure, automation::Failure::BadArguments);
    EXPECT_TRUE(calm.error.contains("CALM value CANNOT be greater or equal than WINDY value")) << calm.error.toStdString();
    EXPECT_DOUBLE_EQ(limits[Quantity::Wind][0], 10);
    EXPECT_DOUBLE_EQ(c->get("ThreshWindCalm").value.toDouble(), 10);

    // Equal values are out of order as well; every group has the checks.
    struct Row { const char* member; double value; Quantity q; int i; double kept; const char* message; };
    const Row rows[] = {
        {"ThreshGustWindy", 10, Quantity::Gust, 1, 20, "GUSTY value CANNOT be smaller or equal than CALM value"},
        {"ThreshGustWindy", 99, Quantity::Gust, 1, 20, "GUSTY value CANNOT be larger or equal than VERY GUSTY value"},
        {"ThreshTAmbHot", -10, Quantity::Temperature, 2, 99, "HOT value CANNOT be smaller or equal than COLD value"},
        {"ThreshDewFine", 5, Quantity::DewPoint, 2, 99, "FINE value CANNOT be smaller or equal than HUMID value"},
        {"ThreshHumVHumid", 100.5, Quantity::Humidity, 2, 99, "VERY HUMID value CANNOT be greater than 100"},
        {"ThreshHumFine", 95, Quantity::Humidity, 0, 80, "FINE value CANNOT be greater or equal than HUMID value"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.member);
        const automation::CallResult res = c->let(QString::fromLatin1(r.member), r.value);
        EXPECT_FALSE(res.ok());
        EXPECT_TRUE(res.error.contains(QString::fromLatin1(r.message))) << res.error.toStdString();
        EXPECT_DOUBLE_EQ(limits[r.q][r.i], r.kept);
    }

    // In order, one at a time from the top, a client moves a whole group.
    EXPECT_TRUE(c->let("ThreshHumVHumid", 100.0).ok());
    EXPECT_TRUE(c->let("ThreshWindVWindy", 150.0).ok());
    EXPECT_TRUE(c->let("ThreshWindWindy", 60.0).ok());
    EXPECT_TRUE(c->let("ThreshWindCalm", 25.0).ok());
    EXPECT_DOUBLE_EQ(limits[Quantity::Humidity][2], 100);
    EXPECT_DOUBLE_EQ(limits[Quantity::Wind][0], 25);
    EXPECT_DOUBLE_EQ(limits[Quantity::Wind][1], 60);
    EXPECT_DOUBLE_EQ(limits[Quantity::Wind][2], 150);
}
