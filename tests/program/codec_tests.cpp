// The register words and the rounding on their own, without the panel.
#include <gtest/gtest.h>

#include <functional>

#include "codec/codec.h"

namespace {

// Every combination of listed ring values of a group.
void forEachSetting(const std::vector<std::vector<int>>& listed,
                    const std::function<void(const std::vector<int>&)>& visit) {
    std::vector<int> values(listed.size());
    std::function<void(size_t)> walk = [&](size_t k) {
        if (k == listed.size()) {
            visit(values);
            return;
        }
        for (int v : listed[k]) {
            values[k] = v;
            walk(k + 1);
        }
    };
    walk(0);
}

const std::vector<int> kBit = {0, 1};
const std::vector<int> kClc = {0, 1, 2, 3, 4, 5, 6, 7};
const std::vector<int> kHys = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

TEST(RegisterWords, EverySettingThePanelPacksShowsAgainAsItWas) {
    const std::vector<std::pair<SBUS_REGISTER_GROUP, std::vector<std::vector<int>>>> groups = {
        {GROUP_DRIVER, {kBit, {0, 1, 3, 5, 7}, kBit, kBit, kBit, kClc}},
        {GROUP_PMU, {{0, 1, 3}, {7, 6, 5, 4, 0}, kBit, kBit, {2, 0, 1}, kBit, kBit, {0, 1, 2}}},
        {GROUP_COMPARATOR, {kBit, kClc, kHys, kClc, kHys}},
        {GROUP_ALARM, {kBit, kBit, kBit, kClc}},
    };
    for (const auto& [group, listed] : groups) {
        int settings = 0;
        forEachSetting(listed, [&](const std::vector<int>& values) {
            ++settings;
            ASSERT_EQ(sbus_unpack_group(group, sbus_pack_group(group, values)), values);
        });
        EXPECT_GT(settings, 30);
    }
}

TEST(RegisterWords, TheIrregularRowsAndUnlistedValues) {
    EXPECT_EQ(sbus_pack_group(GROUP_PMU, {0, 0, 0, 0, 0, 1, 0, 0}), 0x0400);  // sense: bit 10
    EXPECT_EQ(sbus_pack_group(GROUP_PMU, {0, 0, 0, 0, 0, 0, 1, 0}), 0x0200);  // clamps: bit 9
    EXPECT_EQ(sbus_pack_group(GROUP_PMU, {0, 0, 0, 0, 0, 0, 0, 2}), 0x6000);
    EXPECT_EQ(sbus_pack_group(GROUP_PMU, {2, 1, 0, 0, 3, 0, 0, 0}), 0x0000);  // not listed
    EXPECT_EQ(sbus_pack_group(GROUP_DRIVER, {0, 4, 0, 0, 0, 0}), 0x0000);
    EXPECT_EQ(sbus_pack_group(GROUP_DRIVER, {0, 0, 0, 0, 2, 0}), 0x0000);
    // shown again: ignored bits are lost, two-bit fields show what they hold
    EXPECT_EQ(sbus_unpack_group(GROUP_DRIVER, 0x01E0), sbus_unpack_group(GROUP_DRIVER, 0));
    EXPECT_EQ(sbus_unpack_group(GROUP_COMPARATOR, 0x0080), sbus_unpack_group(GROUP_COMPARATOR, 0));
    EXPECT_EQ(sbus_unpack_group(GROUP_ALARM, 0xFF12), sbus_unpack_group(GROUP_ALARM, 0));
    EXPECT_EQ(sbus_unpack_group(GROUP_DRIVER, 0x2000)[4], 2);
    EXPECT_EQ(sbus_unpack_group(GROUP_DRIVER, 0x1A1F), (std::vector<int>{1, 7, 1, 0, 1, 5}));
    EXPECT_EQ(sbus_unpack_group(GROUP_COMPARATOR, 0xF000), (std::vector<int>{0, 0, 15, 0, 0}));
    // bit 14 alone is no setting the ring lists
    EXPECT_EQ(sbus_unpack_group(GROUP_PMU, 0x4000)[7], 3);
}

TEST(Rounding, HalvesGoUpTowardPlusInfinity) {
    EXPECT_EQ(round_dbl(0.0005, 3), 0.001);
    EXPECT_EQ(round_dbl(-0.0005, 3), 0.0);
    EXPECT_EQ(round_dbl(2.4999, 3), 2.5);
    EXPECT_EQ(round_dbl(1.2345, 3), 1.234);  // the double nearest 1.2345 lies below it
    EXPECT_EQ(round_dbl(-1.4804, 3), -1.48);
}

}  // namespace
