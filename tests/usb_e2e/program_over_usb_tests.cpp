// The whole program in-process, headless, with KOVRA610_BOARD=usb: the
// hardware backend, the system's libftdi1 and the board under test.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMainWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "board_under_test.h"
#include "platform/protocol/sbus_registers.h"
#include "platform/runtime/main_window.h"
#include "program_fixture.h"
#include "recording_backend.h"

namespace kovra610::testing {
namespace {

const char kEmulatedOpen[] =
    "Checking for FTDI devices...\n"
    "2 FTDI devices found - the count includes individual ports on a single chip\n"
    "\nAssume first device has the MPSSE and open it...\n"
    "Opened FT2232H \"Dual RS232-HS\" serial KV610001 (bus 001, address 002), interface A\n"
    "\nConfiguring port for MPSSE use...\n"
    "MPSSE Initialize Successfull, 0\n"
    "Synchronize Completed\n";

std::vector<kovra610_usb_word> chipWords() {
    std::vector<kovra610_usb_word> words(4096);
    const int n = USB_CONTROL(kovra610_usb_chip_words)(0, words.data(), 4096);
    words.resize(static_cast<std::size_t>(std::clamp(n, 0, 4096)));
    return words;
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class ProgramOverUsb : public ProgramTest {
protected:
    void SetUp() override {
        KOVRA610_BOARD_UNDER_TEST(setting);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ProgramTest::SetUp();
        setenv("KOVRA610_BOARD", setting.c_str(), 1);
        d2xx::installBackend(nullptr);  // the program chooses from KOVRA610_BOARD
        emulated = !usbe2e::onHardware();
    }
    void TearDown() override {
        if (!IsSkipped()) ProgramTest::TearDown();
    }

    std::string setting;
    bool emulated = false;
};

TEST_F(ProgramOverUsb, StartUpSendsTheFortyWordsAndReadAllShowsWhatTheChipHolds) {
    std::string listing, board;
    EXPECT_EQ(runProgram([&] {
                  StdoutCapture out;
                  driver::press(panelHandle, ALL_2);
                  listing = out.text();
                  const auto* label = runtime::window::mainWindow()->findChild<QLabel*>(
                      QLatin1String("statusBoard"));
                  if (label != nullptr) board = label->text().toStdString();
              }),
              0);

    std::istringstream lines(listing);
    std::string line;
    int n = 0;
    for (; std::getline(lines, line) && n < 40; ++n) {
        const unsigned held = sbus_structure.data[n] & 0xFFFF;
        char expected[200];
        std::snprintf(expected, sizeof expected, "%-10s ch=0x%X addr=0x%X rw=0x%X data=0x%X %d",
                      sbus_structure.name[n], sbus_structure.ch[n], sbus_structure.addr[n], 0, held,
                      held);
        EXPECT_EQ(line, expected);
        if (emulated) {
            const int channel = sbus_structure.ch[n] == 2 ? 1 : 0;
            EXPECT_EQ(held, static_cast<unsigned>(USB_CONTROL(kovra610_usb_chip_reg)(
                                0, channel, static_cast<unsigned>(sbus_structure.addr[n]))))
                << n;
        }
    }
    EXPECT_EQ(n, 40);
    if (!emulated) {
        EXPECT_EQ(console.rfind("Checking for FTDI devices...\n", 0), 0u) << console;
        EXPECT_NE(console.find("MPSSE Initialize Successfull, 0\nSynchronize Completed\n"),
                  std::string::npos);
        return;
    }
    EXPECT_EQ(console, kEmulatedOpen);
    EXPECT_EQ(board, "FT2232H KV610001");  // the status bar names the device opened
    EXPECT_EQ(USB_CONTROL(kovra610_usb_chip_resets)(0), 1);
    const std::vector<kovra610_usb_word> words = chipWords();
    ASSERT_EQ(words.size(), 80u);  // 40 written at start-up, 40 reads
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(words[i].ch, static_cast<unsigned>(sbus_structure.ch[i])) << i;
        EXPECT_EQ(words[i].addr, static_cast<unsigned>(sbus_structure.addr[i])) << i;
        EXPECT_EQ(words[i].rw, 1u) << i;
        EXPECT_EQ(words[40 + i].rw, 0u) << i;
    }
    d2xx::installBackend(nullptr);
    EXPECT_EQ(USB_CONTROL(kovra610_usb_contexts_made)(), 1);
    EXPECT_EQ(USB_CONTROL(kovra610_usb_handles_open)(), 0);
}

TEST_F(ProgramOverUsb, StrayBytesBeforeAWriteAreDrainedAndTheLinkResynchronises) {
    KOVRA610_NEEDS_EMULATED_BUS();
    std::size_t before = 0;
    EXPECT_EQ(runProgram([&] {
                  before = chipWords().size();
                  const unsigned char stray[] = {0x12, 0x34};
                  USB_CONTROL(kovra610_usb_inject)(0, stray, 2);
                  // past the 1 ms latency timer, so the first poll sees them
                  std::this_thread::sleep_for(std::chrono::milliseconds(3));
                  driver::commit(panelHandle, DRVFORCE, 3);
              }),
              0);
    EXPECT_EQ(count(console, " !!!!! "), 1) << console;
    EXPECT_EQ(count(console, "Error"), 0) << console;
    const std::vector<kovra610_usb_word> words = chipWords();
    ASSERT_GT(words.size(), before);  // the write that found the stray bytes landed
    EXPECT_EQ(words.back().addr, 0x19u);
    EXPECT_EQ(words.back().rw, 1u);
}

TEST_F(ProgramOverUsb, WithTheCablePulledNothingHangsAndAfterReplugTheLinkReopens) {
    KOVRA610_NEEDS_EMULATED_BUS();
    std::chrono::steady_clock::duration unplugged{};
    EXPECT_EQ(runProgram([&] {
                  USB_CONTROL(kovra610_usb_unplug)(0);
                  const auto start = std::chrono::steady_clock::now();
                  driver::press(panelHandle, ALL_2);
                  unplugged = std::chrono::steady_clock::now() - start;
                  USB_CONTROL(kovra610_usb_replug)(0);
                  driver::press(panelHandle, COMMANDBUTTON_6);  // "Reset FTDI232H"
                  driver::press(panelHandle, SINGLEREAD);
              }),
              0);
    // The loss is said once; from then on the reads fail at once, and each
    // entry keeps what it held.
    EXPECT_LT(unplugged, std::chrono::seconds(2));
    EXPECT_EQ(count(console, "Link lost: "), 1) << console;
    EXPECT_EQ(count(console, "read failed: level and code kept\n"), 40);
    EXPECT_NE(console.find("Opened FT2232H \"Dual RS232-HS\" serial KV610001 (bus 001, "
                           "address 003), interface A\n"),
              std::string::npos)
        << console;
    EXPECT_EQ(count(console, "Synchronize Completed\n"), 2);
    EXPECT_EQ(chipWords().back().rw, 0u);  // the single read after the re-open reached the chip
}

// An edit made while the cable is out does not reach the chip, so it is
// not taken as sent: once the link is open again the same edit sends it,
// and the chip holds what the image holds.
TEST_F(ProgramOverUsb, AnEditLostWithTheCableIsSentWhenTheLinkIsBack) {
    KOVRA610_NEEDS_EMULATED_BUS();
    int before = -1;
    EXPECT_EQ(runProgram([&] {
                  before = USB_CONTROL(kovra610_usb_chip_reg)(0, 0, sbus::kDriverRegister);
                  USB_CONTROL(kovra610_usb_unplug)(0);
                  driver::commit(panelHandle, DRVFORCE, 3);
                  USB_CONTROL(kovra610_usb_replug)(0);
                  driver::press(panelHandle, COMMANDBUTTON_6);  // "Reset FTDI232H"
                  driver::commit(panelHandle, DRVFORCE, 3);     // the same edit once more
              }),
              0);
    const int entry = sbus::kDriverEntries.entry;
    EXPECT_NE(before, sbus_structure.data[entry] & 0xFFFF) << "the edit changed nothing";
    for (int channel : {0, 1})
        EXPECT_EQ(USB_CONTROL(kovra610_usb_chip_reg)(0, channel, sbus::kDriverRegister),
                  sbus_structure.data[entry + channel] & 0xFFFF)
            << "channel " << channel << "\n"
            << console;
    EXPECT_EQ(count(console, "Link lost: "), 1) << console;
}

// A chip reset whose pulse the cable cut short still reset the chip: once
// the link is open again, the next transfer sends every entry, and the
// chip holds the whole image again.
TEST_F(ProgramOverUsb, AResetCutShortByThePulledCableStillCounts) {
    KOVRA610_NEEDS_EMULATED_BUS();
    int resets = -1;
    EXPECT_EQ(runProgram([&] {
                  resets = USB_CONTROL(kovra610_usb_chip_resets)(0);
                  USB_CONTROL(kovra610_usb_unplug_after)(0, 1);  // after the reset line went low
                  driver::press(panelHandle, COMMANDBUTTON_4);   // "Reset Part "
                  USB_CONTROL(kovra610_usb_replug)(0);
                  driver::press(panelHandle, COMMANDBUTTON_6);  // "Reset FTDI232H"
                  driver::commit(panelHandle, DRVFORCE, 3);
              }),
              0);
    EXPECT_EQ(USB_CONTROL(kovra610_usb_chip_resets)(0), resets + 1) << console;
    for (int i = 0; i < sbus_structure.number_registers; ++i)
        EXPECT_EQ(USB_CONTROL(kovra610_usb_chip_reg)(0, sbus_structure.ch[i] == 2 ? 1 : 0,
                                                     static_cast<unsigned>(sbus_structure.addr[i])),
                  sbus_structure.data[i] & 0xFFFF)
            << "entry " << i << "\n"
            << console;
}

}  // namespace
}  // namespace kovra610::testing
