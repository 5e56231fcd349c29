// Each configuration call reaches libftdi as its own equivalent, through the
// D2XX-compatible C functions the link uses.
#include <ftdi.h>

#include "fake_seam.h"
#include "platform/d2xx/ftd2xx.h"

namespace kovra610::d2xx::hw::testing {
namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::Return;

class ConfigurationTest : public BackendTest {
protected:
    void SetUp() override {
        handle = openFirstPort();
        // Route the C functions to this backend without handing it over.
        previous = installBackend(std::shared_ptr<Backend>(backend.get(), [](Backend*) {}));
    }
    void TearDown() override { installBackend(previous); }

    FT_HANDLE handle = nullptr;
    std::shared_ptr<Backend> previous;
};

TEST_F(ConfigurationTest, LinkConfigurationMapsToLibftdiCallsInOrder) {
    {
        InSequence order;
        EXPECT_CALL(*seam, reset(kPort)).WillOnce(Return(0));
        EXPECT_CALL(*seam, setChunkSizes(kPort, 65536u, 65535u)).WillOnce(Return(0));
        EXPECT_CALL(*seam, setEventChar(kPort, 0, false)).WillOnce(Return(0));
        EXPECT_CALL(*seam, setErrorChar(kPort, 0, false)).WillOnce(Return(0));
        EXPECT_CALL(*seam, setTimeouts(kPort, HardwareBackend::kPollMs, 5000)).WillOnce(Return(0));
        EXPECT_CALL(*seam, setLatencyTimer(kPort, 1)).WillOnce(Return(0));
        EXPECT_CALL(*seam, setFlowControl(kPort, SIO_RTS_CTS_HS, 0, 0)).WillOnce(Return(0));
        EXPECT_CALL(*seam, setBitMode(kPort, 0x00, BITMODE_RESET)).WillOnce(Return(0));
        EXPECT_CALL(*seam, setBitMode(kPort, 0x00, BITMODE_MPSSE)).WillOnce(Return(0));
    }
    FT_STATUS status = FT_ResetDevice(handle);
    status |= FT_SetUSBParameters(handle, 65536, 65535);
    status |= FT_SetChars(handle, 0, 0, 0, 0);
    status |= FT_SetTimeouts(handle, 0, 5000);
    status |= FT_SetLatencyTimer(handle, 1);
    status |= FT_SetFlowControl(handle, FT_FLOW_RTS_CTS, 0, 0);
    status |= FT_SetBitMode(handle, 0x00, FT_BITMODE_RESET);
    status |= FT_SetBitMode(handle, 0x00, FT_BITMODE_MPSSE);
    EXPECT_EQ(status, FT_OK);
}

TEST_F(ConfigurationTest, EverySettingFailureIsAnErrorStatus) {
    EXPECT_CALL(*seam, setChunkSizes(kPort, _, _)).WillOnce(Return(-1));
    EXPECT_CALL(*seam, setEventChar(kPort, _, _)).WillOnce(Return(-1));  // error char not tried
    EXPECT_CALL(*seam, setTimeouts(kPort, _, _)).WillOnce(Return(-1));
    EXPECT_CALL(*seam, setLatencyTimer(kPort, _)).WillOnce(Return(-2));
    EXPECT_CALL(*seam, setFlowControl(kPort, _, _, _)).WillOnce(Return(-1));
    EXPECT_CALL(*seam, setBitMode(kPort, _, BITMODE_MPSSE)).WillOnce(Return(-1));
    EXPECT_NE(FT_SetUSBParameters(handle, 65536, 65535), FT_OK);
    EXPECT_NE(FT_SetChars(handle, 0, 0, 0, 0), FT_OK);
    EXPECT_NE(FT_SetTimeouts(handle, 0, 5000), FT_OK);
    EXPECT_NE(FT_SetLatencyTimer(handle, 1), FT_OK);
    EXPECT_NE(FT_SetFlowControl(handle, FT_FLOW_RTS_CTS, 0, 0), FT_OK);
    EXPECT_NE(FT_SetBitMode(handle, 0x00, FT_BITMODE_MPSSE), FT_OK);
}

TEST_F(ConfigurationTest, ValuesTheChipCannotTakeAreRefusedBeforeUsb) {
    // No expectations: the strict seam fails the test on any call.
    EXPECT_EQ(FT_SetUSBParameters(handle, 0, 65535), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetUSBParameters(handle, 100, 65535), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetUSBParameters(handle, 65536 + 64, 65535), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetUSBParameters(handle, 65536, 0), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetLatencyTimer(handle, 0), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetFlowControl(handle, 0x0300, 0, 0), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetBitMode(handle, 0x00, 0x03), FT_INVALID_PARAMETER);
}

}  // namespace
}  // namespace kovra610::d2xx::hw::testing
