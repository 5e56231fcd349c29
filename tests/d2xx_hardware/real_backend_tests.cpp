// The real libftdi backend on this machine. With no FTDI device plugged in
// (the build machines have none) the count is 0 and an open fails cleanly.
#include <gtest/gtest.h>

#include "platform/d2xx/backend.h"
#include "platform/d2xx/ftd2xx.h"
#include "platform/d2xx/hardware/hardware_backend.h"

namespace kovra610::d2xx {
namespace {

class RealBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = installBackend(makeHardwareBackend());
        DWORD count = 0;
        ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
        if (count != 0) GTEST_SKIP() << count << " FTDI port(s) present; this test wants none";
    }
    void TearDown() override { installBackend(previous); }

    std::shared_ptr<Backend> previous;
};

TEST_F(RealBackendTest, NoDeviceMeansCountZeroAndOpenFailsCleanly) {
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(FT_Open(1, &handle), FT_DEVICE_NOT_FOUND);

    // The failed open left nothing usable behind.
    DWORD n = 0;
    EXPECT_EQ(FT_GetQueueStatus(handle, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetBitMode(handle, 0x00, FT_BITMODE_RESET), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE);
}

}  // namespace
}  // namespace kovra610::d2xx
