#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "link/FT2232H.h"
#include "platform/d2xx/virtual_board/virtual_board.h"
#include "platform/protocol/sbus_protocol.h"
#include "recording_backend.h"

namespace kovra610::testing {
namespace {

// The data field of an answer word.
unsigned dataOf(unsigned answer) {
    return sbus::unpack(answer).data;
}

class LinkOnVirtualBoard : public ::testing::Test {
protected:
    void SetUp() override {
        board = std::make_shared<vboard::VirtualBoard>();
        d2xx::installBackend(board);
        StdoutCapture quiet;
        ASSERT_EQ(OpenandConfigFT2232Hdevice(), 0);
    }
    void TearDown() override {
        CloseFT2232HDevice();
        d2xx::installBackend(nullptr);
    }
    std::shared_ptr<vboard::VirtualBoard> board;
};

TEST_F(LinkOnVirtualBoard, OpenLeavesThePortConfiguredAsTheLinkNeedsIt) {
    EXPECT_EQ(board->bitMode(), FT_BITMODE_MPSSE);
    EXPECT_FALSE(board->engine().loopback());
    EXPECT_FALSE(board->engine().divideBy5());
    EXPECT_FALSE(board->engine().adaptive());
    EXPECT_FALSE(board->engine().threePhase());
    EXPECT_EQ(board->engine().divisor(), 15);
    EXPECT_DOUBLE_EQ(board->engine().serialClockHz(), 1.875e6);
    EXPECT_EQ(board->engine().lowValue(), sbus::kEndOfOpen.value);
    EXPECT_EQ(board->engine().lowDirection(), sbus::kEndOfOpen.direction);
    EXPECT_EQ(board->engine().highDirection(), sbus::kHighByteInputs.direction);
    EXPECT_EQ(board->portConfig(0).latencyTimerMs, 1);
    EXPECT_EQ(board->portConfig(0).flowControl, FT_FLOW_RTS_CTS);
}

TEST_F(LinkOnVirtualBoard, WordsWrittenToEachChannelAndToBothReadBack) {
    FTD232_sbus_reset_part();
    EXPECT_EQ(board->chip().resets(), 1u);
    EXPECT_EQ(board->engine().lowDirection(), sbus::kDrivenDirection);
    FTD232_sbus_single_write(1, 1, 0x05, 0x1234);
    FTD232_sbus_single_write(2, 1, 0x06, 0xABCD);
    FTD232_sbus_single_write(3, 1, 0x19, 0x1A1F);
    FTD232_sbus_single_write(1, 0, 0x07, 0x5555);  // read/write 0 in a write frame: no store

    EXPECT_EQ(FTD232_sbus_single_read(1, 0, 0x05, 0), 0x10A1234u);
    EXPECT_EQ(FTD232_sbus_single_read(2, 1, 0x06, 0), 0x20CABCDu);
    EXPECT_EQ(dataOf(FTD232_sbus_single_read(1, 0, 0x19, 0)), 0x1A1Fu);
    EXPECT_EQ(dataOf(FTD232_sbus_single_read(2, 0, 0x19, 0)), 0x1A1Fu);
    EXPECT_EQ(dataOf(FTD232_sbus_single_read(1, 0, 0x07, 0)), 0u);
    // Select 3 reads channel 0 and is answered as 3, singly and batched.
    EXPECT_EQ(FTD232_sbus_single_read(3, 0, 0x19, 0), 0x3321A1Fu);
    const int ch[] = {3, 2, 1}, addr[] = {0x19, 0x06, 0x05};
    unsigned int words[3] = {};
    int ok[3] = {};
    EXPECT_EQ(FTD232_sbus_read_words(ch, addr, 3, words, ok), 0);
    EXPECT_EQ(std::vector<unsigned>(words, words + 3),
              (std::vector<unsigned>{0x3321A1Fu, 0x20CABCDu, 0x10A1234u}));
    EXPECT_EQ(board->chip().framingErrors(), 0u);

    // the alarm flags read back through register 0x1E
    board->chip().setAlarmFlags(0, 0x0049);
    EXPECT_EQ(FTD232_sbus_single_read(1, 0, 0x1E, 0), 0x13C0049u);

    // a reset clears what was written
    FTD232_sbus_reset_part();
    EXPECT_EQ(dataOf(FTD232_sbus_single_read(1, 0, 0x05, 0)), 0u);
}

TEST_F(LinkOnVirtualBoard, LinkFaultsEndInTheLinksOwnReports) {
    StdoutCapture out;
    board->faults().failWrite(1);
    FTD232_sbus_single_write(1, 1, 1, 1);
    board->faults().injectStrayBytes(1, {0x12, 0x34});
    FTD232_sbus_single_write(1, 1, 2, 2);
    board->faults().shortenNextReply(3);
    EXPECT_EQ(FTD232_sbus_single_read(1, 0, 2, 0), 1u);
    board->faults().delayNextReply(3, 2);
    EXPECT_EQ(dataOf(FTD232_sbus_single_read(1, 0, 2, 0)), 2u);  // late bytes waited for
    board->faults().pullCable();
    EXPECT_EQ(FTD232_sbus_single_read(1, 0, 2, 0), 1u);
    const std::string text = out.text();
    EXPECT_EQ(text,
              "USB Glitch Detected - Reseting FT2332   \n"
              " !!!!! 0 0 0 0  \n"
              "Error - GPIO cannot be read\n"
              "Link lost: the FT2232H stopped answering (USB cable unplugged?) - re-plug it, "
              "press \"Reset FTDI232H\", then \"Write All Reg\"\n");
    EXPECT_EQ(board->chip().reg(0, 2), 2);  // the write that found stray bytes still landed
}

// Periods between rising edges of ADBUS0 in a VCD trace, in picoseconds.
std::map<long long, int> clockPeriods(const std::string& vcd) {
    std::istringstream in(vcd);
    std::string line, clockId;
    long long now = 0, lastRise = -1;
    std::map<long long, int> periods;
    while (std::getline(in, line)) {
        if (line.rfind("$var", 0) == 0 && line.find(" ADBUS0 ") != std::string::npos) {
            std::istringstream var(line);
            std::string w[4];
            var >> w[0] >> w[1] >> w[2] >> w[3];
            clockId = w[3];
        } else if (!line.empty() && line[0] == '#') {
            now = std::stoll(line.substr(1));
        } else if (!clockId.empty() && line == "1" + clockId) {
            if (lastRise >= 0) ++periods[now - lastRise];
            lastRise = now;
        }
    }
    return periods;
}

TEST_F(LinkOnVirtualBoard, AClockDivisorChangeShowsInTheTracedClockPeriod) {
    const std::string path = ::testing::TempDir() + "kovra610-divisor.vcd";
    ASSERT_TRUE(board->startTrace(path));
    FTD232_sbus_single_write(1, 1, 3, 3);
    SetClkFreq(4, 0);  // 6 MHz
    FTD232_sbus_single_write(1, 1, 3, 4);
    ASSERT_TRUE(board->stopTrace());
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    const auto periods = clockPeriods(ss.str());
    std::remove(path.c_str());
    // 1.875 MHz is 533333 ps, 6 MHz 166667 ps (the trace's picosecond grid
    // may round by one)
    auto count = [&](long long ps) {
        int n = 0;
        for (const auto& [p, k] : periods)
            if (p >= ps - 1 && p <= ps + 1) n += k;
        return n;
    };
    EXPECT_GE(count(533333), 25);
    EXPECT_GE(count(166667), 25);
}

}  // namespace
}  // namespace kovra610::testing
