// Which board the end-to-end suite runs against.
//
// By default: the emulated FT2232H behind the test libusb (LD_LIBRARY_PATH),
// with KOVRA610_BOARD=usb, and everything the chip model saw can be checked.
// Under the CTest label "hardware" (KOVRA610_E2E_HARDWARE set): the real
// board KOVRA610_TEST_BOARD names ("usb" or "usb:serial=SN"); with none
// named every test is skipped, saying so. Checks that need the chip model
// or the emulated bus are made only on the emulated board.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "usb_device_control.h"

namespace kovra610::usbe2e {

inline bool onHardware() {
    return std::getenv("KOVRA610_E2E_HARDWARE") != nullptr;
}

// The KOVRA610_BOARD value for the run, or "" when the test is to be skipped.
inline std::string boardSetting(std::string* skipReason) {
    if (!onHardware()) {
        if (!usbdev::emulated()) *skipReason = "the emulated USB bus is not in LD_LIBRARY_PATH";
        return usbdev::emulated() ? "usb" : "";
    }
    const char* named = std::getenv("KOVRA610_TEST_BOARD");
    if (named == nullptr || *named == '\0') {
        *skipReason =
            "KOVRA610_TEST_BOARD names no board (set it to usb or usb:serial=SN to run the "
            "hardware suite)";
        return "";
    }
    return named;
}

}  // namespace kovra610::usbe2e

// In SetUp: the board setting into `var`, or the test skipped.
#define KOVRA610_BOARD_UNDER_TEST(var)                 \
    do {                                               \
        std::string why_;                              \
        var = ::kovra610::usbe2e::boardSetting(&why_); \
        if (var.empty()) GTEST_SKIP() << why_;         \
    } while (0)

// For a test that needs the emulated bus (several devices, a pulled cable).
#define KOVRA610_NEEDS_EMULATED_BUS()                                                   \
    do {                                                                                \
        if (::kovra610::usbe2e::onHardware())                                           \
            GTEST_SKIP() << "needs the emulated USB bus; not run against a real board"; \
    } while (0)
