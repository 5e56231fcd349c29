// The link's own functions over libftdi1 and the emulated FT2232H, where
// what the port sends, and when, is the point.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "board_under_test.h"
#include "link/FT2232H.h"
#include "platform/d2xx/backend.h"
#include "recording_backend.h"

namespace kovra610::usbe2e {
namespace {

class LinkOverUsb : public ::testing::Test {
protected:
    void SetUp() override {
        if (!usbdev::emulated()) GTEST_SKIP() << "needs the emulated USB bus in LD_LIBRARY_PATH";
    }
    void TearDown() override {
        CloseFT2232HDevice();
        d2xx::installBackend(nullptr);
    }
    // Opens the link, quietly, on a bus holding `devices`.
    int open(const std::string& devices) {
        CloseFT2232HDevice();
        d2xx::installBackend(nullptr);
        EXPECT_EQ(USB_CONTROL(kovra610_usb_configure)(devices.c_str()), 0);
        testing::StdoutCapture quiet;
        return OpenandConfigFT2232Hdevice();
    }
    // Bytes port A sends next, as if its engine had answered.
    static void stray(const std::string& bytes) {
        USB_CONTROL(kovra610_usb_inject)
        (0, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    }
};

// Bytes the port sent just before a read's stream went out (after the
// open, a chip reset, a clock change) arrive with its reply: they are not
// its answer, and the reply behind them is.
TEST_F(LinkOverUsb, StrayBytesJustBeforeAReadAreNotItsAnswer) {
    ASSERT_EQ(open("ft2232h:KV610001"), 0);
    auto out = std::make_unique<testing::StdoutCapture>();
    unsigned words[2] = {};
    int ok[2] = {}, failed[2] = {};
    FTD232_sbus_single_write(1, 1, 0x05, 0x1234);
    stray("\x12\x34");
    failed[0] = FTD232_sbus_read_word(1, 0x05, 0, &words[0]);
    FTD232_sbus_reset_part();
    stray("\xFA");
    failed[1] = FTD232_sbus_read_word(1, 0x05, 0, &words[1]);
    EXPECT_EQ(words[0], 0x10A1234u);
    EXPECT_EQ(words[1], 0x10A0000u);  // the reset cleared it
    FTD232_sbus_single_write(2, 1, 0x19, 0x4321);
    SetClkFreq(3, 0);
    stray(std::string("\x00\xFA\x00\x4E", 4));  // a reply marker among them
    const int ch[] = {1, 2}, addr[] = {0x05, 0x19};
    const int batch = FTD232_sbus_read_words(ch, addr, 2, words, ok);
    const std::string said = out->text();
    out.reset();
    EXPECT_EQ(failed[0] | failed[1] | batch, 0) << said;
    EXPECT_EQ(words[1], 0x2324321u);
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
        const int result = open("ft2232h:KV610001:unplug-after=" + std::to_string(transfers));
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
