#include "device/FirmwareVersion.h"

#include <gtest/gtest.h>

#include <utility>

namespace corvex {

TEST(FirmwareVersion, RulesAtTheirBoundaries)
{
    struct Case {
        std::uint16_t thousandths;
        const char* text;
        bool wren;
        bool textIgc;
        bool airspaces;
        bool recentIgc;
    };
    const Case cases[] = {
        { 0, "0.000", false, false, false, false },
        { 999, "0.999", false, false, false, false },
        { 1355, "1.355", false, false, false, false },
        { 1356, "1.356", false, true, false, false },
        { 1364, "1.364", false, true, false, false },
        { 1365, "1.365", false, true, true, false },
        { 1375, "1.375", false, true, true, false },
        { 1376, "1.376", false, true, true, true },
        { 1999, "1.999", false, true, true, true },
        { 2000, "2.000", true, true, false, false },
        { 2400, "2.400", true, true, false, false },
        { 2401, "2.401", true, true, true, false },
        { 2402, "2.402", true, true, true, true },
        { 2999, "2.999", true, true, true, true },
        { 3000, "3.000", true, true, true, false }, // another first digit is never greater
        { 10000, "10.000", true, true, true, true }, // "10.000" is compared with "1.375"
        { 65535, "65.535", true, true, true, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.thousandths);
        const FirmwareVersion version(c.thousandths);
        EXPECT_EQ(version.text(), c.text);
        EXPECT_EQ(version.isWren(), c.wren);
        EXPECT_STREQ(version.modelName(), c.wren ? "Wren" : "Lark");
        EXPECT_EQ(version.supportsAutomaticTextIgcGeneration(), c.textIgc);
        EXPECT_EQ(version.supportsAirspaces(), c.airspaces);
        EXPECT_EQ(version.isRecentIgcFirmware(), c.recentIgc);
    }
}

// Whatever the row, the model changes at the row's first version and its rules switch
// at the row's own thresholds.
TEST(FirmwareVersion, EachModelRowAnswersForItsOwnVersions)
{
    using Rule = bool (FirmwareVersion::*)() const;
    for (std::size_t i = 0; i < varioModelCount; ++i) {
        const VarioModel& row = varioModels[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(&FirmwareVersion(row.firstFirmware).model(), &row);
        if (i > 0) {
            EXPECT_EQ(&FirmwareVersion(row.firstFirmware - 1).model(), &varioModels[i - 1]);
        }
        EXPECT_EQ(&varioModel(row.generation), &row);
        EXPECT_EQ(varioModelWithKey(row.key), &row);
        const std::pair<std::uint16_t, Rule> thresholds[] = {
            { row.firstAirspacesFirmware, &FirmwareVersion::supportsAirspaces },
            { row.firstTextIgcFirmware, &FirmwareVersion::supportsAutomaticTextIgcGeneration },
        };
        for (const auto& [first, rule] : thresholds) {
            EXPECT_TRUE((FirmwareVersion(first).*rule)()) << first;
            if (first > row.firstFirmware) {
                EXPECT_FALSE((FirmwareVersion(static_cast<std::uint16_t>(first - 1)).*rule)()) << first;
            }
        }
    }
    EXPECT_EQ(varioModelWithKey("Wren"), nullptr);
}

TEST(FirmwareVersion, TextComparisons)
{
    const FirmwareVersion wren(2405);
    EXPECT_TRUE(wren.isEqualTo("2.4050"));
    EXPECT_FALSE(wren.isEqualTo("2.4"));
    EXPECT_FALSE(wren.isEqualTo("v2.405"));
    EXPECT_TRUE(wren.isGreaterThan("2.40"));
    EXPECT_FALSE(wren.isGreaterThan("1.000"));
    EXPECT_FALSE(wren.isGreaterThan("2.x"));
    EXPECT_FALSE(FirmwareVersion().isGreaterThan(""));
}

} // namespace corvex
