// The hardware backend over the system's libftdi1 and the emulated USB bus:
// what reaches the caller, how many libusb contexts a session makes, which
// device a board setting opens, the cable pulled and plugged in again, and
// the bus's own checks on how libusb is used.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libusb.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "platform/d2xx/backend.h"
#include "platform/d2xx/hardware/hardware_backend.h"
#include "platform/protocol/sbus_protocol.h"
#include "recording_backend.h"
#include "usb_device_control.h"

namespace kovra610::d2xx {
namespace {

using ::testing::HasSubstr;

class UsbDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!usbdev::emulated()) GTEST_SKIP() << "needs the emulated USB bus in LD_LIBRARY_PATH";
    }
    void TearDown() override { installBackend(nullptr); }

    // A bus holding `devices`, and a backend on it seeing `serial` only.
    void use(const char* devices, const std::string& serial = {}) {
        ASSERT_EQ(USB_CONTROL(kovra610_usb_configure)(devices), 0);
        installBackend(makeHardwareBackend(serial));
    }

    // Opens port `index` and sets it up as the link does.
    FT_HANDLE openMpsse(int index, UCHAR latencyMs) {
        FT_HANDLE h = nullptr;
        testing::StdoutCapture quiet;
        EXPECT_EQ(FT_Open(index, &h), FT_OK);
        FT_STATUS s = FT_ResetDevice(h);
        s |= FT_SetUSBParameters(h, 65536, 65535);
        s |= FT_SetChars(h, 0, 0, 0, 0);
        s |= FT_SetTimeouts(h, 0, 5000);
        s |= FT_SetLatencyTimer(h, latencyMs);
        s |= FT_SetFlowControl(h, FT_FLOW_RTS_CTS, 0, 0);
        s |= FT_SetBitMode(h, 0, FT_BITMODE_RESET);
        s |= FT_SetBitMode(h, 0, FT_BITMODE_MPSSE);
        EXPECT_EQ(s, FT_OK);
        return h;
    }

    // Everything that arrives within `limit`, through the queue status.
    static std::vector<UCHAR> collect(FT_HANDLE h, DWORD expected,
                                      std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        DWORD waiting = 0;
        while (waiting < expected && std::chrono::steady_clock::now() < end)
            EXPECT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
        std::vector<UCHAR> bytes(waiting);
        DWORD got = 0;
        EXPECT_EQ(FT_Read(h, bytes.data(), waiting, &got), FT_OK);
        bytes.resize(got);
        return bytes;
    }

    static int setting(int device, int port, const char* name) {
        return USB_CONTROL(kovra610_usb_port_setting)(device, port, name);
    }
};

TEST_F(UsbDeviceTest, ALargeReplyArrivesWholeAndInOrderAtAnyLatency) {
    use("ft2232h:KV610001");
    for (const UCHAR latency : {UCHAR{1}, UCHAR{16}}) {
        FT_HANDLE h = openMpsse(0, latency);
        // Loopback on, then 5000 bytes clocked out and in.
        using namespace kovra610::mpsse;
        constexpr Byte kShiftBytesOutIn = kWrite | kRead | kOutOnFalling;
        std::vector<UCHAR> command = {kLoopbackOn, kShiftBytesOutIn, countLow(5000),
                                      countHigh(5000)};
        std::vector<UCHAR> pattern;
        for (int i = 0; i < 5000; ++i) pattern.push_back(static_cast<UCHAR>(i * 7 + i / 256));
        command.insert(command.end(), pattern.begin(), pattern.end());
        DWORD written = 0;
        ASSERT_EQ(FT_Write(h, command.data(), static_cast<DWORD>(command.size()), &written), FT_OK);

        EXPECT_EQ(collect(h, 5000, std::chrono::seconds(2)), pattern) << "latency " << int{latency};
        // and nothing after it
        EXPECT_TRUE(collect(h, 1, std::chrono::milliseconds(3 * latency)).empty());
        EXPECT_EQ(FT_Close(h), FT_OK);
    }
}

TEST_F(UsbDeviceTest, ASessionUsesOneLibusbContextAndResetsTheBitModeOnceAtClose) {
    use("ft2232h:KV610001");
    for (int session = 0; session < 2; ++session) {
        DWORD count = 0;
        ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
        EXPECT_EQ(count, 2u);
        FT_HANDLE h = openMpsse(0, 1);
        ASSERT_EQ(FT_SetBitMode(h, 0, FT_BITMODE_RESET), FT_OK);  // as the link closes
        ASSERT_EQ(FT_Close(h), FT_OK);
        EXPECT_EQ(setting(0, 0, "bitmode"), FT_BITMODE_RESET);
    }
    // reset, MPSSE, reset: three per session, none added by the close
    EXPECT_EQ(setting(0, 0, "bitmode_requests"), 6);
    EXPECT_EQ(USB_CONTROL(kovra610_usb_contexts_made)(), 1);

    // A close after MPSSE mode still leaves the port in reset mode.
    FT_HANDLE h = openMpsse(0, 1);
    ASSERT_EQ(FT_Close(h), FT_OK);
    EXPECT_EQ(setting(0, 0, "bitmode"), FT_BITMODE_RESET);
}

