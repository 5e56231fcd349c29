// The MPSSE command processor of port A, driven through the D2XX operations.
#include "board_fixture.h"

namespace kovra610::vboard::testing {
namespace {

using namespace kovra610::mpsse;
using sbus::kEchoProbe;
using sbus::kReplyMarker;

// Where the write stream holds its two shift opcodes and the direction of
// its command frame.
constexpr std::size_t kBytesOutAt = 3;
constexpr std::size_t kBitsOutAt = 9;
constexpr std::size_t kFrameDirectionAt = 2;

class MpsseTest : public BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        openMpsse();
    }
};

TEST_F(MpsseTest, InvalidOpcodesAreAnsweredWithFaAndTheOpcode) {
    send({kEchoProbe});
    EXPECT_EQ(drain(), (Bytes{kBadCommandAnswer, kEchoProbe}));
    send({kReplyMarker});
    EXPECT_EQ(drain(), (Bytes{kBadCommandAnswer, kReplyMarker}));
    // Several in one write, between valid commands; 0x9E exists only on
    // the single-port part, 0x4C is not a TMS command.
    send({kEchoProbe, kLoopbackOff, 0x9E, 0x4C, kSendImmediate});
    EXPECT_EQ(drain(), (Bytes{kBadCommandAnswer, kEchoProbe, kBadCommandAnswer, 0x9E,
                              kBadCommandAnswer, 0x4C}));
    EXPECT_EQ(board->invalidCommands(), (Bytes{kEchoProbe, kReplyMarker, kEchoProbe, 0x9E, 0x4C}));
    EXPECT_EQ(board->engine().sendImmediateCount(), 1u);
}

TEST_F(MpsseTest, LowAndHighGpioSetAndRead) {
    send(streamOf(setLowByte(sbus::kEndOfOpen), kReadLowByte));
    // Driven: ADBUS0,1,3 = 0,0,1. ADBUS2 is the chip's (low, no answer
    // pending); ADBUS4-7 are not driven and read as pulled up.
    EXPECT_EQ(drain(), (Bytes{0xF8}));
    EXPECT_EQ(board->engine().lowValue(), 0x18);
    EXPECT_EQ(board->engine().lowDirection(), 0x0B);
    send(streamOf(setLowByte(sbus::kResetLow), kReadLowByte));
    EXPECT_EQ(drain(), (Bytes{0x08}));
    send({kSetHighByte, 0x5A, 0x0F, kReadHighByte});
    EXPECT_EQ(drain(), (Bytes{0xFA}));  // low nibble driven 0xA, high nibble pulled up
    EXPECT_EQ(board->engine().highValue(), 0x5A);
    EXPECT_EQ(board->engine().highDirection(), 0x0F);
}

TEST_F(MpsseTest, DivisorAndClockOptionsSetTheSerialClockAndItsTiming) {
    EXPECT_EQ(board->engine().divisor(), 15);
    EXPECT_DOUBLE_EQ(board->engine().serialClockHz(), 1.875e6);
    send({kSetClockDivisor, 0x34, 0x12});
    EXPECT_EQ(board->engine().divisor(), 0x1234);
    send({kEnableDivideBy5, kSetClockDivisor, 0x00, 0x00});
    EXPECT_TRUE(board->engine().divideBy5());
    EXPECT_DOUBLE_EQ(board->engine().serialClockHz(), 6e6);
    send({kDisableDivideBy5, kEnableThreePhase, kEnableAdaptiveClocking});
    EXPECT_FALSE(board->engine().divideBy5());
    EXPECT_TRUE(board->engine().threePhase());
    EXPECT_TRUE(board->engine().adaptive());
    send({kDisableThreePhase, kDisableAdaptiveClocking});
    EXPECT_FALSE(board->engine().threePhase());
    EXPECT_FALSE(board->engine().adaptive());
    EXPECT_DOUBLE_EQ(board->engine().serialClockHz(), 30e6);

    // Eight pulses at divisor 3 take 8 periods of 8 ticks, plus the command
    // and the USB frame the write waited for.
    send({kSetClockDivisor, 0x03, 0x00});
    uint64_t before = board->engine().now();
    send({kClockPulses, 0x07});
    EXPECT_EQ(board->engine().now() - before,
              VirtualBoard::kUsbGapTicks + MpsseEngine::kCommandTicks + 8 * 8);
    send({kEnableDivideBy5});
    before = board->engine().now();
    send({kClockBytePulses, 0x00, 0x00});
    EXPECT_EQ(board->engine().now() - before,
              VirtualBoard::kUsbGapTicks + MpsseEngine::kCommandTicks + 8 * 40);
}

