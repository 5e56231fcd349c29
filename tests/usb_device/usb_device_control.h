// What a test can ask of the emulated USB bus. The functions live in the
// test libusb; a test finds them with dlsym, so that the same test also runs
// over the system's libusb and a real board (where they are absent).
//
// Devices are numbered 0, 1 ... in the order KOVRA610_USB_DEVICES lists
// them. Each call returns -1 for a device (or interface) the bus lacks.
#pragma once

#include <dlfcn.h>

extern "C" {
// One word the chip model decoded, by its fields.
struct kovra610_usb_word {
    unsigned ch, addr, rw, data;
};

// Replaces the bus with a new device list (see emulated_bus.h); refused (-1)
// while a handle is open. Also restarts the count of contexts made.
int kovra610_usb_configure(const char* spec);
// libusb contexts made since start (or since the last configure).
int kovra610_usb_contexts_made(void);
int kovra610_usb_handles_open(void);
// The cable: pulled now, pulled after `transfers` more bulk transfers,
// plugged in again (new bus address; the FTDI part starts afresh).
int kovra610_usb_unplug(int device);
int kovra610_usb_unplug_after(int device, long transfers);
int kovra610_usb_replug(int device);
// Interface 0 (A) or 1 (B) held by someone else: a claim fails BUSY.
int kovra610_usb_set_busy(int device, int interface, int busy);
// Bytes that port A sends to the host next, as if the engine had answered.
int kovra610_usb_inject(int device, const unsigned char* bytes, int count);
// The chip model behind port A.
int kovra610_usb_chip_reg(int device, int channel, unsigned addr);
// Its words in order (at most `max` into `words`); returns how many it has.
int kovra610_usb_chip_words(int device, kovra610_usb_word* words, int max);
int kovra610_usb_chip_resets(int device);
// "latency", "bitmode", "bitmode_requests" (set-bit-mode requests since
// plug-in) or "divisor" (port A's MPSSE clock divisor) as the device has it.
int kovra610_usb_port_setting(int device, int interface, const char* name);
}

namespace kovra610::usbdev {

// The control function `name` of the loaded test libusb, or null.
template <typename Function>
Function* control(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_DEFAULT, name));
}

// True when the process runs over the emulated bus.
inline bool emulated() {
    return dlsym(RTLD_DEFAULT, "kovra610_usb_contexts_made") != nullptr;
}

}  // namespace kovra610::usbdev

// Calls a control function through dlsym: USB_CONTROL(kovra610_usb_replug)(0).
#define USB_CONTROL(name) (*::kovra610::usbdev::control<decltype(name)>(#name))
