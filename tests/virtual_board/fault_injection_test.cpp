// Injected faults, each seen through the D2XX operations.
#include "board_fixture.h"

namespace kovra610::vboard::testing {
namespace {

using FaultTest = BoardTest;
using mpsse::kBadCommandAnswer;
using sbus::kEchoProbe;
using sbus::kReplyMarker;

TEST_F(FaultTest, NoDevicePresent) {
    board->faults().setDevicePresent(false);
    DWORD count = 7;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);
    board->faults().setDevicePresent(true);
    EXPECT_EQ(FT_Open(0, &handle), FT_OK);
}

TEST_F(FaultTest, OpenFailsWithTheGivenStatusAsOftenAsAsked) {
    board->faults().failOpen(FT_DEVICE_NOT_OPENED, 2);
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_OPENED);
    EXPECT_FALSE(board->portConfig(0).open);
    EXPECT_EQ(FT_Open(0, &handle), FT_OK);
}

TEST_F(FaultTest, AConfigurationCallFailsAndChangesNothing) {
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    board->faults().failConfigCall(ConfigCall::SetLatencyTimer, FT_IO_ERROR);
    EXPECT_EQ(FT_SetLatencyTimer(handle, 1), FT_IO_ERROR);
    EXPECT_EQ(board->portConfig(0).latencyTimerMs, 16);
    EXPECT_EQ(FT_SetLatencyTimer(handle, 1), FT_OK);
    EXPECT_EQ(board->portConfig(0).latencyTimerMs, 1);

    board->faults().failConfigCall(ConfigCall::SetBitMode, FT_OTHER_ERROR, FaultInjector::kAlways);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(FT_SetBitMode(handle, 0, FT_BITMODE_MPSSE), FT_OTHER_ERROR);
    }
    EXPECT_EQ(board->bitMode(), FT_BITMODE_RESET);
    board->faults().failConfigCall(ConfigCall::ResetDevice, FT_IO_ERROR);
    board->faults().failConfigCall(ConfigCall::SetUSBParameters, FT_IO_ERROR);
    board->faults().failConfigCall(ConfigCall::SetChars, FT_IO_ERROR);
    board->faults().failConfigCall(ConfigCall::SetTimeouts, FT_IO_ERROR);
    board->faults().failConfigCall(ConfigCall::SetFlowControl, FT_IO_ERROR);
    EXPECT_EQ(FT_ResetDevice(handle), FT_IO_ERROR);
    EXPECT_EQ(FT_SetUSBParameters(handle, 65536, 65535), FT_IO_ERROR);
    EXPECT_EQ(FT_SetChars(handle, 0, 0, 0, 0), FT_IO_ERROR);
    EXPECT_EQ(FT_SetTimeouts(handle, 0, 5000), FT_IO_ERROR);
    EXPECT_EQ(FT_SetFlowControl(handle, FT_FLOW_RTS_CTS, 0, 0), FT_IO_ERROR);
    board->faults().clearFaults();
    EXPECT_EQ(FT_SetBitMode(handle, 0, FT_BITMODE_MPSSE), FT_OK);
}

TEST_F(FaultTest, TheNthWriteFailsAndReachesNothing) {
    openMpsse();
    board->faults().failWrite(2, FT_FAILED_TO_WRITE_DEVICE);
    const Bytes first = writeStream(wordOf(1, 1, 0x01, 0x1111));
    const Bytes second = writeStream(wordOf(1, 1, 0x02, 0x2222));
    send(first);
    DWORD n = 99;
    EXPECT_EQ(FT_Write(handle, const_cast<uint8_t*>(second.data()), 18, &n),
              FT_FAILED_TO_WRITE_DEVICE);
    EXPECT_EQ(n, 0u);
    send(second);
    EXPECT_EQ(board->chip().reg(0, 0x01), 0x1111);
    EXPECT_EQ(board->chip().reg(0, 0x02), 0x2222);
    EXPECT_EQ(board->chip().words().size(), 2u);
}