TEST_F(MpsseTest, LoopbackReadsDataOutAsDataIn) {
    constexpr uint8_t kBytesOutIn = kWrite | kRead | kOutOnFalling;
    constexpr uint8_t kBitsOutIn = kWrite | kRead | kBitMode | kOutOnFalling;
    // Write and read a byte: out on the falling edge, in on the rising edge.
    send({kLoopbackOn, kBytesOutIn, 0x00, 0x00, 0xA5});
    EXPECT_TRUE(board->engine().loopback());
    EXPECT_EQ(drain(), (Bytes{0xA5}));
    // Bit mode, MSB first: three bits arrive in the low bits.
    send({kBitsOutIn, 0x02, 0xA0});
    EXPECT_EQ(drain(), (Bytes{0x05}));
    // Bit mode, LSB first: three bits arrive in the high bits.
    send({kBitsOutIn | kLsbFirst, 0x02, 0x05});
    EXPECT_EQ(drain(), (Bytes{0xA0}));
    // Data out held high, read-only commands see it too.
    send({kSetLowByte, 0x1A, 0xFB, kShiftBytesIn, 0x00, 0x00, kShiftBitsIn, 0x02, kReadLowByte});
    EXPECT_EQ(drain(), (Bytes{0xFF, 0x07, 0x1E}));
    // Loopback off: data in is the chip's line, low with no answer pending.
    send({kLoopbackOff, kBytesOutIn, 0x00, 0x00, 0xA5});
    EXPECT_FALSE(board->engine().loopback());
    EXPECT_EQ(drain(), (Bytes{0x00}));
}

TEST_F(MpsseTest, CommandsSpanWritesByteByByte) {
    const Bytes stream{kLoopbackOn,
                       kWrite | kRead | kOutOnFalling,
                       0x01,
                       0x00,
                       0x12,
                       0x34,
                       kSetClockDivisor,
                       0x22,
                       0x00,
                       kEchoProbe};
    for (uint8_t b : stream) send({b});
    EXPECT_EQ(drain(), (Bytes{0x12, 0x34, kBadCommandAnswer, kEchoProbe}));
    EXPECT_EQ(board->engine().divisor(), 0x22);
}

TEST_F(MpsseTest, BitOrderAndEdgeComeFromTheOpcodeBits) {
    const uint32_t w = wordOf(1, 1, 0x05, 0x1234);
    // LSB first: each byte goes out reversed, so another word lands.
    Bytes lsb = writeStream(w);
    lsb[kBytesOutAt] = kShiftBytesOut | kLsbFirst;
    lsb[kBitsOutAt] = kShiftBitsOut | kLsbFirst;
    send(lsb);
    ASSERT_EQ(board->chip().words().size(), 1u);
    EXPECT_NE(sbus::pack(board->chip().words()[0]), w);
    EXPECT_EQ(board->chip().reg(0, 0x05), 0);
    // Rising-edge output: the chip samples each bit before it is put out,
    // so it sees the word one bit late.
    Bytes rising = writeStream(w);
    rising[kBytesOutAt] = kShiftBytesOut & ~kOutOnFalling;
    rising[kBitsOutAt] = kShiftBitsOut & ~kOutOnFalling;
    send(rising);
    ASSERT_EQ(board->chip().words().size(), 2u);
    EXPECT_EQ(sbus::pack(board->chip().words()[1]), w >> 1);
    // The right opcodes land the word.
    send(writeStream(w));
    ASSERT_EQ(board->chip().words().size(), 3u);
    EXPECT_EQ(sbus::pack(board->chip().words()[2]), w);
    EXPECT_EQ(board->chip().reg(0, 0x05), 0x1234);
}

