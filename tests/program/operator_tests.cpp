#include <cstdlib>
#include <sstream>

#include "codec/codec.h"
#include "link/FT2232H.h"
#include "panel/callbacks.h"
#include "program_fixture.h"
#include "recording_backend.h"

namespace kovra610::testing {
namespace {

int item(int array, int i) {
    return GetCtrlArrayItem(array, i);
}

// The last word the chip decoded for a register of channel select `ch`.
vboard::SerialWord lastWordTo(const vboard::VirtualBoard& board, unsigned ch, unsigned addr) {
    vboard::SerialWord found{};
    for (const auto& w : board.chip().words())
        if (w.ch == ch && w.addr == addr) found = w;
    return found;
}

struct RingSetting {
    int control;
    int value;
};

struct PackedWordCase {
    const char* what;
    std::vector<RingSetting> rings;
    unsigned addr;
    unsigned word;
};

TEST_F(ProgramTest, RegisterEditsReachBothChannelsAsPackedWords) {
    const std::vector<PackedWordCase> cases = {
        {"driver",
         {{DRVPOWER, 1}, {DRVFORCE, 7}, {DRVRCV, 1}, {DRVDATAMUX, 0}, {DRVRCVMUX, 1}, {DRVCLC, 5}},
         0x19,
         0x1A1F},
        {"measure out temperature", {{PMUMEASOUT, 2}}, 0x1C, 0x6000},
        {"range A", {{PMUMEASOUT, 0}, {PMURANGES, 7}}, 0x1C, 0x001C},
        {"standby", {{PMURANGES, 0}, {PMUPOWER, 3}}, 0x1C, 0x0003},
        {"sense and clamps", {{PMUPOWER, 0}, {PMUSENSE, 1}, {PMUCLAMPS, 1}}, 0x1C, 0x0600},
        {"comparator hysteresis", {{CMPHYS, 15}}, 0x1A, 0xF000},
        {"diff hysteresis", {{CMPHYS, 0}, {DIFFHYS, 15}}, 0x1A, 0x0F00},
        {"comparator clc", {{DIFFHYS, 0}, {CMPCLC, 7}}, 0x1A, 0x0070},
        {"thermal threshold", {{ALMTHRES, 7}}, 0x1D, 0x00E0},
        {"alarms disabled",
         {{ALMTHRES, 0}, {ALMOVD, 1}, {ALMPPMU, 1}, {ALMTHERM, 1}},
         0x1D,
         0x000D},
        {"load forced on", {{LOAD, 3}}, 0x1B, 0x0003},
    };
    runProgram([&] {
        for (const auto& c : cases) {
            for (const auto& r : c.rings) driver::commit(panelHandle, r.control, r.value);
            EXPECT_EQ(board->chip().reg(0, c.addr), c.word) << c.what;
            EXPECT_EQ(board->chip().reg(1, c.addr), c.word) << c.what;
            EXPECT_EQ(lastWordTo(*board, 1, c.addr).data, c.word) << c.what;
            EXPECT_EQ(lastWordTo(*board, 2, c.addr).data, c.word) << c.what;
        }
    });
}

TEST_F(ProgramTest, ChannelSelectionTouchesOnlyTheSelectedChannel) {
    runProgram([&] {
        driver::commit(panelHandle, MODECHSEL, 1);
        board->chip().clearLists();
        driver::commit(panelHandle, DRVFORCE, 3);
        EXPECT_EQ(board->chip().reg(0, 0x19), 0x0007);
        EXPECT_EQ(board->chip().reg(1, 0x19), 0x0001);
        for (const auto& w : board->chip().words()) EXPECT_EQ(w.ch, 1u);

        driver::commit(panelHandle, MODECHSEL, 2);
        // the rings now show channel 1, whose driver word is still 0x0001
        EXPECT_EQ(driver::shownText(panelHandle, DRVFORCE), "0");
        board->chip().clearLists();
        driver::commit(panelHandle, DRVCLC, 6);
        EXPECT_EQ(board->chip().reg(1, 0x19), 0x0C01);
        EXPECT_EQ(board->chip().reg(0, 0x19), 0x0007);
        for (const auto& w : board->chip().words()) EXPECT_EQ(w.ch, 2u);
        EXPECT_STREQ(sbus_structure.name[30], "DrvRegCh0");
        EXPECT_EQ(sbus_structure.data[30], 0x0007);

        // both channels: the panel shows channel 0
        driver::commit(panelHandle, MODECHSEL, 0);
        EXPECT_EQ(driver::shownText(panelHandle, DRVFORCE), "3");
        EXPECT_EQ(driver::shownText(panelHandle, DRVCLC), "0");
    });
}

TEST_F(ProgramTest, LevelAndCodeEditsConvertAtTheTablePoints) {
    runProgram([&] {
        const std::pair<double, unsigned> levels[] = {{0.0, 16384}, {7.5, 65535}, {-2.5, 0},
                                                      {2.0, 29491}, {-2.0, 3277}, {1.23456, 24474}};
        for (const auto& [volts, code] : levels) {
            board->chip().clearLists();
            driver::commit(panelHandle, item(VoltDataCtrlArr, 5), volts);
            EXPECT_EQ(sbus_structure.data[5], static_cast<int>(code)) << volts;
            EXPECT_EQ(driver::shownText(panelHandle, item(HexDataCtrlArr, 5)),
                      std::to_string(code));
            EXPECT_EQ(board->chip().reg(0, 5), code) << volts;
        }
        EXPECT_EQ(sbus_structure.volts[5], 1.23456);  // stored unrounded

        // the same level twice: nothing changed, nothing sent
        board->chip().clearLists();
        driver::commit(panelHandle, item(VoltDataCtrlArr, 5), 1.23456);
        EXPECT_TRUE(board->chip().words().empty());

        // a code shows its rounded level, is stored, and is not sent yet
        board->chip().clearLists();
        driver::commit(panelHandle, item(HexDataCtrlArr, 0), 16385u);
        EXPECT_EQ(sbus_structure.data[0], 16385);
        EXPECT_EQ(sbus_structure.volts[0], 0.0);
        EXPECT_EQ(driver::shownText(panelHandle, item(VoltDataCtrlArr, 0)).substr(0, 5), "0.000");
        EXPECT_TRUE(board->chip().words().empty());
        driver::commit(panelHandle, item(HexDataCtrlArr, 1), 0u);
        EXPECT_EQ(sbus_structure.volts[1], -2.5);
        driver::commit(panelHandle, item(HexDataCtrlArr, 2), 65535u);
        EXPECT_EQ(sbus_structure.volts[2], 7.5);

        // entry 9 converts from its level at every transfer: its code 16385
        // goes out as the code of the level it showed, 0.0 V
        driver::commit(panelHandle, item(HexDataCtrlArr, 9), 16385u);
        driver::press(panelHandle, SBUSWRITE);
        EXPECT_EQ(sbus_structure.data[9], 16384);
        EXPECT_EQ(board->chip().reg(0, 9), 16384);
        EXPECT_EQ(board->chip().reg(0, 0), 16385);  // other entries send their code as committed
    });
}

TEST_F(ProgramTest, TheTwoPanelRowsWithoutADacEntryNeverTouchTheDriverRegisters) {
    runProgram([&] {
        const SBUS_STRUCTURE before = sbus_structure;
        board->chip().clearLists();
        driver::commit(panelHandle, item(VoltDataCtrlArr, 30), 2.0);
        driver::commit(panelHandle, item(HexDataCtrlArr, 31), 49151u);
        EXPECT_TRUE(board->chip().words().empty());
        EXPECT_EQ(sbus_structure.data[30], before.data[30]);
        EXPECT_EQ(sbus_structure.data[31], before.data[31]);
        EXPECT_EQ(sbus_structure.volts[31], before.volts[31]);
        // the row's two views stay in step
        EXPECT_EQ(driver::shownText(panelHandle, item(HexDataCtrlArr, 30)), "29491");
        EXPECT_EQ(driver::shownText(panelHandle, item(VoltDataCtrlArr, 31)).substr(0, 5), "5.000");
    });
}

TEST_F(ProgramTest, ReadAllRegsListsFortyEntriesAndShowsWhatTheChipHolds) {
    runProgram([&] {
        board->chip().setReg(0, 0x03, 40000);   // CPH_Ch0 drifted on the chip
        board->chip().setReg(0, 0x19, 0x1A1F);  // driver word of channel 0
        board->chip().setReg(1, 0x1A, 0xF000);  // comparator of channel 1
        StdoutCapture out;
        driver::press(panelHandle, ALL_2);
        const std::string listing = out.text();

        std::istringstream lines(listing);
        std::string line;
        int n = 0;
        while (std::getline(lines, line)) {
            char expected[200];
            const unsigned held = chipValueOf(n);
            std::snprintf(expected, sizeof expected, "%-10s ch=0x%X addr=0x%X rw=0x%X data=0x%X %d",
                          sbus_structure.name[n], sbus_structure.ch[n], sbus_structure.addr[n], 0,
                          held, held);
            EXPECT_EQ(line, expected);
            EXPECT_EQ(sbus_structure.data[n], static_cast<int>(held));
            ++n;
        }
        EXPECT_EQ(n, 40);
        EXPECT_EQ(driver::shownText(panelHandle, item(HexDataCtrlArr, 3)), "40000");
        EXPECT_EQ(sbus_structure.volts[3], round_dbl((40000 - 16384) * (10.0 / 65535), 3));
        EXPECT_EQ(sbus_structure.volts[30], -1.48);  // register words converted as if levels
        EXPECT_EQ(driver::shownText(panelHandle, DRVFORCE), "7");
        EXPECT_EQ(driver::shownText(panelHandle, DRVCLC), "5");
        driver::commit(panelHandle, MODECHSEL, 2);
        EXPECT_EQ(driver::shownText(panelHandle, CMPHYS), "15");
        // every read went out as a read cycle, the first with data 0
        const auto& words = board->chip().words();
        ASSERT_GE(words.size(), 40u);
        const auto first = words[words.size() - 40];
        EXPECT_EQ(first.rw, 0u);
        EXPECT_EQ(first.data, 0u);
    });
}

TEST_F(ProgramTest, WriteAllRegSendsEverythingEveryTimeWithItsLedLit) {
    runProgram([&] {
        for (int pass = 0; pass < 2; ++pass) {
            board->chip().clearLists();
            std::string ledDuring, busyDuring;
            atNextEvents([&] {
                ledDuring = driver::shownText(panelHandle, LED_2);
                busyDuring = std::to_string(driver::ledBusy(panelHandle, LED));
            });
            driver::press(panelHandle, ALL);
            EXPECT_EQ(board->chip().words().size(), 40u);
            EXPECT_EQ(ledDuring, "1");
            EXPECT_EQ(busyDuring, "1");
            EXPECT_EQ(driver::shownText(panelHandle, LED_2), "0");
            EXPECT_EQ(driver::ledBusy(panelHandle, LED), 0);
        }
        // with the link gone the forced pass still ends with the LED dark
        board->faults().pullCable();
        driver::press(panelHandle, ALL);
        EXPECT_EQ(driver::shownText(panelHandle, LED_2), "0");
    });
}

TEST_F(ProgramTest, AlarmReadBackReadsBothChannelsBeforeShowingEither) {
    runProgram([&] {
        board->chip().raiseAlarm(0, 0x0049);
        board->chip().raiseAlarm(1, 0x0102);
        board->chip().clearLists();
        driver::press(panelHandle, COMMANDBUTTON_5);
        EXPECT_EQ(driver::shownText(panelHandle, DATA1), "73");
        EXPECT_EQ(driver::shownText(panelHandle, DATA2), "258");
        const auto& words = board->chip().words();
        ASSERT_EQ(words.size(), 2u);
        EXPECT_EQ(words[0].ch, 1u);
        EXPECT_EQ(words[1].ch, 2u);
        EXPECT_EQ(words[0].addr, 0x1Eu);
        EXPECT_EQ(words[0].rw, 0u);
    });
}

TEST_F(ProgramTest, SingleWordsFromThePanel) {
    runProgram([&] {
        board->chip().clearLists();
        driver::commit(panelHandle, CH, 3u);
        driver::commit(panelHandle, ADDR, 0x12u);
        driver::commit(panelHandle, DATA_1, 0xBEEFu);
        EXPECT_EQ(driver::shownText(panelHandle, DATA_2), std::to_string(0xBEEF));
        driver::press(panelHandle, COMMANDBUTTON);
        EXPECT_EQ(board->chip().reg(0, 0x12), 0xBEEF);
        EXPECT_EQ(board->chip().reg(1, 0x12), 0xBEEF);

        // the second data view reaches 131071; the word carries 16 bits
        driver::commit(panelHandle, DATA_2, 0x1BEEFu);
        EXPECT_EQ(driver::shownText(panelHandle, DATA_1), std::to_string(0xBEEF));
        // committing the read view's data copies the write view's, not its own
        driver::commit(panelHandle, DATA_1, 5u);
        driver::commit(panelHandle, DAT2, 9u);
        EXPECT_EQ(driver::shownText(panelHandle, DATA_2), "5");

        // R/W 0 makes a read cycle and changes no field
        board->chip().clearLists();
        driver::commit(panelHandle, REG, 0u);
        driver::press(panelHandle, COMMANDBUTTON);
        ASSERT_EQ(board->chip().words().size(), 1u);
        EXPECT_EQ(board->chip().words()[0].rw, 0u);
        EXPECT_EQ(board->chip().reg(0, 0x12), 0xBEEF);

        driver::commit(panelHandle, CH2, 2u);
        driver::commit(panelHandle, ADDR2, 0x12u);
        driver::press(panelHandle, SINGLEREAD);
        EXPECT_EQ(driver::shownText(panelHandle, DAT2), std::to_string(0xBEEF));
        EXPECT_EQ(driver::shownText(panelHandle, ADDR2), std::to_string(0x12));
        EXPECT_EQ(driver::shownText(panelHandle, CH2), "2");
        EXPECT_EQ(driver::shownText(panelHandle, RW2), "0");
    });
}

TEST_F(ProgramTest, LinkButtonsResetTheChipSetTheClockAndReopen) {
    runProgram([&] {
        EXPECT_EQ(board->engine().divisor(), 15);
        driver::commit(panelHandle, CLKFREQ, 4u);
        EXPECT_EQ(board->engine().divisor(), 4);
        EXPECT_DOUBLE_EQ(board->engine().serialClockHz(), 6e6);
        driver::press(panelHandle, SETCLKFREQ);
        EXPECT_EQ(board->engine().divisor(), 4);

        // "Reset Part": the next transfer, here for one level, sends every entry
        driver::press(panelHandle, COMMANDBUTTON_4);
        EXPECT_EQ(board->chip().resets(), 2u);
        EXPECT_EQ(board->chip().reg(0, 0x19), 0);
        board->chip().clearLists();
        driver::commit(panelHandle, item(VoltDataCtrlArr, 3), 1.0);
        EXPECT_EQ(board->chip().words().size(), 40u);
        for (int i = 0; i < 40; ++i) EXPECT_EQ(chipValueOf(i), sbus_structure.data[i]) << i;

        // re-opening returns the clock to its divisor 15
        driver::press(panelHandle, COMMANDBUTTON_6);
        EXPECT_EQ(board->engine().divisor(), 15);
        EXPECT_TRUE(board->portConfig(0).open);
    });
    EXPECT_NE(console.find("Chip reset: its registers are back at their reset values; the next "
                           "transfer sends every entry\n"),
              std::string::npos);
}

TEST_F(ProgramTest, ReopeningWithTheCablePulledLeavesThePanelUsable) {
    int result = -2;
    result = runProgram([&] {
        board->faults().pullCable();
        driver::press(panelHandle, COMMANDBUTTON_6);
        driver::commit(panelHandle, DRVFORCE, 3);
        driver::press(panelHandle, ALL_2);
        EXPECT_EQ(driver::shownText(panelHandle, item(HexDataCtrlArr, 0)), "36044");
        EXPECT_EQ(sbus_structure.data[0], 36044);
        board->faults().plugCable();
        driver::press(panelHandle, COMMANDBUTTON_6);
        EXPECT_TRUE(board->portConfig(0).open);
        // What was edited while the link was down goes with the next edit.
        driver::commit(panelHandle, item(VoltDataCtrlArr, 1), 2.0);
        for (int i = 0; i < 40; ++i) EXPECT_EQ(chipValueOf(i), sbus_structure.data[i]) << i;
    });
    EXPECT_EQ(result, 0);
    EXPECT_NE(console.find("There are no FTDI devices installed\n"), std::string::npos);
    EXPECT_EQ(console.find("USB Glitch"), std::string::npos) << "no word tried on a closed link";
    EXPECT_NE(console.find("Error - GPIO cannot be read\n"), std::string::npos);
    EXPECT_NE(console.find("DVH_Ch0    ch=0x1 addr=0x0 read failed: level and code kept\n"),
              std::string::npos);
}

// The cable pulled in the middle of "Read all Regs": the loss is said once;
// the entries read before show what the chip holds, every later one keeps
// its level, code and name, and its listing line says so; the single read
// and the alarm read-back keep their fields. After re-plugging, "Reset
// FTDI232H" and "Write All Reg" bring the chip to the image.
TEST_F(ProgramTest, APulledCableNeverBecomesDataAndReopeningRestoresTheChip) {
    runProgram([&] {
        driver::commit(panelHandle, DRVFORCE, 3);
        const SBUS_STRUCTURE before = sbus_structure;
        board->chip().setReg(0, 0x00, 40000);
        board->faults().pullCableAfterWrite(10);  // the tenth read gets no reply
        driver::press(panelHandle, ALL_2);
        EXPECT_EQ(FTD232_link_state(), LINK_LOST);
        EXPECT_EQ(sbus_structure.data[0], 40000);
        for (int i = 9; i < 40; ++i) {
            EXPECT_EQ(sbus_structure.data[i], before.data[i]) << i;
            EXPECT_EQ(sbus_structure.volts[i], before.volts[i]) << i;
        }
        EXPECT_EQ(driver::shownText(panelHandle, item(HexDataCtrlArr, 9)), "9830");
        EXPECT_EQ(driver::shownText(panelHandle, DRVFORCE), "3");
        SetCtrlVal(panelHandle, CH2, 2u);
        SetCtrlVal(panelHandle, ADDR2, 0x12u);
        SetCtrlVal(panelHandle, DAT2, 9u);
        SetCtrlVal(panelHandle, DATA1, 5u);
        driver::press(panelHandle, SINGLEREAD);
        driver::press(panelHandle, COMMANDBUTTON_5);
        EXPECT_EQ(driver::shownText(panelHandle, DAT2), "9");
        EXPECT_EQ(driver::shownText(panelHandle, DATA1), "5");
        driver::commit(panelHandle, item(VoltDataCtrlArr, 1), 2.0);
        driver::press(panelHandle, COMMANDBUTTON_4);

        board->faults().plugCable();
        driver::press(panelHandle, COMMANDBUTTON_6);
        EXPECT_EQ(FTD232_link_state(), LINK_UP);
        driver::press(panelHandle, ALL);
        for (int i = 0; i < 40; ++i) EXPECT_EQ(chipValueOf(i), sbus_structure.data[i]) << i;
        EXPECT_EQ(board->chip().reg(0, 0x01), 29491);
    });
    EXPECT_EQ(console.find("Link lost: "), console.rfind("Link lost: "));
    for (const char* line : {"\nDVH_Ch0    ch=0x1 addr=0x0 rw=0x0 data=0x9C40 40000\n",
                             "\nCLAMPL_Ch0 ch=0x1 addr=0x9 read failed: level and code kept\n",
                             "\nSingle read ch=0x2 addr=0x12 failed: fields kept\n",
                             "\nAlarm read ch=0x1 addr=0x1E failed: display kept\n"
                             "Alarm read ch=0x2 addr=0x1E failed: display kept\n",
                             "\nChip not reset: the link is not up\n", "\nLink lost: "})
        EXPECT_NE(console.find(line), std::string::npos) << line;
}

TEST_F(ProgramTest, BitStringWritesTheSameWordAsTheOverVoltageMask) {
    runProgram([&] {
        board->chip().clearLists();
        set_ovdmask(panelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);
        vector_data_serial_bus_write(
            "11"
            "0011101"
            "1"
            "0000000000001100");
        vector_data_serial_bus_write(
            "11"
            "0011101"
            "1"
            "00000000000011xx and more");
        vector_data_serial_bus_write(
            "1x"
            "0011101"
            "1"
            "0000000000001100");
        vector_data_serial_bus_write("11");  // short: the missing bits are 0
        const auto& words = board->chip().words();
        ASSERT_EQ(words.size(), 5u);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(kovra610::sbus::pack(words[i]), 0x33B000Cu) << i;
        EXPECT_EQ(kovra610::sbus::pack(words[3]), 0x23B000Cu);
        EXPECT_EQ(kovra610::sbus::pack(words[4]), 0x3000000u);
        EXPECT_EQ(board->chip().reg(0, 0x1D), 12);
        EXPECT_EQ(board->chip().reg(1, 0x1D), 12);
    });
}

}  // namespace
}  // namespace kovra610::testing

