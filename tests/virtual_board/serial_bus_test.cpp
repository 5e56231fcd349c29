// The KOVRA610 serial-bus model, reached through MPSSE streams.
#include "board_fixture.h"

namespace kovra610::vboard::testing {
namespace {

using namespace kovra610::mpsse;

// Where a write stream holds the bit count of its last shift (a read stream
// one byte later, after loopback off).
constexpr std::size_t kBitCountAt = 10;

// A read-back frame on its own: select low with the read-back marker, 26
// bits in, select high.
Bytes readBackFrame() {
    return streamOf(setLowByte(sbus::kReadBackFrame), shiftBytesIn(3), shiftBitsIn(2),
                    setLowByte(sbus::kAfterReadBack));
}

class SerialBusTest : public BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        openMpsse();
    }
};

TEST_F(SerialBusTest, WriteStreamLandsInTheSelectedChannels) {
    // ch 3, rw 1, addr 0x1D, data 12, as the link sends it.
    send(writeStream(0x33B000C));
    EXPECT_EQ(board->chip().reg(0, 0x1D), 12);
    EXPECT_EQ(board->chip().reg(1, 0x1D), 12);
    ASSERT_EQ(board->chip().words().size(), 1u);
    EXPECT_EQ(board->chip().words()[0], (SerialWord{3, 0x1D, 1, 12}));
    EXPECT_EQ(board->chip().framingErrors(), 0u);
    EXPECT_TRUE(drain().empty());

    send(writeStream(wordOf(1, 1, 0x05, 0xBEEF)));
    send(writeStream(wordOf(2, 1, 0x05, 0x0123)));
    send(writeStream(wordOf(2, 1, 0x7F, 0xFFFF)));
    EXPECT_EQ(board->chip().reg(0, 0x05), 0xBEEF);
    EXPECT_EQ(board->chip().reg(1, 0x05), 0x0123);
    EXPECT_EQ(board->chip().reg(0, 0x7F), 0);
    EXPECT_EQ(board->chip().reg(1, 0x7F), 0xFFFF);
    // Read/write 0 in a write stream writes nothing; select 0 addresses
    // no channel.
    send(writeStream(wordOf(3, 0, 0x05, 0x7777)));
    send(writeStream(wordOf(0, 1, 0x05, 0x7777)));
    EXPECT_EQ(board->chip().reg(0, 0x05), 0xBEEF);
    EXPECT_EQ(board->chip().reg(1, 0x05), 0x0123);
    EXPECT_EQ(board->chip().words().size(), 6u);
}

TEST_F(SerialBusTest, ReadStreamAnswersWithTheRegisterWord) {
    board->chip().setAlarmFlags(0, 0x0049);
    send(readStream(1, 0x1E));
    // The reply the link decodes to ch 1, addr 0x1E, rw 0, data 0x0049.
    EXPECT_EQ(drain(), readReply({0x4F, 0x00, 0x12, 0x01}));

    board->chip().setReg(1, 0x05, 0xBEEF);
    board->chip().setReg(0, 0x05, 0x1111);
    send(readStream(2, 0x05));
    EXPECT_EQ(answerOf(drain()), wordOf(2, 0, 0x05, 0xBEEF));
    send(readStream(3, 0x05));  // select 3 reads channel 0
    EXPECT_EQ(answerOf(drain()), wordOf(3, 0, 0x05, 0x1111));

    ASSERT_EQ(board->chip().answers().size(), 3u);
    EXPECT_EQ(board->chip().answers()[1], (SerialWord{2, 0x05, 0, 0xBEEF}));
    // A read leaves the registers alone and the read-back marker high.
    EXPECT_EQ(board->chip().reg(1, 0x05), 0xBEEF);
    EXPECT_TRUE(board->engine().lowPins() & pins::kReadBackMarker);
}

TEST_F(SerialBusTest, WrittenValueReadsBack) {
    for (unsigned addr : {0x00u, 0x19u, 0x7Fu}) {
        send(writeStream(wordOf(2, 1, addr, 0xA000 + addr)));
        send(readStream(2, addr));
        EXPECT_EQ(answerOf(drain()), wordOf(2, 0, addr, 0xA000 + addr)) << addr;
    }
}

TEST_F(SerialBusTest, AnAnswerIsShiftedOutOnceAndOnlyAfterARead) {
    // A read-back frame without a read before it shifts out zeros.
    send(readBackFrame());
    EXPECT_EQ(drain(), (Bytes{0, 0, 0, 0}));
    board->chip().setReg(0, 0x19, 0xFFFF);
    send(readStream(1, 0x19));
    EXPECT_EQ(answerOf(drain()), wordOf(1, 0, 0x19, 0xFFFF));
    send(readBackFrame());
    EXPECT_EQ(drain(), (Bytes{0, 0, 0, 0}));
}

TEST_F(SerialBusTest, FramesOfOtherLengthsChangeNothing) {
    board->chip().setReg(0, 0x1D, 0x0042);
    Bytes shortFrame = writeStream(wordOf(1, 1, 0x1D, 0x1234));
    shortFrame[kBitCountAt] = countLow(1);  // 24 + 1 bits
    send(shortFrame);
    EXPECT_EQ(board->chip().framingErrors(), 1u);
    Bytes longFrame = writeStream(wordOf(1, 1, 0x1D, 0x1234));
    longFrame[kBitCountAt] = countLow(3);  // 24 + 3 bits
    send(longFrame);
    EXPECT_EQ(board->chip().framingErrors(), 2u);
    // A 25-bit read arms nothing either.
    Bytes shortRead = readStream(1, 0x1D);
    shortRead[kBitCountAt + 1] = countLow(1);
    send(shortRead);
    EXPECT_EQ(board->chip().framingErrors(), 3u);
    EXPECT_EQ(answerOf(drain()), 0u);

    EXPECT_EQ(board->chip().reg(0, 0x1D), 0x0042);
    EXPECT_TRUE(board->chip().words().empty());
}