constexpr const char* kBench = "ft232r:A10K7Q,ft2232h:KV610001,ft2232h:KV610002:busy=B";

TEST_F(UsbDeviceTest, ASerialNumberChoosesItsFt2232hAndNothingElse) {
    use(kBench, "KV610002");
    DWORD count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 2u);
    FT_HANDLE h = nullptr;
    {
        testing::StdoutCapture out;
        ASSERT_EQ(FT_Open(0, &h), FT_OK);
        EXPECT_EQ(out.text(),
                  "Opened FT2232H \"Dual RS232-HS\" serial KV610002 (bus 001, address 004), "
                  "interface A\n");
    }
    ASSERT_EQ(FT_SetLatencyTimer(h, 7), FT_OK);
    EXPECT_EQ(setting(2, 0, "latency"), 7);
    EXPECT_EQ(setting(1, 0, "latency"), 16);
    FT_HANDLE b = nullptr;
    EXPECT_EQ(FT_Open(1, &b), FT_DEVICE_NOT_OPENED);  // its interface B is held elsewhere
    EXPECT_EQ(FT_Close(h), FT_OK);

    // Plain "usb" counts every port. Port 0 is the FT232R, which has no
    // MPSSE: it is refused, saying so, and gets no request at all.
    installBackend(makeHardwareBackend());
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 5u);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(FT_Open(0, &h), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "FTDI port 0 (interface A of FT232R A10K7Q, USB device 001:002) has no MPSSE and "
              "cannot be the board: name the board's FT2232H with KOVRA610_BOARD=usb:serial=SN "
              "(the devices command lists the ports)\n");
    EXPECT_EQ(setting(0, 0, "bitmode_requests"), 0);
    EXPECT_EQ(USB_CONTROL(kovra610_usb_handles_open)(), 0);
}

TEST_F(UsbDeviceTest, AnUnknownSerialNumberIsNamedAndFindsNoDevice) {
    use(kBench, "KV6199");
    DWORD count = 7;
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "KOVRA610_BOARD=usb:serial=KV6199: no FT2232H with serial number KV6199 is "
              "attached (attached: FT232R A10K7Q, FT2232H KV610001, FT2232H KV610002)\n");
    EXPECT_EQ(count, 0u);
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_Open(0, &h), FT_DEVICE_NOT_FOUND);
}

// Two boards with one serial number: neither is opened on a guess.
TEST_F(UsbDeviceTest, ASerialNumberTwoBoardsCarryNamesNeither) {
    use("ft2232h:KV610001,ft2232h:KV610001", "KV610001");
    DWORD count = 7;
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "KOVRA610_BOARD=usb:serial=KV610001: 2 FT2232H carry serial number KV610001 (USB "
              "devices 001:002, 001:003), so which is the board cannot be told: give each board "
              "a serial number of its own, or leave only one attached\n");
    EXPECT_EQ(count, 0u);
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_Open(0, &h), FT_DEVICE_NOT_FOUND);
    setenv("KOVRA610_BOARD", "usb:serial=KV610001", 1);
    std::vector<FtdiPort> ports;
    std::string error;
    ASSERT_TRUE(listFtdiPorts(ports, &error)) << error;
    EXPECT_EQ(ports.size(), 4u);
    for (const FtdiPort& port : ports) EXPECT_FALSE(port.selected) << port.index;
    unsetenv("KOVRA610_BOARD");

    // Plain "usb" opens the first of them, and again after a close: a
    // serial number two boards carry does not hold the board it opened.
    installBackend(makeHardwareBackend());
    for (int open = 0; open < 2; ++open) {
        testing::StdoutCapture quiet;
        ASSERT_EQ(FT_Open(0, &h), FT_OK) << open;
        EXPECT_EQ(FT_Close(h), FT_OK);
    }
}

TEST_F(UsbDeviceTest, ThePortListShowsEveryPortAndTheOneTheSettingOpens) {
    ASSERT_EQ(USB_CONTROL(kovra610_usb_configure)(kBench), 0);
    setenv("KOVRA610_BOARD", "usb:serial=KV610002", 1);
    std::vector<FtdiPort> ports;
    std::string error;
    ASSERT_TRUE(listFtdiPorts(ports, &error)) << error;
    ASSERT_EQ(ports.size(), 5u);
    const char* chips[] = {"FT232R", "FT2232H", "FT2232H", "FT2232H", "FT2232H"};
    const char* serials[] = {"A10K7Q", "KV610001", "KV610001", "KV610002", "KV610002"};
    const char letters[] = {'A', 'A', 'B', 'A', 'B'};
    const unsigned addresses[] = {2, 3, 3, 4, 4};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ports[i].index, i);
        EXPECT_EQ(ports[i].chip, chips[i]);
        EXPECT_EQ(ports[i].serial, serials[i]);
        EXPECT_EQ(ports[i].description, i == 0 ? "FT232R USB UART" : "Dual RS232-HS");
        EXPECT_EQ(ports[i].bus, 1u);
        EXPECT_EQ(ports[i].address, addresses[i]);
        EXPECT_EQ(ports[i].interfaceLetter, letters[i]);
        EXPECT_EQ(ports[i].selected, i == 3) << i;
    }
    setenv("KOVRA610_BOARD", "virtual", 1);
    installBackend(nullptr);
    ASSERT_TRUE(listFtdiPorts(ports, &error));
    EXPECT_EQ(ports.size(), 5u);
    for (const FtdiPort& port : ports) EXPECT_FALSE(port.selected);
    unsetenv("KOVRA610_BOARD");
}

