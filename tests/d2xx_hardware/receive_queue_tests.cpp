// The receive queue, the read time-out and the write loop.
#include "fake_seam.h"
#include "platform/protocol/sbus_protocol.h"

namespace kovra610::d2xx::hw::testing {
namespace {

using std::chrono::milliseconds;
using ::testing::_;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Gt;
using ::testing::Le;
using ::testing::Return;

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kAnswer = mpsse::kBadCommandAnswer;
constexpr std::uint8_t kProbe = sbus::kEchoProbe;

class ReceiveQueueTest : public BackendTest {
protected:
    void SetUp() override {
        handle = openFirstPort();
        serveReadsFromArrivals();
    }

    DWORD queued(FT_STATUS expected = FT_OK) {
        DWORD n = 12345;
        EXPECT_EQ(backend->getQueueStatus(handle, &n), expected);
        return n;
    }

    void setReadTimeout(ULONG readMs) {
        EXPECT_CALL(*seam, setTimeouts(kPort, Gt(0), Gt(0))).WillOnce(Return(0));
        ASSERT_EQ(backend->setTimeouts(handle, readMs, 5000), FT_OK);
    }

    Bytes readBytes(DWORD count, DWORD* returned, FT_STATUS expected = FT_OK) {
        Bytes buffer(count + 4, 0xEE);  // spare room shows any overrun
        *returned = 999999;
        EXPECT_EQ(backend->read(handle, buffer.data(), count, returned), expected);
        EXPECT_THAT(Bytes(buffer.begin() + count, buffer.end()), Each(0xEE));
        buffer.resize(std::min(*returned, count));
        return buffer;
    }

