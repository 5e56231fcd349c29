// The protocol's names against the byte values the wire must carry, so that
// a name cannot drift while the tests that use it still agree with the code.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/protocol/sbus_protocol.h"
#include "protocol_bytes.h"

namespace kovra610::testing {
namespace {

struct Named {
    const char* name;
    unsigned value;
    unsigned wire;
};

TEST(ProtocolNames, CommandBytesArePublishedOpcodes) {
    using namespace mpsse;
    const Named table[] = {
        {"set low byte", kSetLowByte, 0x80},
        {"read low byte", kReadLowByte, 0x81},
        {"set high byte", kSetHighByte, 0x82},
        {"read high byte", kReadHighByte, 0x83},
        {"loopback on", kLoopbackOn, 0x84},
        {"loopback off", kLoopbackOff, 0x85},
        {"set clock divisor", kSetClockDivisor, 0x86},
        {"send immediate", kSendImmediate, 0x87},
        {"wait on I/O high", kWaitOnIoHigh, 0x88},
        {"wait on I/O low", kWaitOnIoLow, 0x89},
        {"disable divide-by-5", kDisableDivideBy5, 0x8A},
        {"enable divide-by-5", kEnableDivideBy5, 0x8B},
        {"enable three-phase", kEnableThreePhase, 0x8C},
        {"disable three-phase", kDisableThreePhase, 0x8D},
        {"clock pulses", kClockPulses, 0x8E},
        {"clock byte pulses", kClockBytePulses, 0x8F},
        {"clock until I/O high", kClockUntilIoHigh, 0x94},
        {"clock until I/O low", kClockUntilIoLow, 0x95},
        {"enable adaptive clocking", kEnableAdaptiveClocking, 0x96},
        {"disable adaptive clocking", kDisableAdaptiveClocking, 0x97},
        {"clock bytes until I/O high", kClockBytesUntilIoHigh, 0x9C},
        {"clock bytes until I/O low", kClockBytesUntilIoLow, 0x9D},
        {"shift bytes out", kShiftBytesOut, 0x11},
        {"shift bits out", kShiftBitsOut, 0x13},
        {"shift bytes in", kShiftBytesIn, 0x24},
        {"shift bits in", kShiftBitsIn, 0x26},
        {"bad-command answer", kBadCommandAnswer, 0xFA},
        {"echo probe", sbus::kEchoProbe, 0xAB},
        {"reply marker", sbus::kReplyMarker, 0x00},
    };
    for (const Named& n : table) EXPECT_EQ(n.value, n.wire) << n.name;
}

TEST(ProtocolNames, ShiftOpcodesFollowTheirBitFields) {
    for (unsigned op = 0; op < 256; ++op) {
        const auto b = static_cast<uint8_t>(op);
        EXPECT_EQ(mpsse::isDataShift(b), op >= 0x10 && op <= 0x3F) << op;
        const bool tms =
            op == 0x4A || op == 0x4B || op == 0x6A || op == 0x6B || op == 0x6E || op == 0x6F;
        EXPECT_EQ(mpsse::isTmsShift(b), tms) << op;
    }
}

TEST(ProtocolNames, PinsAndLowByteStatesAreThoseOfTheBoard) {
    using namespace sbus;
    const Named pinTable[] = {
        {"clock", pins::kClock, 0x01},
        {"data to chip", pins::kDataToChip, 0x02},
        {"data from chip", pins::kDataFromChip, 0x04},
        {"select", pins::kSelect, 0x08},
        {"reset", pins::kReset, 0x10},
        {"read-back marker", pins::kReadBackMarker, 0x20},
        {"command marker", pins::kCommandMarker, 0x40},
        {"spare", pins::kSpare, 0x80},
    };
    for (const Named& n : pinTable) EXPECT_EQ(n.value, n.wire) << n.name;
    const struct {
        const char* name;
        mpsse::PinState state;
        unsigned value, direction;
    } states[] = {
        {"end of open", kEndOfOpen, 0x18, 0x0B},
        {"reset low", kResetLow, 0x08, 0xFB},
        {"idle", kIdle, 0x18, 0xFB},
        {"command frame", kCommandFrame, 0x50, 0xFB},
        {"read-back frame", kReadBackFrame, 0x30, 0xFB},
        {"after read-back", kAfterReadBack, 0x38, 0xFB},
        {"high byte inputs", kHighByteInputs, 0x00, 0x00},
    };
    for (const auto& s : states) {
        EXPECT_EQ(s.state.value, s.value) << s.name;
        EXPECT_EQ(s.state.direction, s.direction) << s.name;
    }
}

TEST(ProtocolNames, CommandsOfTheOpenTheClockAndTheReset) {
    using namespace mpsse;
    EXPECT_EQ(bytesOf(sbus::kClocking), (Bytes{0x8A, 0x97, 0x8D}));
    EXPECT_EQ(bytesOf(setClockDivisor(sbus::kOpenDivisor)), (Bytes{0x86, 0x0F, 0x00}));
    EXPECT_EQ(bytesOf(setClockDivisor(0x12345)), (Bytes{0x86, 0x45, 0x23}));
    EXPECT_EQ(bytesOf(setLowByte(sbus::kEndOfOpen)), (Bytes{0x80, 0x18, 0x0B}));
    EXPECT_EQ(bytesOf(setHighByte(sbus::kHighByteInputs)), (Bytes{0x82, 0x00, 0x00}));
    EXPECT_EQ(bytesOf(clockBytePulses(sbus::kResetClockGroups)), (Bytes{0x8F, 0x7D, 0x00}));
    EXPECT_EQ(bytesOf(clockPulses(sbus::kGapClocks)), (Bytes{0x8E, 0x02}));
}

TEST(ProtocolWord, FieldsPackMaskedAndUnpack) {
    EXPECT_EQ(sbus::pack({3, 0x1D, 1, 12}), 0x33B000Cu);
    EXPECT_EQ(sbus::pack({7, 0xFF, 3, 0x12345}), 0x3FF2345u);  // wider arguments masked
    EXPECT_EQ(sbus::unpack(0x13C0049u), (sbus::Word{1, 0x1E, 0, 0x0049}));
    EXPECT_EQ(sbus::unpack(0xFFFFFFFFu), (sbus::Word{3, 0x7F, 1, 0xFFFF}));
    EXPECT_EQ(sbus::split(0x3FF2345u), (sbus::Split{0xFF, 0xC8, 0xD1, 0x40}));
    EXPECT_EQ(sbus::split(0x13C0000u), (sbus::Split{0x4F, 0x00, 0x00, 0x00}));
    // Answer bits 1-0 in the low bits of the last byte; its bits 7-2 ignored.
    EXPECT_EQ(sbus::answerWord(0x4F, 0x00, 0x12, 0x01), 0x13C0049u);
    EXPECT_EQ(sbus::answerWord(0x4F, 0x00, 0x12, 0xFD), 0x13C0049u);
}

TEST(ProtocolWord, WriteAndReadStreamsByteForByte) {
    EXPECT_EQ(bytesOf(sbus::writeStream(0x33B000C)),
              (Bytes{0x80, 0x50, 0xFB, 0x11, 0x02, 0x00, 0xCE, 0xC0, 0x03, 0x13, 0x01, 0x00, 0x80,
                     0x18, 0xFB, 0x8F, 0x08, 0x00}));
    EXPECT_EQ(bytesOf(sbus::readStream(0x13C0000)),
              (Bytes{0x85, 0x80, 0x50, 0xFB, 0x11, 0x02, 0x00, 0x4F, 0x00, 0x00, 0x13, 0x01,
                     0x00, 0x80, 0x18, 0xFB, 0x8E, 0x02, 0x00, 0x80, 0x30, 0xFB, 0x87, 0x24,
                     0x02, 0x00, 0x26, 0x01, 0x80, 0x38, 0xFB, 0x8F, 0x08, 0x00}));
}

}  // namespace
}  // namespace kovra610::testing
