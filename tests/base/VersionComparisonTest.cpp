#include "base/VersionComparison.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace corvex {
namespace {

struct Case {
    const char* a;
    const char* b;
    VersionOrder order;
};

class VersionComparisonTest : public testing::TestWithParam<Case> { };

TEST_P(VersionComparisonTest, OrdersBothWays)
{
    const Case& c = GetParam();
    EXPECT_EQ(compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
    const VersionOrder reversed = c.order == VersionOrder::earlier ? VersionOrder::later
        : c.order == VersionOrder::later                           ? VersionOrder::earlier
                                                                   : VersionOrder::same;
    EXPECT_EQ(compareVersions(c.b, c.a), reversed) << c.b << " vs " << c.a;
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionComparisonTest,
    testing::Values(Case { "1.10", "1.9", VersionOrder::later }, Case { "2.400", "2.4", VersionOrder::later },
        Case { "1.360", "1.365", VersionOrder::earlier }, Case { "1.365", "1.365", VersionOrder::same },
        Case { "2.005", "2.4", VersionOrder::later }, Case { "2.50", "2.100", VersionOrder::earlier },
        Case { "1.2", "1.2.1", VersionOrder::earlier }, Case { "", "0", VersionOrder::earlier },
        Case { "1.2b", "1.2a", VersionOrder::later }, Case { "1.02", "1.2", VersionOrder::same },
        // Runs longer than any integer type still compare by value.
        Case { "1.99999999999999999999999", "1.100000000000000000000000", VersionOrder::earlier }));

} // namespace
} // namespace corvex
