// Each configuration call reaches libftdi as its own equivalent, through the
// D2XX-compatible C functions the link uses.
#include <ftdi.h>

#include <vector>

#include "fake_seam.h"
#include "platform/d2xx/ftd2xx.h"

namespace kovra610::d2xx::hw::testing {
namespace {

using ::testing::Return;

// A configuration call as the link makes it, and the libftdi call it must
// become, answering `result`.
struct Setting {
    const char* name;
    FT_STATUS (*make)(FT_HANDLE handle);
    void (*expect)(MockSeam& seam, int result);
};

class ConfigurationTest : public BackendTest {
protected:
    void SetUp() override {
        handle = openFirstPort();
        // Route the C functions to this backend without handing it over.
        previous = installBackend(std::shared_ptr<Backend>(backend.get(), [](Backend*) {}));
    }
    void TearDown() override { installBackend(previous); }

    // The link's configuration, call by call in its order.
    static const std::vector<Setting>& linkSettings();

    FT_HANDLE handle = nullptr;
    std::shared_ptr<Backend> previous;
};

const std::vector<Setting>& ConfigurationTest::linkSettings() {
    static const std::vector<Setting> settings = {
        {"FT_ResetDevice", [](FT_HANDLE h) { return FT_ResetDevice(h); },
         [](MockSeam& s, int r) { EXPECT_CALL(s, reset(kPort)).WillOnce(Return(r)); }},
        {"FT_SetUSBParameters", [](FT_HANDLE h) { return FT_SetUSBParameters(h, 65536, 65535); },
         [](MockSeam& s, int r) {
             EXPECT_CALL(s, setChunkSizes(kPort, 65536u, 65535u)).WillOnce(Return(r));
         }},
        {"FT_SetChars", [](FT_HANDLE h) { return FT_SetChars(h, 0, 0, 0, 0); },
         [](MockSeam& s, int r) {
             EXPECT_CALL(s, setEventChar(kPort, 0, false)).WillOnce(Return(r));
             // After a failed event char the error char is not tried.
             if (r >= 0) EXPECT_CALL(s, setErrorChar(kPort, 0, false)).WillOnce(Return(r));
         }},
        {"FT_SetTimeouts", [](FT_HANDLE h) { return FT_SetTimeouts(h, 0, 5000); },
         [](MockSeam& s, int r) {
             EXPECT_CALL(s, setTimeouts(kPort, HardwareBackend::kPollMs, 5000)).WillOnce(Return(r));
         }},
        {"FT_SetLatencyTimer", [](FT_HANDLE h) { return FT_SetLatencyTimer(h, 1); },
         [](MockSeam& s, int r) { EXPECT_CALL(s, setLatencyTimer(kPort, 1)).WillOnce(Return(r)); }},
        {"FT_SetFlowControl",
         [](FT_HANDLE h) { return FT_SetFlowControl(h, FT_FLOW_RTS_CTS, 0, 0); },
         [](MockSeam& s, int r) {
             EXPECT_CALL(s, setFlowControl(kPort, SIO_RTS_CTS_HS, 0, 0)).WillOnce(Return(r));
         }},
        {"FT_SetBitMode reset",
         [](FT_HANDLE h) { return FT_SetBitMode(h, 0x00, FT_BITMODE_RESET); },
         [](MockSeam& s, int r) {
             EXPECT_CALL(s, setBitMode(kPort, 0x00, BITMODE_RESET)).WillOnce(Return(r));
         }},
        {"FT_SetBitMode MPSSE",
         [](FT_HANDLE h) { return FT_SetBitMode(h, 0x00, FT_BITMODE_MPSSE); },
         [](MockSeam& s, int r) {
             EXPECT_CALL(s, setBitMode(kPort, 0x00, BITMODE_MPSSE)).WillOnce(Return(r));
         }},
    };
    return settings;
}

// Each libftdi call is expected just before the call that must make it:
// the strict seam fails the test on any call out of turn.
TEST_F(ConfigurationTest, LinkConfigurationMapsToLibftdiCallsInOrder) {
    for (const Setting& setting : linkSettings()) {
        setting.expect(*seam, 0);
        EXPECT_EQ(setting.make(handle), FT_OK) << setting.name;
    }
}

TEST_F(ConfigurationTest, EverySettingFailureIsAnErrorStatus) {
    for (const Setting& setting : linkSettings()) {
        for (const int failure : {-1, -2}) {
            setting.expect(*seam, failure);
            EXPECT_NE(setting.make(handle), FT_OK) << setting.name << " answering " << failure;
        }
    }
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