TEST_F(MpsseTest, ClockNeedsAnOutputPin) {
    // ADBUS0 left an input: the chip sees no clock and the frame is empty.
    Bytes s = writeStream(wordOf(3, 1, 0x10, 0x55));
    s[kFrameDirectionAt] = sbus::kDrivenDirection & ~pins::kClock;
    send(s);
    EXPECT_TRUE(board->chip().words().empty());
    EXPECT_EQ(board->chip().framingErrors(), 1u);
    EXPECT_EQ(board->chip().reg(0, 0x10), 0);
}

TEST_F(MpsseTest, TmsCommandsClockAdbus3) {
    constexpr uint8_t kTmsOut = kTms | kLsbFirst | kBitMode | kOutOnFalling;
    // Select low (command frame), then one TMS bit of 1 raises ADBUS3 and
    // ends the frame after a single clock.
    send(streamOf(setLowByte(sbus::kCommandFrame), kTmsOut, 0x00, 0x01));
    EXPECT_TRUE(board->engine().lowPins() & pins::kSelect);
    EXPECT_EQ(board->chip().framingErrors(), 1u);
    // With a read, TDO comes back in the top bits (here loopback of data
    // out, which bit 7 of the byte holds high).
    send({kLoopbackOn, kTmsOut | kRead, 0x01, 0x80});
    EXPECT_EQ(drain(), (Bytes{0xC0}));
    EXPECT_TRUE(board->engine().lowValue() & pins::kDataToChip);
}

TEST_F(MpsseTest, AnUnmetWaitOrAdaptiveClockStallsUntilReset) {
    // ADBUS5 (GPIOL1) driven low, then wait for it high: nothing ever
    // raises it, so the engine stops taking commands.
    send(streamOf(setLowByte(sbus::kIdle), kWaitOnIoHigh, kEchoProbe));
    EXPECT_TRUE(board->engine().stalled());
    send({kEchoProbe});
    EXPECT_TRUE(drain().empty());
    ASSERT_EQ(FT_ResetDevice(handle), FT_OK);
    EXPECT_FALSE(board->engine().stalled());
    send({kWaitOnIoLow, kEchoProbe});  // waiting for low on a low pin passes at once
    EXPECT_EQ(drain(), kEcho);

    send({kEnableAdaptiveClocking, kClockPulses, 0x00, kEchoProbe});
    EXPECT_TRUE(board->engine().stalled());
    EXPECT_TRUE(drain().empty());
    // A stalled engine holds what its buffer takes; the rest of a write
    // is refused.
    Bytes big(MpsseEngine::kHoldLimit + 10, kSendImmediate);
    DWORD written = 0;
    EXPECT_EQ(FT_Write(handle, big.data(), static_cast<DWORD>(big.size()), &written), FT_IO_ERROR);
    EXPECT_EQ(written, MpsseEngine::kHoldLimit - 1);
}

TEST_F(MpsseTest, ResetBitModeIgnoresBytesUntilMpsseIsEnteredAgain) {
    ASSERT_EQ(FT_SetBitMode(handle, 0x00, FT_BITMODE_RESET), FT_OK);
    EXPECT_EQ(board->bitMode(), FT_BITMODE_RESET);
    send(streamOf(kEchoProbe, setLowByte(sbus::kCommandFrame), setClockDivisor(1)));
    EXPECT_TRUE(drain().empty());
    EXPECT_EQ(board->engine().lowDirection(), 0x00);
    ASSERT_EQ(FT_SetBitMode(handle, 0x00, FT_BITMODE_MPSSE), FT_OK);
    EXPECT_EQ(board->bitMode(), FT_BITMODE_MPSSE);
    // Entering MPSSE starts from the power-on clock: divide-by-5, divisor 0.
    EXPECT_TRUE(board->engine().divideBy5());
    EXPECT_EQ(board->engine().divisor(), 0);
    send({kEchoProbe});
    EXPECT_EQ(drain(), kEcho);
}

}  // namespace
}  // namespace kovra610::vboard::testing