TEST_F(FaultTest, StrayBytesAppearAfterTheGivenWrite) {
    openMpsse();
    board->faults().injectStrayBytes(2, {0x12, 0x34});
    send(writeStream(wordOf(1, 1, 0x01, 1)));
    EXPECT_TRUE(drain().empty());
    send(writeStream(wordOf(1, 1, 0x01, 2)));
    EXPECT_EQ(drain(), (Bytes{0x12, 0x34}));
    send(writeStream(wordOf(1, 1, 0x01, 3)));
    EXPECT_TRUE(drain().empty());
}

TEST_F(FaultTest, EchoMissingOrSplit) {
    openMpsse();
    board->faults().setEchoFault(EchoFault::Missing);
    send({kEchoProbe, kReplyMarker});
    EXPECT_EQ(drain(), readReply({}));  // only the echo of the probe is lost
    send({kEchoProbe});
    EXPECT_EQ(drain(), kEcho);  // once only

    board->faults().setEchoFault(EchoFault::Split);
    send({kEchoProbe});
    DWORD waiting = 0;
    ASSERT_EQ(FT_GetQueueStatus(handle, &waiting), FT_OK);
    EXPECT_EQ(waiting, 1u);
    uint8_t buf[4] = {};
    DWORD got = 0;
    ASSERT_EQ(FT_Read(handle, buf, 2, &got), FT_OK);  // asking for more gives only the 0xFA
    ASSERT_EQ(got, 1u);
    EXPECT_EQ(buf[0], kBadCommandAnswer);
    ASSERT_EQ(FT_GetQueueStatus(handle, &waiting), FT_OK);
    EXPECT_EQ(waiting, 1u);
    ASSERT_EQ(FT_Read(handle, buf, 1, &got), FT_OK);
    EXPECT_EQ(buf[0], kEchoProbe);
}

TEST_F(FaultTest, ReadReplyShortOrLate) {
    openMpsse();
    board->chip().setReg(0, 0x19, 0x00AA);
    board->faults().shortenNextReply(4);
    send(readStream(1, 0x19));
    EXPECT_EQ(drain().size(), 4u);
    send(readStream(1, 0x19));
    EXPECT_EQ(answerOf(drain()), wordOf(1, 0, 0x19, 0x00AA));

    board->faults().delayNextReply(2, 2);
    send(readStream(1, 0x19));
    EXPECT_EQ(drain(), readReply({}));
    EXPECT_TRUE(drain().empty());  // the second query still sees nothing
    const Bytes late = drain();
    ASSERT_EQ(late.size(), 4u);
    EXPECT_EQ(answerOf(readReply({late[0], late[1], late[2], late[3]})),
              wordOf(1, 0, 0x19, 0x00AA));
}

TEST_F(FaultTest, CablePulledMidRunFailsEveryLaterCall) {
    openMpsse();
    board->faults().pullCableAfterWrite(2);
    send(writeStream(wordOf(1, 1, 0x01, 1)));
    send(writeStream(wordOf(1, 1, 0x02, 2)));  // the second still lands
    EXPECT_TRUE(board->faults().cablePulled());
    EXPECT_EQ(board->chip().reg(0, 0x02), 2);
    Bytes third = writeStream(wordOf(1, 1, 0x03, 3));
    DWORD n = 0;
    EXPECT_EQ(FT_Write(handle, third.data(), 18, &n), FT_IO_ERROR);
    EXPECT_EQ(FT_GetQueueStatus(handle, &n), FT_IO_ERROR);
    EXPECT_EQ(FT_Read(handle, third.data(), 1, &n), FT_IO_ERROR);
    EXPECT_EQ(FT_SetBitMode(handle, 0, 0), FT_IO_ERROR);
    EXPECT_EQ(FT_ResetDevice(handle), FT_IO_ERROR);
    DWORD count = 5;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 0u);
    FT_HANDLE other = nullptr;
    EXPECT_EQ(FT_Open(0, &other), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Close(handle), FT_IO_ERROR);
    EXPECT_EQ(board->chip().reg(0, 0x03), 0);

    // Plugged back in, the board opens anew; the old handle stays dead.
    board->faults().plugCable();
    EXPECT_EQ(FT_Write(handle, third.data(), 18, &n), FT_INVALID_HANDLE);
    openMpsse();
    send(third);
    EXPECT_EQ(board->chip().reg(0, 0x03), 3);
}

}  // namespace
}  // namespace kovra610::vboard::testing
