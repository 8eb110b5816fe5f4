#include "platform/DeviceMatching.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace corvex;

namespace {

// A chain of entries from the tty up to the root, each with its own properties.
struct FakeTree {
    std::vector<std::map<std::string, std::int32_t>> chain;
};

class FakeEntry final : public DeviceTreeEntry {
public:
    FakeEntry(const FakeTree& tree, std::size_t index)
        : m_tree(tree)
        , m_index(index)
    {
    }
    std::optional<std::int32_t> integerProperty(std::string_view name) const override
    {
        const auto& properties = m_tree.chain[m_index];
        auto found = properties.find(std::string(name));
        if (found == properties.end())
            return std::nullopt;
        return found->second;
    }
    std::unique_ptr<DeviceTreeEntry> parent() const override
    {
        if (m_index + 1 >= m_tree.chain.size())
            return nullptr;
        return std::make_unique<FakeEntry>(m_tree, m_index + 1);
    }

private:
    const FakeTree& m_tree;
    std::size_t m_index;
};

} // namespace

TEST(DeviceMatching, FindsBothIdsOnTheFirstEntryThatCarriesBoth)
{
    // tty -> interface (ids of its own class, product only) -> USB device (both)
    FakeTree tree { { {}, { { "idProduct", 0x1234 } }, { { "idVendor", 0x2504 }, { "idProduct", 0x0300 } }, {} } };
    std::int32_t vendor = 0, product = 0;
    ASSERT_TRUE(GetDeviceVidAndPid(FakeEntry(tree, 0), vendor, product));
    EXPECT_EQ(vendor, 0x2504);
    EXPECT_EQ(product, 0x0300);
    EXPECT_TRUE(isCorvexInstrument(FakeEntry(tree, 0)));
}

TEST(DeviceMatching, IdsSplitOverTwoEntriesDoNotMatch)
{
    FakeTree tree { { {}, { { "idVendor", 0x2504 } }, { { "idProduct", 0x0300 } } } };
    std::int32_t vendor = 0, product = 0;
    EXPECT_FALSE(GetDeviceVidAndPid(FakeEntry(tree, 0), vendor, product));
    EXPECT_FALSE(isCorvexInstrument(FakeEntry(tree, 0)));
}

TEST(DeviceMatching, TheNearestCompleteEntryDecidesEvenIfAnAncestorWouldMatch)
{
    // A hub further up with the instrument's ids must not make another device match.
    FakeTree tree { { {}, { { "idVendor", 0x0403 }, { "idProduct", 0x6001 } },
        { { "idVendor", 0x2504 }, { "idProduct", 0x0300 } } } };
    EXPECT_FALSE(isCorvexInstrument(FakeEntry(tree, 0)));
    FakeTree noIds { { {}, {} } };
    EXPECT_FALSE(isCorvexInstrument(FakeEntry(noIds, 0)));
}