TEST(BoardSetting, NamesTheBoardOrSaysWhyNot) {
    EXPECT_EQ(parseBoardSetting("").kind, BoardSetting::Kind::Usb);
    EXPECT_EQ(parseBoardSetting("usb").kind, BoardSetting::Kind::Usb);
    EXPECT_EQ(parseBoardSetting("virtual").kind, BoardSetting::Kind::Virtual);
    const BoardSetting chosen = parseBoardSetting("usb:serial=KV610002");
    EXPECT_EQ(chosen.kind, BoardSetting::Kind::Usb);
    EXPECT_EQ(chosen.serial, "KV610002");
    for (const char* bad : {"usb:serial=", "usb:serial=KV 1", "usb:KV1", "USB", "none"}) {
        const BoardSetting s = parseBoardSetting(bad);
        EXPECT_EQ(s.kind, BoardSetting::Kind::Invalid) << bad;
        EXPECT_FALSE(s.reason.empty()) << bad;
    }
    EXPECT_THAT(parseBoardSetting("usb:serial=").reason, HasSubstr("serial number"));
}

TEST_F(UsbDeviceTest, APulledCableFailsEveryCallFastAndAReplugOpensAgain) {
    use("ft2232h:KV610001");
    FT_HANDLE h = openMpsse(0, 16);
    ASSERT_EQ(USB_CONTROL(kovra610_usb_unplug_after)(0, 1), 0);
    const UCHAR badCommand = 0xAB;
    DWORD n = 0;
    EXPECT_EQ(FT_Write(h, const_cast<UCHAR*>(&badCommand), 1, &n), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(h, 5000, 5000), FT_OK);

    // Each call after the pull fails at once, never waiting out a time-out.
    const auto start = std::chrono::steady_clock::now();
    UCHAR buffer[8];
    EXPECT_EQ(FT_Read(h, buffer, 2, &n), FT_IO_ERROR);
    EXPECT_EQ(FT_GetQueueStatus(h, &n), FT_IO_ERROR);
    EXPECT_EQ(FT_Write(h, const_cast<UCHAR*>(&badCommand), 1, &n), FT_IO_ERROR);
    EXPECT_NE(FT_SetLatencyTimer(h, 1), FT_OK);
    EXPECT_EQ(FT_Close(h), FT_IO_ERROR);
    DWORD count = 9;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    ASSERT_EQ(USB_CONTROL(kovra610_usb_replug)(0), 0);
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 2u);
    h = openMpsse(0, 1);
    EXPECT_EQ(FT_Write(h, const_cast<UCHAR*>(&badCommand), 1, &n), FT_OK);
    EXPECT_EQ(collect(h, 2, std::chrono::seconds(1)), (std::vector<UCHAR>{0xFA, 0xAB}));
    EXPECT_EQ(FT_Close(h), FT_OK);
    EXPECT_EQ(USB_CONTROL(kovra610_usb_contexts_made)(), 1);
}

// The bus stops a test that uses libusb wrongly, naming the misuse.
TEST_F(UsbDeviceTest, MisuseOfLibusbEndsTheTestThatCausedIt) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    ASSERT_EQ(USB_CONTROL(kovra610_usb_configure)("ft2232h:KV610001"), 0);
    libusb_context* context = nullptr;
    ASSERT_EQ(libusb_init(&context), 0);
    libusb_device** list = nullptr;
    ASSERT_EQ(libusb_get_device_list(context, &list), 1);
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(libusb_open(list[0], &handle), 0);
    libusb_free_device_list(list, 1);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    unsigned char buffer[512];
    int n = 0;
    EXPECT_DEATH(libusb_bulk_transfer(handle, 0x81, buffer, 512, &n, 0), "time-out of 0");
    EXPECT_DEATH(libusb_bulk_transfer(handle, 0x86, buffer, 512, &n, 10), "endpoint 134");
    EXPECT_DEATH(libusb_bulk_transfer(handle, 0x83, buffer, 512, &n, 10),
                 "interface 1 without claiming it");
    EXPECT_DEATH(libusb_claim_interface(handle, 2), "interface 2, which the device lacks");
    libusb_close(handle);
    EXPECT_DEATH(libusb_bulk_transfer(handle, 0x81, buffer, 512, &n, 10), "closed device handle");
    libusb_exit(context);
    EXPECT_EXIT(
        {
            libusb_context* leaked = nullptr;
            libusb_init(&leaked);
            std::exit(0);
        },
        ::testing::ExitedWithCode(70),
        "1 libusb context\\(s\\) and 0 device handle\\(s\\) still open");
}

}  // namespace
}  // namespace kovra610::d2xx
