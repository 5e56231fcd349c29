// The emulated USB bus behind the test libusb: the devices plugged in, the
// contexts and handles handed out, and the checks on how they are used.
//
// Configured from KOVRA610_USB_DEVICES when the first context is made (or by
// kovra610_usb_configure): a comma-separated list of devices in enumeration
// order, each TYPE[:SERIAL][:OPTION...] with TYPE ft2232h or ft232r and the
// options busy=A, busy=B (that interface's claim fails LIBUSB_ERROR_BUSY),
// unplug-after=N (the cable is pulled after N bulk transfers) and latency=MS
// (every port's latency timer stays at MS, 1 to 255, whatever the host
// sets). Unset means one FT2232H with serial number KV610001; "none" means
// no device.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "emulated_ftdi.h"

namespace kovra610::usbdev {

struct Slot {
    std::unique_ptr<EmulatedFtdi> device;
    bool present = true;
    unsigned plug = 1;  // counts re-plugs; a device object knows its plug
    std::uint8_t address = 0;
    unsigned busyMask = 0;  // bit n: interface n is held by someone else
    long unplugAfter = -1;  // bulk transfers until the cable is pulled
    long bulkTransfers = 0;
};

struct Bus {
    std::vector<Slot> slots;
    bool configured = false;
    std::uint8_t nextAddress = 2;
    int contextsMade = 0;
    int contextsOpen = 0;
    int handlesOpen = 0;
};

Bus& bus();
// Reads the device list; false (and an unchanged bus) for a malformed one.
bool configure(const std::string& spec, std::string* error);
void configureFromEnvironment();
void unplug(Slot& slot);
void replug(Slot& slot);
// Ends the process with one line naming the misuse.
[[noreturn]] void misuse(const std::string& what);

}  // namespace kovra610::usbdev