namespace kovra610::testing {
namespace {

// The session the README walks through: load a setup, change a level, read
// everything back, save. KOVRA610_SESSION_SCREENSHOT=FILE.png keeps a
// picture of the panel after the read-back.
TEST_F(ProgramTest, AShortSessionAtThePanel) {
    runProgram([&] {
        driver::answerNextFilePopup((setupDir / "kovra610_defaults.sbus").string());
        driver::press(panelHandle, SBUSSEL);
        driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 0), 3.3);
        EXPECT_EQ(board->chip().reg(0, 0x00), 38010);
        driver::commit(panelHandle, DRVFORCE, 3);
        driver::press(panelHandle, ALL_2);
        EXPECT_EQ(driver::shownText(panelHandle, GetCtrlArrayItem(HexDataCtrlArr, 0)), "38010");
        EXPECT_EQ(driver::shownText(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 0)), "3.300");
        if (const char* picture = std::getenv("KOVRA610_SESSION_SCREENSHOT")) {
            EXPECT_TRUE(driver::savePng(panelHandle, picture));
        }
        driver::answerNextFilePopup((setupDir / "session.sbus").string());
        driver::press(panelHandle, SBUSLRN);
        EXPECT_EQ(readFile(setupDir / "session.sbus").rfind("DVH_Ch0 ,3.300000 ,0,1,1,38010,", 0),
                  0u);
    });
    EXPECT_NE(console.find("DVH_Ch0    ch=0x1 addr=0x0 rw=0x0 data=0x947A 38010\n"),
              std::string::npos);
}

}  // namespace
}  // namespace kovra610::testing
