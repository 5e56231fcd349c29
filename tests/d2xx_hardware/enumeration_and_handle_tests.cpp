// Port counting, index-to-interface mapping, opening, closing and the
// handling of handles that are not (or no longer) open.
#include "fake_seam.h"
#include "platform/protocol/sbus_protocol.h"

namespace kovra610::d2xx::hw::testing {
namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::SetArgPointee;

using EnumerationTest = BackendTest;

TEST_F(EnumerationTest, CountsEveryInterfaceOfEveryDevice) {
    presentDevices({{kFT2232H, 1, 2}, {kFT232H, 1, 3}, {kFT2232H, 2, 5}});
    DWORD count = 99;
    ASSERT_EQ(backend->createDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 5u);

    presentDevices({{kFT4232H, 1, 2}, {0x6001, 1, 3}});
    ASSERT_EQ(backend->createDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 5u);

    presentDevices({});
    ASSERT_EQ(backend->createDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(EnumerationTest, EnumerationFailureIsAnErrorStatus) {
    EXPECT_CALL(*seam, enumerate(_)).WillRepeatedly(Return(-12));
    DWORD count = 7;
    EXPECT_NE(backend->createDeviceInfoList(&count), FT_OK);
    FT_HANDLE handle = nullptr;
    EXPECT_NE(backend->open(0, &handle), FT_OK);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(backend->createDeviceInfoList(nullptr), FT_INVALID_PARAMETER);
}

TEST_F(EnumerationTest, IndexZeroIsInterfaceAOfTheFirstDevice) {
    presentDevices({{kFT2232H, 1, 2}, {kFT232H, 1, 3}, {kFT2232H, 2, 5}});
    EXPECT_CALL(*seam, open(UsbDevice{kFT2232H, 1, 2}, 0, _))
        .WillOnce(DoAll(SetArgPointee<2>(kPort), Return(0)));
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(backend->open(0, &handle), FT_OK);
    EXPECT_NE(handle, nullptr);
}

TEST_F(EnumerationTest, IndicesWalkInterfacesWithinDevicesInOrder) {
    presentDevices({{kFT2232H, 1, 2}, {kFT232H, 1, 3}, {kFT2232H, 2, 5}});
    const struct {
        int index;
        UsbDevice device;
        int interfaceIndex;
    } expected[] = {{1, {kFT2232H, 1, 2}, 1},
                    {2, {kFT232H, 1, 3}, 0},
                    {3, {kFT2232H, 2, 5}, 0},
                    {4, {kFT2232H, 2, 5}, 1}};
    FtdiSeam::Port next = 20;
    for (const auto& e : expected) {
        SCOPED_TRACE(e.index);
        EXPECT_CALL(*seam, open(e.device, e.interfaceIndex, _))
            .WillOnce(DoAll(SetArgPointee<2>(next++), Return(0)));
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(backend->open(e.index, &handle), FT_OK);
    }
}

TEST_F(EnumerationTest, IndexBeyondThePortsIsNotFoundWithoutOpening) {
    presentDevices({{kFT2232H, 1, 2}, {kFT232H, 1, 3}});
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(backend->open(3, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(backend->open(-1, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(backend->open(0, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(handle, nullptr);
}

TEST_F(EnumerationTest, OpenFailureIsReportedAndLeavesNoHandle) {
    presentDevices({{kFT2232H, 1, 2}});
    EXPECT_CALL(*seam, open(_, 0, _)).WillOnce(Return(-5));
    EXPECT_CALL(*seam, lastError()).WillOnce(Return("unable to claim usb device"));
    FT_HANDLE handle = nullptr;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(backend->open(0, &handle), FT_DEVICE_NOT_OPENED);
    const std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(message, ::testing::HasSubstr("unable to claim usb device"));
    EXPECT_THAT(message, ::testing::HasSubstr("interface A"));
    EXPECT_EQ(handle, nullptr);

    // Unplugged between the count and the open.
    EXPECT_CALL(*seam, open(_, 0, _)).WillOnce(Return(FtdiSeam::kDeviceGone));
    EXPECT_EQ(backend->open(0, &handle), FT_DEVICE_NOT_FOUND);
}

using HandleTest = BackendTest;

TEST_F(HandleTest, NeverOpenedForeignAndNullHandlesAreRefusedWithoutUsb) {
    // A live handle of another hardware backend is foreign to this one.
    auto otherSeam = std::make_shared<::testing::NiceMock<MockSeam>>();
    ON_CALL(*otherSeam, enumerate(_)).WillByDefault([](std::vector<UsbDevice>& out) {
        out = {{kFT2232H, 1, 2}};
        return 0;
    });
    HardwareBackend other(otherSeam);
    FT_HANDLE otherHandle = nullptr;
    ASSERT_EQ(other.open(0, &otherHandle), FT_OK);

    // The mock of this backend is strict: any seam call here fails the test.
    int notAHandle = 0;
    const FT_HANDLE refused[] = {nullptr, &notAHandle, otherHandle};
    for (FT_HANDLE h : refused) {
        DWORD n = 0;
        UCHAR byte = 0;
        EXPECT_EQ(backend->close(h), FT_INVALID_HANDLE);
        EXPECT_EQ(backend->resetDevice(h), FT_INVALID_HANDLE);
        EXPECT_EQ(backend->getQueueStatus(h, &n), FT_INVALID_HANDLE);
        EXPECT_EQ(backend->read(h, &byte, 1, &n), FT_INVALID_HANDLE);
        EXPECT_EQ(backend->write(h, &byte, 1, &n), FT_INVALID_HANDLE);
        EXPECT_EQ(backend->setUSBParameters(h, 65536, 65535), FT_INVALID_HANDLE);
        EXPECT_EQ(backend->setChars(h, 0, 0, 0, 0), FT_INVALID_HANDLE);
        EXPECT_EQ(backend->setTimeouts(h, 0, 5000), FT_INVALID_HANDLE);
        EXPECT_EQ(backend->setLatencyTimer(h, 1), FT_INVALID_HANDLE);
        EXPECT_EQ(backend->setFlowControl(h, FT_FLOW_RTS_CTS, 0, 0), FT_INVALID_HANDLE);
        EXPECT_EQ(backend->setBitMode(h, 0, FT_BITMODE_MPSSE), FT_INVALID_HANDLE);
    }
}

TEST_F(HandleTest, CloseRestoresBitModeResetThenClosesAndOnlyOnce) {
    FT_HANDLE handle = openFirstPort();
    {
        InSequence order;
        EXPECT_CALL(*seam, setBitMode(kPort, 0x00, 0x00)).WillOnce(Return(0));
        EXPECT_CALL(*seam, close(kPort)).WillOnce(Return(0));
    }
    EXPECT_EQ(backend->close(handle), FT_OK);
    ::testing::Mock::VerifyAndClearExpectations(seam.get());

    // The closed handle is dead: no further USB traffic, whatever is asked.
    DWORD n = 0;
    UCHAR byte = sbus::kEchoProbe;
    EXPECT_EQ(backend->close(handle), FT_INVALID_HANDLE);
    EXPECT_EQ(backend->write(handle, &byte, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(backend->getQueueStatus(handle, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(backend->setBitMode(handle, 0, FT_BITMODE_RESET), FT_INVALID_HANDLE);
}

TEST_F(HandleTest, CloseOfAnUnpluggedBoardReleasesTheHandleAndReportsTheFailure) {
    FT_HANDLE handle = openFirstPort();
    EXPECT_CALL(*seam, setBitMode(kPort, 0x00, 0x00)).WillOnce(Return(-3));
    EXPECT_CALL(*seam, close(kPort)).WillOnce(Return(0));
    EXPECT_EQ(backend->close(handle), FT_IO_ERROR);
    EXPECT_EQ(backend->close(handle), FT_INVALID_HANDLE);
}

TEST_F(HandleTest, ReopenGivesAFreshHandleAndTheOldOneStaysDead) {
    FT_HANDLE first = openFirstPort();
    EXPECT_CALL(*seam, setBitMode(kPort, 0x00, 0x00)).WillOnce(Return(0));
    EXPECT_CALL(*seam, close(kPort)).WillOnce(Return(0));
    ASSERT_EQ(backend->close(first), FT_OK);

    EXPECT_CALL(*seam, open(_, 0, _)).WillOnce(DoAll(SetArgPointee<2>(kPort), Return(0)));
    FT_HANDLE second = nullptr;
    ASSERT_EQ(backend->open(0, &second), FT_OK);
    EXPECT_NE(second, first);
    EXPECT_EQ(backend->setLatencyTimer(first, 1), FT_INVALID_HANDLE);
}

TEST_F(HandleTest, APortAlreadyOpenIsNotOpenedTwice) {
    openFirstPort();
    FT_HANDLE again = nullptr;
    EXPECT_EQ(backend->open(0, &again), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(again, nullptr);

    // The other interface of the same chip is a different port.
    EXPECT_CALL(*seam, open(_, 1, _)).WillOnce(DoAll(SetArgPointee<2>(8), Return(0)));
    EXPECT_EQ(backend->open(1, &again), FT_OK);
}

TEST_F(HandleTest, DestroyingTheBackendClosesWhatIsStillOpen) {
    openFirstPort();
    {
        InSequence order;
        EXPECT_CALL(*seam, setBitMode(kPort, 0x00, 0x00)).WillOnce(Return(0));
        EXPECT_CALL(*seam, close(kPort)).WillOnce(Return(0));
    }
    backend.reset();
}

}  // namespace
}  // namespace kovra610::d2xx::hw::testing
