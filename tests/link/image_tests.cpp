#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "app/core/sbus_image.h"

namespace {

// A conversion pair as start-up sets it.
SBUS_DAC_SCALE startupPair(int k) {
    SBUS_STRUCTURE image = sbus_structure_initial_contents();
    sbus_set_startup_constants(&image);
    return image.dac_scale[k];
}

SBUS_DAC_SCALE pair0() {
    return startupPair(0);
}

TEST(RegisterImage, InitialContentsBeforeAnythingIsLoaded) {
    const SBUS_STRUCTURE image = sbus_structure_initial_contents();
    for (int i = 0; i < SBUS_MAX_REGISTERS; ++i) {
        EXPECT_EQ(image.volts[i], 1.0);
        EXPECT_EQ(image.data[i], 1);
        EXPECT_EQ(image.addr[i], 1);
        EXPECT_EQ(image.rw[i], 1);
        EXPECT_EQ(image.ch[i], 1);
        EXPECT_EQ(image.dac_type[i], (i == 8 || i == 9) ? 1 : 0) << i;
        if (i > 0) {
            EXPECT_STREQ(image.name[i], "");
        }
    }
    EXPECT_STREQ(sbus_structure.name[0], "\x01");
}

TEST(RegisterImage, LevelToCodeAtTheTablePoints) {
    const SBUS_DAC_SCALE p = pair0();
    const std::pair<double, int> table[] = {
        {-2.5, 0},    {-2.0, 3277}, {-1.0, 9830}, {0.0, 16384}, {0.1, 17039},    {1.0, 22937},
        {2.0, 29491}, {2.5, 32767}, {5.0, 49151}, {7.5, 65535}, {1.23456, 24474}};
    for (const auto& [volts, code] : table) EXPECT_EQ(sbus_volts_to_code(volts, &p), code) << volts;
    // the decimal constant of pairs 1 to 3 truncates 2.0 V one step lower
    for (int k = 1; k < SBUS_DAC_SCALES; ++k) {
        const SBUS_DAC_SCALE decimal = startupPair(k);
        EXPECT_EQ(sbus_volts_to_code(2.0, &decimal), 29490) << k;
    }
}

TEST(RegisterImage, LevelsOutsideTheSpanSaturateInsteadOfWrapping) {
    const SBUS_DAC_SCALE p = pair0();
    EXPECT_EQ(sbus_volts_to_code(7.6, &p), 65535);
    EXPECT_EQ(sbus_volts_to_code(1e9, &p), 65535);
    EXPECT_EQ(sbus_volts_to_code(-2.6, &p), 0);
    EXPECT_EQ(sbus_volts_to_code(-1e9, &p), 0);
    EXPECT_EQ(sbus_volts_to_code(std::numeric_limits<double>::infinity(), &p), 65535);
    EXPECT_EQ(sbus_volts_to_code(std::numeric_limits<double>::quiet_NaN(), &p), 0);
}

TEST(RegisterImage, OnlyDacEntriesInUseWithATypeConvert) {
    SBUS_STRUCTURE image = sbus_structure_initial_contents();
    image.number_dacs = 30;
    image.number_registers = 40;
    EXPECT_EQ(sbus_conversion_pair(&image, 8), 0);
    EXPECT_EQ(sbus_conversion_pair(&image, 9), 0);
    EXPECT_EQ(sbus_conversion_pair(&image, 7), -1);
    image.dac_type[12] = 4;
    EXPECT_EQ(sbus_conversion_pair(&image, 12), 3);
    image.dac_type[35] = 1;  // not a DAC entry
    EXPECT_EQ(sbus_conversion_pair(&image, 35), -1);
    image.number_registers = 8;  // entry 8 no longer in use
    EXPECT_EQ(sbus_conversion_pair(&image, 8), -1);
    EXPECT_EQ(sbus_conversion_pair(&image, 64), -1);
    EXPECT_EQ(sbus_conversion_pair(&image, -1), -1);
}

TEST(RegisterImage, NamesKeepAtMostEightyCharacters) {
    SBUS_STRUCTURE image = sbus_structure_initial_contents();
    const std::string eighty(80, 'a');
    sbus_set_name(&image, 3, eighty.c_str());
    EXPECT_EQ(std::string(image.name[3]), eighty);
    sbus_set_name(&image, 4, (eighty + "bcdef").c_str());
    EXPECT_EQ(std::string(image.name[4]), eighty);
    sbus_set_name(&image, 5, nullptr);
    EXPECT_STREQ(image.name[5], "");
    sbus_set_name(&image, 64, "x");  // outside the image: ignored
}

}  // namespace