    FT_HANDLE handle = nullptr;
};

TEST_F(ReceiveQueueTest, QueueCountsWholeBytesInOrderAcrossPolls) {
    arrivals = {{kAnswer}, {}, {kProbe, 0x01, 0x02}, {0x03}};
    EXPECT_EQ(queued(), 1u);
    EXPECT_EQ(queued(), 1u);  // a poll in which nothing came
    EXPECT_EQ(queued(), 4u);
    EXPECT_EQ(queued(), 5u);
    EXPECT_EQ(queued(), 5u);
    // Each status query is one look at what has arrived, with no wait.
    EXPECT_EQ(pollTimes.size(), 5u);
    EXPECT_THAT(pollTimes, Each(HardwareBackend::kQueuePollMs));

    DWORD got = 0;
    EXPECT_THAT(readBytes(2, &got), ElementsAre(kAnswer, kProbe));
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(queued(), 3u);
    EXPECT_THAT(readBytes(3, &got), ElementsAre(0x01, 0x02, 0x03));
    EXPECT_EQ(queued(), 0u);
}

TEST_F(ReceiveQueueTest, ReadingWhatWasReportedNeitherPollsNorWaits) {
    arrivals = {{kAnswer, kProbe, 0x55}};
    ASSERT_EQ(queued(), 3u);
    const std::size_t polls = pollTimes.size();
    DWORD got = 0;
    EXPECT_THAT(readBytes(3, &got), ElementsAre(kAnswer, kProbe, 0x55));
    EXPECT_EQ(pollTimes.size(), polls);
    EXPECT_EQ(elapsed(), milliseconds(0));

    EXPECT_THAT(readBytes(0, &got), ElementsAre());
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(pollTimes.size(), polls);
}

TEST_F(ReceiveQueueTest, ReadOfMoreThanQueuedWaitsForTheRest) {
    setReadTimeout(100);
    arrivals = {{0x10}, {}, {}, {0x11}, {}, {0x12, 0x13}};
    ASSERT_EQ(queued(), 1u);
    DWORD got = 0;
    EXPECT_THAT(readBytes(4, &got), ElementsAre(0x10, 0x11, 0x12, 0x13));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(elapsed(), milliseconds(3 * kLatencyMs));  // the three quiet polls
    EXPECT_TRUE(arrivals.empty());
}

TEST_F(ReceiveQueueTest, ReadGivesUpAtTheTimeOutAndNoLater) {
    setReadTimeout(100);
    arrivals = {{0x10}, {}, {0x11}};
    ASSERT_EQ(queued(), 1u);
    pollTimes.clear();
    DWORD got = 0;
    EXPECT_THAT(readBytes(8, &got), ElementsAre(0x10, 0x11));
    EXPECT_EQ(got, 2u);
    // Waited the whole time-out, not a millisecond more: no poll was
    // allowed to run past what was left of it.
    EXPECT_EQ(elapsed(), milliseconds(100));
    EXPECT_THAT(pollTimes, Each(Gt(0)));
    EXPECT_THAT(pollTimes, Each(Le(100)));
    EXPECT_EQ(pollTimes.back(), 100 - 6 * kLatencyMs);
}

TEST_F(ReceiveQueueTest, ZeroTimeOutMeansOneBriefPollNeverAZeroForLibusb) {
    EXPECT_CALL(*seam, setTimeouts(kPort, HardwareBackend::kPollMs,
                                   HardwareBackend::kDefaultWriteTimeoutMs))
        .WillOnce(Return(0));
    ASSERT_EQ(backend->setTimeouts(handle, 0, 0), FT_OK);
    arrivals = {{}, {0x42}};
    DWORD got = 0;
    EXPECT_THAT(readBytes(1, &got), ElementsAre());
    EXPECT_EQ(got, 0u);
    EXPECT_THAT(pollTimes, ElementsAre(HardwareBackend::kPollMs));
    // The byte that arrives later is there for the next read.
    EXPECT_THAT(readBytes(1, &got), ElementsAre(0x42));
}

TEST_F(ReceiveQueueTest, ReadDataReturningZeroIsNotAnError) {
    setReadTimeout(40);
    DWORD got = 0;
    EXPECT_THAT(readBytes(2, &got, FT_OK), ElementsAre());
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(queued(), 0u);
}

TEST_F(ReceiveQueueTest, UsbErrorIsAnErrorStatusAndLosesNoBytes) {
    setReadTimeout(100);
    arrivals = {{0x01, 0x02}};
    ASSERT_EQ(queued(), 2u);
    EXPECT_CALL(*seam, readData(kPort, _, _, _)).WillOnce(Return(-4)).RetiresOnSaturation();
    EXPECT_EQ(queued(FT_IO_ERROR), 2u);  // what is queued is still counted

    EXPECT_CALL(*seam, readData(kPort, _, _, _)).WillOnce(Return(-4)).RetiresOnSaturation();
    DWORD got = 0;
    EXPECT_THAT(readBytes(5, &got, FT_IO_ERROR), ElementsAre(0x01, 0x02));
    EXPECT_EQ(got, 2u);
}

TEST_F(ReceiveQueueTest, ResetEmptiesTheQueue) {
    arrivals = {{0x01, 0x02, 0x03}};
    ASSERT_EQ(queued(), 3u);
    EXPECT_CALL(*seam, reset(kPort)).WillOnce(Return(0));
    EXPECT_EQ(backend->resetDevice(handle), FT_OK);
    EXPECT_EQ(queued(), 0u);

    EXPECT_CALL(*seam, reset(kPort)).WillOnce(Return(-1));
    EXPECT_EQ(backend->resetDevice(handle), FT_IO_ERROR);
}

TEST_F(ReceiveQueueTest, FullQueueLeavesTheRestInTheDeviceUntilRead) {
    const std::size_t total = HardwareBackend::kQueueLimit + 5000;
    Bytes stream(total);
    for (std::size_t i = 0; i < total; ++i) stream[i] = static_cast<std::uint8_t>(i * 7 % 251);
    arrivals = {stream};

    DWORD n = 0;
    for (int i = 0; i < 100 && n < HardwareBackend::kQueueLimit; ++i) n = queued();
    EXPECT_EQ(n, HardwareBackend::kQueueLimit);
    const std::size_t polls = pollTimes.size();
    EXPECT_EQ(queued(), HardwareBackend::kQueueLimit);
    EXPECT_EQ(pollTimes.size(), polls);  // nowhere to put more: no poll

    DWORD got = 0;
    EXPECT_THAT(readBytes(static_cast<DWORD>(total), &got), ElementsAreArray(stream));
    EXPECT_EQ(got, total);
}

using WriteTest = BackendTest;

TEST_F(WriteTest, PartialWritesAreRepeatedUntilEveryByteIsSent) {
    FT_HANDLE handle = openFirstPort();
    Bytes sent;
    EXPECT_CALL(*seam, writeData(kPort, _, _))
        .WillRepeatedly([&](FtdiSeam::Port, const std::uint8_t* data, int size) {
            const int n = std::min(size, 2);
            sent.insert(sent.end(), data, data + n);
            return n;
        });
    const Bytes command = {mpsse::kSetLowByte, sbus::kEndOfOpen.value, sbus::kEndOfOpen.direction,
                           mpsse::kSetClockDivisor, 0x0F};
    DWORD written = 0;
    EXPECT_EQ(backend->write(handle, command.data(), 5, &written), FT_OK);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(sent, command);
}

TEST_F(WriteTest, FailedOrStalledWriteIsAnErrorWithTheCountSoFar) {
    FT_HANDLE handle = openFirstPort();
    const Bytes command = {mpsse::kLoopbackOn, kProbe, mpsse::kLoopbackOff};
    DWORD written = 99;

    EXPECT_CALL(*seam, writeData(kPort, _, 3)).WillOnce(Return(1));
    EXPECT_CALL(*seam, writeData(kPort, _, 2)).WillOnce(Return(-1));
    EXPECT_EQ(backend->write(handle, command.data(), 3, &written), FT_IO_ERROR);
    EXPECT_EQ(written, 1u);

    // A write that moves nothing must not be retried for ever.
    EXPECT_CALL(*seam, writeData(kPort, _, 3)).WillOnce(Return(0));
    EXPECT_EQ(backend->write(handle, command.data(), 3, &written), FT_IO_ERROR);
    EXPECT_EQ(written, 0u);

    EXPECT_EQ(backend->write(handle, command.data(), 3, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(backend->write(handle, nullptr, 3, &written), FT_INVALID_PARAMETER);
}

}  // namespace
}  // namespace kovra610::d2xx::hw::testing
