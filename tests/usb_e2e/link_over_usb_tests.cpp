// The link's own functions over libftdi1 and the emulated FT2232H, where
// what the port sends and when is the point: stray bytes around a reply.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "board_under_test.h"
#include "link/FT2232H.h"
#include "platform/d2xx/backend.h"
#include "platform/d2xx/hardware/hardware_backend.h"
#include "recording_backend.h"

namespace kovra610::usbe2e {
namespace {

class LinkOverUsb : public ::testing::Test {
protected:
    void SetUp() override {
        KOVRA610_NEEDS_EMULATED_BUS();
        if (!usbdev::emulated()) GTEST_SKIP() << "needs the emulated USB bus in LD_LIBRARY_PATH";
    }
    void TearDown() override {
        CloseFT2232HDevice();
        d2xx::installBackend(nullptr);
    }
    // The bus holds `devices`; the link opens the board `serial` names
    // (plain "usb" without one). Returns the open's result.
    int open(const char* devices, const std::string& serial = {}) {
        EXPECT_EQ(USB_CONTROL(kovra610_usb_configure)(devices), 0);
        d2xx::installBackend(d2xx::makeHardwareBackend(serial));
        testing::StdoutCapture quiet;
        return OpenandConfigFT2232Hdevice();
    }
    static unsigned chip(int ch, unsigned addr) {
        return static_cast<unsigned>(USB_CONTROL(kovra610_usb_chip_reg)(0, ch == 2 ? 1 : 0, addr));
    }
    static void stray(std::vector<unsigned char> bytes) {
        USB_CONTROL(kovra610_usb_inject)(0, bytes.data(), static_cast<int>(bytes.size()));
    }
};

// Bytes the port sent just before a read's stream went out come with its
// reply, not before it; they are not the answer, and the reply is.
TEST_F(LinkOverUsb, StrayBytesJustBeforeAReadAreNotItsAnswer) {
    ASSERT_EQ(open("ft2232h:KV610001"), 0);
    auto out = std::make_unique<testing::StdoutCapture>();
    FTD232_sbus_single_write(1, 1, 0x05, 0x1234);
    FTD232_sbus_single_write(2, 1, 0x19, 0x0ABC);
    unsigned single[2] = {};
    int failed[2] = {};
    stray({0x12, 0x34});  // right after the open and a write
    failed[0] = FTD232_sbus_read_word(1, 0x05, 0, &single[0]);
    FTD232_sbus_reset_part();
    stray({0xFA});  // right after a chip reset
    failed[1] = FTD232_sbus_read_word(2, 0x19, 0, &single[1]);
    FTD232_sbus_single_write(1, 1, 0x05, 0x4321);
    SetClkFreq(3, 0);
    stray({0x00, 0xFA, 0x00, 0x4E});  // right after a clock change, a marker among them
    const int ch[] = {1, 2}, addr[] = {0x05, 0x19};
    unsigned words[2] = {};
    int ok[2] = {};
    const int batch = FTD232_sbus_read_words(ch, addr, 2, words, ok);
    const std::string said = out->text();
    out.reset();

    EXPECT_EQ(failed[0], 0);
    EXPECT_EQ(single[0], 0x10A1234u);
    EXPECT_EQ(failed[1], 0);
    EXPECT_EQ(single[1], 0x2320000u);  // the reset cleared the register
    EXPECT_EQ(batch, 0);
    EXPECT_EQ(words[0], 0x10A4321u);
    EXPECT_EQ(words[1], 0x2320000u);
    EXPECT_EQ(chip(1, 0x05), 0x4321u);
    EXPECT_EQ(said.find("Error"), std::string::npos) << said;
}

// A port that keeps its latency timer at 255 ms whatever the link sets
// still answers a batched read-back whole, within the read's wait.
TEST_F(LinkOverUsb, ABatchedReadBackIsNotHeldBackByTheLatencyTimer) {
    ASSERT_EQ(open("ft2232h:KV610001:latency=255"), 0);
    int ch[40], addr[40], ok[40];
    unsigned words[40];
    for (int i = 0; i < 40; ++i) {
        ch[i] = 1 + i % 2;
        addr[i] = i / 2;
        FTD232_sbus_single_write(ch[i], 1, addr[i], 0x100 + i);
    }
    auto quiet = std::make_unique<testing::StdoutCapture>();
    const int result = FTD232_sbus_read_words(ch, addr, 40, words, ok);
    quiet.reset();
    EXPECT_EQ(result, 0);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(words[i] & 0xFFFFu, 0x100u + i) << i;
}

// The cable pulled at each point of the open in turn: the open succeeds
// and the link is up only when the board is still there at its end.
TEST_F(LinkOverUsb, TheOpenSucceedsOnlyWithTheBoardStillThere) {
    int opened = 0;
    for (int transfers = 3; transfers < 15; ++transfers) {
        CloseFT2232HDevice();
        d2xx::installBackend(nullptr);
        const std::string bus = "ft2232h:KV610001:unplug-after=" + std::to_string(transfers);
        const int result = open(bus.c_str());
        DWORD ports = 0;
        FT_CreateDeviceInfoList(&ports);
        EXPECT_EQ(result == 0, ports > 0) << "pulled after " << transfers << " transfers";
        EXPECT_EQ(FTD232_link_state() == LINK_UP, ports > 0) << transfers;
        opened += result == 0;
    }
    EXPECT_GT(opened, 0);  // the last pulls come after the open
}

}  // namespace
}  // namespace kovra610::usbe2e
