#include <random>

#include "program_fixture.h"

namespace kovra610::testing {
namespace {

struct Ring {
    int control;
    std::vector<int> values;
};

// Thousands of random operator edits, then "Write All Reg": every entry in
// use of the image is what the chip holds.
TEST_F(ProgramTest, RandomOperatorEditsEndWithTheChipHoldingTheImage) {
    const std::vector<Ring> rings = {{DRVPOWER, {0, 1}},    {DRVFORCE, {0, 1, 3, 5, 7}},
                                     {DRVRCV, {0, 1}},      {DRVDATAMUX, {0, 1}},
                                     {DRVRCVMUX, {0, 1}},   {DRVCLC, {0, 1, 2, 3, 4, 5, 6, 7}},
                                     {PMUPOWER, {0, 1, 3}}, {PMURANGES, {7, 6, 5, 4, 0}},
                                     {PMUINPUT, {2, 0, 1}}, {PMUMEASOUT, {0, 1, 2}},
                                     {PMUSENSE, {0, 1}},    {CMPHYS, {0, 5, 15}},
                                     {CMPCLC, {0, 3, 7}},   {DIFFHYS, {0, 9}},
                                     {ALMTHRES, {0, 4, 7}}, {ALMOVD, {0, 1}},
                                     {LOAD, {0, 1, 3}},     {MODECHSEL, {0, 1, 2}}};
    std::mt19937 random(610);
    runProgram([&] {
        for (int edit = 0; edit < 10000; ++edit) {
            const int row = static_cast<int>(random() % 30);
            switch (random() % 5) {
                case 0:
                    driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, row),
                                   -2.5 + static_cast<double>(random() % 10001) / 1000.0);
                    break;
                case 1:
                    driver::commit(panelHandle, GetCtrlArrayItem(HexDataCtrlArr, row),
                                   static_cast<unsigned>(random() % 65536));
                    break;
                case 2:
                case 3: {
                    const Ring& ring = rings[random() % rings.size()];
                    driver::commit(panelHandle, ring.control,
                                   ring.values[random() % ring.values.size()]);
                    break;
                }
                default:
                    if (random() % 50 == 0) driver::press(panelHandle, ALL);
                    break;
            }
        }
        driver::press(panelHandle, ALL);
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ(chipValueOf(i), sbus_structure.data[i] & 0xFFFF) << "entry " << i;
        EXPECT_EQ(board->chip().framingErrors(), 0u);
    });
}

}  // namespace
}  // namespace kovra610::testing
