// The FT2232H as the D2XX operations see it: ports, handles, configuration,
// bit modes and the receive queue.
#include <chrono>
#include <thread>

#include "board_fixture.h"

namespace kovra610::vboard::testing {
namespace {

using PortTest = BoardTest;
using sbus::kEchoProbe;

TEST_F(PortTest, TwoPortsOpenOnceEach) {
    DWORD count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 2u);
    FT_HANDLE a = nullptr;
    FT_HANDLE b = nullptr;
    FT_HANDLE again = nullptr;
    ASSERT_EQ(FT_Open(0, &a), FT_OK);
    ASSERT_EQ(FT_Open(1, &b), FT_OK);
    EXPECT_NE(a, b);
    EXPECT_EQ(FT_Open(0, &again), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(FT_Open(2, &again), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(0, nullptr), FT_INVALID_PARAMETER);

    // Port B takes configuration and data and answers nothing.
    EXPECT_EQ(FT_SetBitMode(b, 0, FT_BITMODE_MPSSE), FT_OK);
    uint8_t bad = kEchoProbe;
    DWORD n = 0;
    EXPECT_EQ(FT_Write(b, &bad, 1, &n), FT_OK);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(FT_GetQueueStatus(b, &n), FT_OK);
    EXPECT_EQ(n, 0u);

    ASSERT_EQ(FT_Close(a), FT_OK);
    // A closed handle is dead, also after the port is opened anew.
    EXPECT_EQ(FT_GetQueueStatus(a, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(a), FT_INVALID_HANDLE);
    ASSERT_EQ(FT_Open(0, &again), FT_OK);
    EXPECT_NE(again, a);
    EXPECT_EQ(FT_Write(a, &bad, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_ResetDevice(nullptr), FT_INVALID_HANDLE);
    EXPECT_EQ(board->portConfig(0).openCount, 2u);
}

TEST_F(PortTest, ConfigurationIsRemembered) {
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    ASSERT_EQ(FT_ResetDevice(handle), FT_OK);
    ASSERT_EQ(FT_SetUSBParameters(handle, 65536, 65535), FT_OK);
    ASSERT_EQ(FT_SetChars(handle, 1, 2, 3, 4), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(handle, 0, 5000), FT_OK);
    ASSERT_EQ(FT_SetLatencyTimer(handle, 1), FT_OK);
    ASSERT_EQ(FT_SetFlowControl(handle, FT_FLOW_RTS_CTS, 0x11, 0x13), FT_OK);
    ASSERT_EQ(FT_SetBitMode(handle, 0x00, FT_BITMODE_MPSSE), FT_OK);
    const PortConfig& c = board->portConfig(0);
    EXPECT_TRUE(c.open);
    EXPECT_EQ(c.resetCount, 1u);
    EXPECT_EQ(c.inTransferSize, 65536u);
    EXPECT_EQ(c.outTransferSize, 65535u);
    EXPECT_EQ(c.eventChar, 1);
    EXPECT_EQ(c.eventCharEnabled, 2);
    EXPECT_EQ(c.errorChar, 3);
    EXPECT_EQ(c.errorCharEnabled, 4);
    EXPECT_EQ(c.readTimeoutMs, 0u);
    EXPECT_EQ(c.writeTimeoutMs, 5000u);
    EXPECT_EQ(c.latencyTimerMs, 1);
    EXPECT_EQ(c.flowControl, FT_FLOW_RTS_CTS);
    EXPECT_EQ(c.xon, 0x11);
    EXPECT_EQ(c.xoff, 0x13);
    EXPECT_EQ(c.bitMode, FT_BITMODE_MPSSE);
    // Closing returns the port to reset mode and lets go of the pins.
    ASSERT_EQ(FT_Close(handle), FT_OK);
    EXPECT_FALSE(board->portConfig(0).open);
    EXPECT_EQ(board->portConfig(0).bitMode, FT_BITMODE_RESET);
    EXPECT_EQ(board->engine().lowDirection(), 0);
    EXPECT_EQ(board->engine().lowPins(), 0xFB);  // pulled up; ADBUS2 the chip's, low
}

TEST_F(PortTest, ReceiveQueueGivesBytesWholeAndInOrder) {
    openMpsse();
    // The echo probe, then three bytes out and in through loopback, then the
    // reply marker.
    send({kEchoProbe, mpsse::kLoopbackOn, mpsse::kWrite | mpsse::kRead | mpsse::kOutOnFalling, 0x02,
          0x00, 0x01, 0x02, 0x03, sbus::kReplyMarker});
    DWORD waiting = 0;
    ASSERT_EQ(FT_GetQueueStatus(handle, &waiting), FT_OK);
    EXPECT_EQ(waiting, 7u);
    uint8_t buf[8] = {};
    DWORD got = 0;
    ASSERT_EQ(FT_Read(handle, buf, 3, &got), FT_OK);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ((Bytes(buf, buf + 3)), streamOf(kEcho, 0x01));
    // Asking for more than waits gives what there is, without waiting.
    ASSERT_EQ(FT_Read(handle, buf, 8, &got), FT_OK);
    EXPECT_EQ((Bytes(buf, buf + got)), streamOf(0x02, 0x03, readReply({})));
    ASSERT_EQ(FT_Read(handle, buf, 8, &got), FT_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(FT_Read(handle, nullptr, 1, &got), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_GetQueueStatus(handle, nullptr), FT_INVALID_PARAMETER);

    // FT_ResetDevice empties the queue and a half-read command.
    send({kEchoProbe, mpsse::kSetClockDivisor, 0x05});
    ASSERT_EQ(FT_ResetDevice(handle), FT_OK);
    EXPECT_TRUE(drain().empty());
    send({kEchoProbe});
    EXPECT_EQ(drain(), kEcho);
    EXPECT_EQ(board->engine().divisor(), 15);
}

TEST_F(PortTest, RepliesAppearAfterTheSetLatency) {
    openMpsse();
    board->setReplyLatency(std::chrono::milliseconds(250));
    send({kEchoProbe});
    DWORD waiting = 0;
    ASSERT_EQ(FT_GetQueueStatus(handle, &waiting), FT_OK);
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(board->queuedBytes(), 2u);
    // A read time-out of 0 does not wait; a longer one waits for them.
    uint8_t buf[2] = {};
    DWORD got = 9;
    ASSERT_EQ(FT_Read(handle, buf, 2, &got), FT_OK);
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(FT_SetTimeouts(handle, 5000, 5000), FT_OK);
    ASSERT_EQ(FT_Read(handle, buf, 2, &got), FT_OK);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buf[1], kEchoProbe);

    // A query after the latency sees them.
    send({sbus::kReplyMarker});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        ASSERT_EQ(FT_GetQueueStatus(handle, &waiting), FT_OK);
    } while (waiting == 0 && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(waiting, 2u);
}

}  // namespace
}  // namespace kovra610::vboard::testing