TEST_F(SerialBusTest, AlarmRegisterIgnoresWritesAndReportsRaisedFlags) {
    send(writeStream(wordOf(3, 1, 0x1E, 0xFFFF)));
    EXPECT_EQ(board->chip().reg(0, 0x1E), 0);
    EXPECT_EQ(board->chip().reg(1, 0x1E), 0);
    board->chip().raiseAlarm(1, 0x0004);
    board->chip().raiseAlarm(1, 0x0001);
    send(readStream(2, 0x1E));
    EXPECT_EQ(answerOf(drain()), wordOf(2, 0, 0x1E, 0x0005));
}

TEST_F(SerialBusTest, ResetPulseClearsEveryRegister) {
    send(writeStream(wordOf(3, 1, 0x19, 0x000E)));
    send(writeStream(wordOf(1, 1, 0x00, 0x4000)));
    board->chip().raiseAlarm(0, 0x0008);
    send(bytesOf(setLowByte(sbus::kResetLow)));
    EXPECT_TRUE(board->chip().inReset());
    send(bytesOf(setLowByte(sbus::kIdle)));
    send(bytesOf(clockBytePulses(sbus::kResetClockGroups)));
    EXPECT_FALSE(board->chip().inReset());
    EXPECT_EQ(board->chip().resets(), 1u);
    EXPECT_EQ(board->chip().reg(0, 0x19), 0);
    EXPECT_EQ(board->chip().reg(1, 0x19), 0);
    EXPECT_EQ(board->chip().reg(0, 0x00), 0);
    EXPECT_EQ(board->chip().reg(0, 0x1E), 0);
    // Registers work again after the pulse.
    send(writeStream(wordOf(1, 1, 0x00, 0x4000)));
    EXPECT_EQ(board->chip().reg(0, 0x00), 0x4000);
}

TEST_F(SerialBusTest, ResetLineIsOnlyLowWhenDriven) {
    send(writeStream(wordOf(3, 1, 0x19, 0x000E)));
    // Value 0 on ADBUS4 but ADBUS4 an input (as after the open): pulled up.
    send(bytesOf(setLowByte({sbus::pins::kSelect, sbus::kOpenDirection})));
    send(bytesOf(setLowByte(sbus::kEndOfOpen)));
    EXPECT_EQ(board->chip().resets(), 0u);
    EXPECT_EQ(board->chip().reg(0, 0x19), 0x000E);
}

// One board per split: the stream cut into two writes at every boundary
// must do what it does whole.
TEST(SerialBusSplitTest, StreamsSplitAtEveryByteBoundaryActTheSame) {
    const Bytes write = writeStream(wordOf(3, 1, 0x1D, 12));
    const Bytes read = readStream(2, 0x1D);
    for (std::size_t stream = 0; stream < 2; ++stream) {
        const Bytes& s = stream == 0 ? write : read;
        for (std::size_t cut = 1; cut < s.size(); ++cut) {
            auto board = std::make_shared<VirtualBoard>();
            d2xx::installBackend(board);
            FT_HANDLE h = nullptr;
            ASSERT_EQ(FT_Open(0, &h), FT_OK);
            ASSERT_EQ(FT_SetBitMode(h, 0, FT_BITMODE_MPSSE), FT_OK);
            Bytes setup = linkSetup();
            DWORD n = 0;
            ASSERT_EQ(FT_Write(h, setup.data(), static_cast<DWORD>(setup.size()), &n), FT_OK);
            board->chip().setReg(1, 0x1D, 0x0BAD);
            Bytes first(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(cut));
            Bytes second(s.begin() + static_cast<std::ptrdiff_t>(cut), s.end());
            ASSERT_EQ(FT_Write(h, first.data(), static_cast<DWORD>(first.size()), &n), FT_OK);
            ASSERT_EQ(FT_Write(h, second.data(), static_cast<DWORD>(second.size()), &n), FT_OK);
            DWORD waiting = 0;
            ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
            Bytes reply(waiting);
            ASSERT_EQ(FT_Read(h, reply.data(), waiting, &n), FT_OK);
            if (stream == 0) {
                EXPECT_EQ(board->chip().reg(0, 0x1D), 12) << "cut " << cut;
                EXPECT_EQ(board->chip().reg(1, 0x1D), 12) << "cut " << cut;
                EXPECT_TRUE(reply.empty()) << "cut " << cut;
            } else {
                EXPECT_EQ(reply, readReply({0x8E, 0x82, 0xEB, 0x01}))
                    << "cut " << cut;  // ch 2, addr 0x1D, data 0x0BAD
            }
            EXPECT_EQ(board->chip().words().size(), 1u) << "cut " << cut;
            EXPECT_EQ(board->chip().framingErrors(), 0u) << "cut " << cut;
            d2xx::installBackend(nullptr);
        }
    }
}

}  // namespace
}  // namespace kovra610::vboard::testing
