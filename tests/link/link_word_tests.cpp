#include <chrono>

#include "app/core/sbus_image.h"
#include "link_fixture.h"

namespace kovra610::testing {
namespace {

Bytes writeStream(uint32_t word) {
    return bytesOf(sbus::writeStream(word));
}

Bytes readStream(uint32_t word) {
    return bytesOf(sbus::readStream(word));
}

TEST_F(LinkTest, WriteSendsTheWordInOneEighteenByteStream) {
    openLink();
    EXPECT_EQ(FTD232_sbus_single_write(3, 1, 0x1D, 12), 0);
    EXPECT_EQ(driver->writes(), (std::vector<Bytes>{writeStream(0x33B000C)}));
    // nothing waiting afterwards: the query and a 0-byte read, nothing more
    EXPECT_EQ(ops(), (std::vector<std::string>{"FT_Write", "FT_GetQueueStatus", "FT_Read"}));
    EXPECT_EQ(driver->callsOf("FT_Read")[0].args, (std::vector<uint32_t>{0}));
}

TEST_F(LinkTest, ArgumentsWiderThanTheirFieldsAreMasked) {
    openLink();
    FTD232_sbus_single_write(7, 3, 0xFF, 0x12345);  // W = 0x3FF2345
    FTD232_sbus_single_write(1, 0, 0x19, 0x1A1F);   // W = 0x1321A1F, a write stream with rw 0
    ASSERT_EQ(driver->writes().size(), 2u);
    EXPECT_EQ(driver->writes()[0], writeStream(0x3FF2345));
    EXPECT_EQ(driver->writes()[1], writeStream(0x1321A1F));
}

TEST_F(LinkTest, EntryWriteSendsTheImageEntryFields) {
    openLink();
    SBUS_STRUCTURE image = sbus_structure_initial_contents();
    image.ch[31] = 2;
    image.addr[31] = 0x19;
    image.rw[31] = 1;
    image.data[31] = 0x0006;
    EXPECT_EQ(FTD232_sbus_serial_write(&image, 31), 0);
    EXPECT_EQ(FTD232_sbus_serial_write(&image, 64), 0);  // outside the image: nothing sent
    EXPECT_EQ(FTD232_sbus_serial_write(nullptr, 0), 0);
    ASSERT_EQ(driver->writes().size(), 1u);
    // W = 2<<24 | 0x19<<17 | 1<<16 | 6 = 0x2330006
    EXPECT_EQ(driver->writes()[0], writeStream(0x2330006));
}

TEST_F(LinkTest, RefusedWriteReportsAGlitchAndCarriesOn) {
    openLink();
    driver->failCall("FT_Write", 1, FT_IO_ERROR);
    StdoutCapture out;
    EXPECT_NE(FTD232_sbus_single_write(1, 1, 1, 1), 0);  // the caller learns it did not go
    EXPECT_EQ(out.text(), "USB Glitch Detected - Reseting FT2332   \n");
    EXPECT_EQ(driver->writes().size(), 1u);  // not repeated
}

TEST_F(LinkTest, StrayBytesAfterAWriteResynchroniseTheEngine) {
    openLink();
    driver->afterWrite(1, {mpsse::kBadCommandAnswer, 0x13});
    driver->afterWrite(2, kEcho);
    StdoutCapture out;
    FTD232_sbus_single_write(1, 1, 0x10, 0x55);
    ASSERT_EQ(driver->writes().size(), 3u);
    EXPECT_EQ(driver->writes()[1], Bytes{sbus::kEchoProbe});
    EXPECT_EQ(driver->writes()[2], Bytes{mpsse::kLoopbackOff});
    EXPECT_EQ(out.text(), " !!!!! 0 0 0 0  \n");
    EXPECT_EQ(driver->waiting(), 0u);
}

TEST_F(LinkTest, ReadSendsTheThirtyFourByteStreamAndDecodesTheAnswer) {
    openLink();
    driver->afterWrite(1, readReply({0x4F, 0x00, 0x12, 0x01}));
    EXPECT_EQ(FTD232_sbus_single_read(1, 0, 0x1E, 0), 0x13C0049u);
    ASSERT_EQ(driver->writes().size(), 1u);
    EXPECT_EQ(driver->writes()[0], readStream(0x13C0000));
}

TEST_F(LinkTest, ReadClearsTheReadWriteBitAndIgnoresTheFirstTwoReplyBytes) {
    openLink();
    // reply bytes 0 and 1 are any two bytes; bits 7-2 of the last byte are ignored
    driver->afterWrite(1, {0x12, 0x34, 0x4F, 0x00, 0x12, 0xFD});
    EXPECT_EQ(FTD232_sbus_single_read(1, 1, 0x1E, 0), 0x13C0049u);
    EXPECT_EQ(driver->writes()[0], readStream(0x13C0000));
}

TEST_F(LinkTest, ReadDiscardsBytesWaitingBeforeItsStream) {
    openLink();
    driver->preload({0xEE, 0xEE, 0xEE});
    driver->afterWrite(1, readReply({0x8C, 0xC0, 0x01, 0x82}));
    unsigned int word = 0;
    EXPECT_EQ(FTD232_sbus_read_word(2, 0x19, 0, &word), 0);
    EXPECT_EQ(word, 0x2330006u);
}

TEST_F(LinkTest, ReadErrorRuleLooksAtTheStatusAndTheReportedCount) {
    openLink();
    {
        // failed query with nothing reported: the read error
        driver->failCall("FT_GetQueueStatus", 2, FT_IO_ERROR);
        StdoutCapture out;
        EXPECT_EQ(FTD232_sbus_single_read(1, 0, 1, 0), 1u);
        EXPECT_EQ(out.text(), "Error - GPIO cannot be read\n");
    }
    {
        // a failed reply read with six bytes reported: the read error too
        driver->afterWrite(1, readReply({0x4F, 0x00, 0x12, 0x01}));
        driver->failCall("FT_Read", 2, FT_IO_ERROR);
        StdoutCapture out;
        EXPECT_EQ(FTD232_sbus_single_read(1, 0, 0x1E, 0), 1u);
        EXPECT_EQ(out.text(), "Error - GPIO cannot be read\n");
    }
}

TEST_F(LinkTest, ShortReplyIsWaitedForAndNeverDecodedFromBytesThatDidNotArrive) {
    openLink();
    {
        // the rest of the reply arrives a little late: the answer is whole
        driver->afterWrite(1, readReply({0x4F}));
        driver->atQuery(3, {0x00, 0x12, 0x01});
        EXPECT_EQ(FTD232_sbus_single_read(1, 0, 0x1E, 0), 0x13C0049u);
    }
    {
        // the rest never comes: the read error, not a half-decoded word
        driver->afterWrite(1, readReply({0x4F}));
        StdoutCapture out;
        unsigned int word = 0x5A5A;
        EXPECT_NE(FTD232_sbus_read_word(1, 0x1E, 0, &word), 0);
        EXPECT_EQ(word, 0x5A5Au);
        EXPECT_EQ(out.text(), "Error - GPIO cannot be read\n");
    }
}

TEST_F(LinkTest, LateBytesAfterTheAnswerAreDrainedAndASecondFindResynchronises) {
    openLink();
    // the query after the decode finds late bytes, the next query finds more
    driver->afterWrite(1, readReply({0x4F, 0x00, 0x12, 0x01}));
    driver->atQuery(3, {0x77});
    driver->atQuery(4, {0x88});
    driver->afterWrite(2, kEcho);
    StdoutCapture out;
    EXPECT_EQ(FTD232_sbus_single_read(1, 0, 0x1E, 0), 0x13C0049u);
    EXPECT_EQ(driver->writes().size(), 3u);  // the read stream, the echo probe, loopback off
    EXPECT_EQ(driver->writes()[1], Bytes{sbus::kEchoProbe});

    driver->clearCalls();
    driver->afterWrite(1, readReply({0x4F, 0x00, 0x12, 0x01}));
    driver->atQuery(3, {0x77});  // one late byte only: drained, no resynchronisation
    EXPECT_EQ(FTD232_sbus_single_read(1, 0, 0x1E, 0), 0x13C0049u);
    EXPECT_EQ(driver->writes().size(), 1u);
    EXPECT_EQ(driver->waiting(), 0u);
}

// The reply to a read stream answering with `word`.
Bytes replyOf(uint32_t word) {
    return readReply({static_cast<uint8_t>(word >> 18), static_cast<uint8_t>(word >> 10),
                      static_cast<uint8_t>(word >> 2), static_cast<uint8_t>(word & 0x3u)});
}

// An answer names the channel select and address it answers; one for
// another register is a failed read, never data. The chip echoes select
// 3 as 3.
TEST_F(LinkTest, AnAnswerForAnotherRegisterIsAFailedReadNeverData) {
    openLink();
    {
        driver->afterWrite(1, replyOf(0x13E0049));  // ch 1, addr 0x1F
        StdoutCapture out;
        unsigned int word = 0x5A5A;
        EXPECT_NE(FTD232_sbus_read_word(1, 0x1E, 0, &word), 0);
        EXPECT_EQ(word, 0x5A5Au);
        EXPECT_EQ(out.text(),
                  "Error - GPIO cannot be read: the answer is for ch=0x1 addr=0x1F, not ch=0x1 "
                  "addr=0x1E\n");
    }
    const int ch[] = {1, 2, 3}, addr[] = {0x1E, 0x1E, 0x19};
    Bytes replies = replyOf(0x13C0049);  // ch 1, addr 0x1E
    for (const Bytes& r : {replyOf(0x13C0049), replyOf(0x3321A1F)})
        replies.insert(replies.end(), r.begin(), r.end());
    driver->clearCalls();
    driver->afterWrite(1, replies);
    StdoutCapture out;
    unsigned int words[3] = {7, 7, 7};
    int ok[3] = {-1, -1, -1};
    EXPECT_NE(FTD232_sbus_read_words(ch, addr, 3, words, ok), 0);
    EXPECT_EQ(driver->writes().size(), 1u);  // one batched stream
    EXPECT_EQ(std::vector<int>(ok, ok + 3), (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(std::vector<unsigned>(words, words + 3),
              (std::vector<unsigned>{0x13C0049u, 7u, 0x3321A1Fu}));
    EXPECT_EQ(out.text(),
              "Error - GPIO cannot be read: the answer is for ch=0x1 addr=0x1E, not ch=0x2 "
              "addr=0x1E\n");
}

// The rest of a reply that came too late for its read is taken before the
// next command goes out, not after it, where it would be taken as stray
// bytes (or as the next read's answer). When it never comes, the wait for
// it ends.
TEST_F(LinkTest, TheLateRestOfAFailedReadsReplyIsTakenBeforeTheNextCommand) {
    openLink();
    std::string said;
    {
        StdoutCapture out;
        driver->afterWrite(1, readReply({0x4F}));
        FTD232_sbus_single_read(1, 0, 0x1E, 0);
        driver->clearCalls();
        driver->atQuery(1, {0x00, 0x12, 0x01});
        FTD232_sbus_single_write(1, 1, 0x10, 0x55);
        said = out.text();
    }
    EXPECT_EQ(driver->writes(), (std::vector<Bytes>{writeStream(0x1210055)}));
    EXPECT_EQ(driver->waiting(), 0u);
    EXPECT_EQ(said, "Error - GPIO cannot be read\n");  // and no resynchronisation

    StdoutCapture quiet;
    driver->afterWrite(1, readReply({}));
    FTD232_sbus_single_read(1, 0, 0x1E, 0);
    const auto started = std::chrono::steady_clock::now();
    FTD232_sbus_single_write(1, 1, 0x10, 0x55);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

TEST_F(LinkTest, ClockDivisorKeepsItsLowSixteenBitsLowByteFirst) {
    openLink();
    SetClkFreq(15, 0);
    SetClkFreq(0x1234, 0);
    SetClkFreq(0x12345, 0);
    const uint8_t divisor = mpsse::kSetClockDivisor;
    EXPECT_EQ(
        driver->writes(),
        (std::vector<Bytes>{{divisor, 0x0F, 0x00}, {divisor, 0x34, 0x12}, {divisor, 0x45, 0x23}}));
    EXPECT_EQ(ops().size(), 3u);  // no queue query
}

TEST_F(LinkTest, ChipResetIsNineBytesInThreeWrites) {
    openLink();
    FTD232_sbus_reset_part();
    // Reset low, then idle, then 1008 clocks with select high.
    EXPECT_EQ(driver->writes(),
              (std::vector<Bytes>{bytesOf(mpsse::setLowByte(sbus::kResetLow)),
                                  bytesOf(mpsse::setLowByte(sbus::kIdle)),
                                  bytesOf(mpsse::clockBytePulses(sbus::kResetClockGroups))}));
    EXPECT_EQ(ops().size(), 3u);
}

TEST_F(LinkTest, WithTheLinkDownNothingReachesTheDriverAndFailuresAreReported) {
    // never opened
    EXPECT_EQ(FTD232_link_state(), LINK_DOWN);
    StdoutCapture out;
    EXPECT_NE(FTD232_sbus_single_write(1, 1, 1, 1), 0);
    EXPECT_EQ(FTD232_sbus_single_read(1, 0, 1, 0), 1u);
    EXPECT_EQ(SetClkFreq(15, 0), 0);
    EXPECT_NE(FTD232_sbus_reset_part(), 0);  // no reset reached a chip
    EXPECT_EQ(out.text(),
              "USB Glitch Detected - Reseting FT2332   \nError - GPIO cannot be read\n");
    EXPECT_TRUE(driver->calls().empty());
}

// Unplugged, every call on the handle fails: the loss is said once, and
// until the link is closed no call reaches the driver or waits.
TEST_F(LinkTest, AnUnpluggedPortIsLostOnceAndLaterCallsReturnAtOnce) {
    openLink();
    EXPECT_EQ(FTD232_link_state(), LINK_UP);
    for (const char* op : {"FT_Write", "FT_GetQueueStatus"}) driver->failAlways(op, FT_IO_ERROR);
    StdoutCapture out;
    FTD232_sbus_single_write(3, 1, 0x1D, 12);
    EXPECT_EQ(FTD232_link_state(), LINK_LOST);
    driver->clearCalls();
    unsigned int word = 7;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) EXPECT_NE(FTD232_sbus_read_word(1, 0x1E, 0, &word), 0);
    FTD232_sbus_single_write(1, 1, 2, 2);
    SetClkFreq(4, 0);
    FTD232_sbus_reset_part();
    // the reads' fixed 10 ms waits alone would take a second
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
    EXPECT_EQ(word, 7u);
    EXPECT_TRUE(driver->calls().empty());
    EXPECT_EQ(out.text().find("Link lost: "), 0u);
    EXPECT_EQ(out.text().find('\n'), out.text().size() - 1);
    CloseFT2232HDevice();
    EXPECT_EQ(ops(), (std::vector<std::string>{"FT_Close"}));  // no bit-mode reset
    EXPECT_EQ(FTD232_link_state(), LINK_DOWN);
}

}  // namespace
}  // namespace kovra610::testing
