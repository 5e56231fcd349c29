// The libftdi1 backend: drives a real FT2232H (or another FTDI MPSSE part).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../backend.h"
#include "ftdi_seam.h"

namespace kovra610::d2xx {

// The backend KOVRA610_BOARD=usb selects, on libftdi1. With a serial
// number (KOVRA610_BOARD=usb:serial=SN) it sees only the FT2232H that
// carries it.
std::shared_ptr<Backend> makeHardwareBackend(std::string serial = {});

namespace hw {

using Clock = std::function<std::chrono::steady_clock::time_point()>;

// D2XX queue, time-out and handle semantics on top of an FtdiSeam.
//
// Ports are counted per interface: an FT2232H is two, an FT4232H four, an
// FT232H one; index n walks the devices in enumeration order and their
// interfaces A, B ... within each. Handles are never reused, so a stale or
// foreign handle is refused (FT_INVALID_HANDLE) without touching USB.
// Given a serial number, the backend counts and opens the ports of the
// FT2232H with that serial number only; when none is attached it says so
// in one line and counts no port, as it does when two carry it. Without
// one, the FT2232H whose interface A it opens first is the board from then
// on, seen as if named by its serial number (a board without one is not
// held). A successful open names the device on standard output. One thread
// at a time.
class HardwareBackend final : public Backend {
public:
    // A queue-status query takes what has arrived, without waiting.
    static constexpr int kQueuePollMs = 0;
    // The single poll of a read with time-out 0 waits this long.
    static constexpr int kPollMs = 1;
    // Bytes the receive queue holds at most; beyond that they wait in the
    // device until someone reads.
    static constexpr std::size_t kQueueLimit = 65536;
    // Used for a write time-out of 0, which libusb would take as "forever".
    static constexpr int kDefaultWriteTimeoutMs = 5000;
    // Time-outs a freshly opened port starts with.
    static constexpr ULONG kDefaultReadTimeoutMs = 5000;

    explicit HardwareBackend(std::shared_ptr<FtdiSeam> seam,
                             Clock clock = &std::chrono::steady_clock::now,
                             std::string serial = {});
    ~HardwareBackend() override;

    HardwareBackend(const HardwareBackend&) = delete;
    HardwareBackend& operator=(const HardwareBackend&) = delete;

    KOVRA610_D2XX_BACKEND_CALLS(, override);
    std::string boardName() const override;
    std::string boardSerial() const override { return openedSerial_; }

    // Every FTDI port attached, in enumeration order; `selected` marks the
    // one this backend opens as index 0. False (and `error` set) when the
    // bus cannot be read.
    bool listPorts(std::vector<FtdiPort>& ports, std::string* error);

private:
    struct OpenPort {
        FtdiSeam::Port port = 0;
        UsbDevice device;
        int interfaceIndex = 0;
        ULONG readTimeoutMs = kDefaultReadTimeoutMs;
        bool inResetMode = false;  // the last bit mode set was reset
        std::deque<std::uint8_t> queue;
    };

    OpenPort* find(FT_HANDLE handle);
    // The serial number given, or that of the board held; "" for neither.
    const std::string& chosenSerial() const;
    // The device is an FT2232H with the serial number chosen.
    bool named(const UsbDevice& device) const;
    // The devices this backend counts ports on, in enumeration order; < 0
    // when the bus cannot be read. `report`: say so when a serial number
    // chosen is not attached.
    int usableDevices(std::vector<UsbDevice>& devices, bool report);
    void announce(const UsbDevice& device, int interfaceIndex);
    // One poll of at most pollMs into the port's queue.
    FT_STATUS pollIntoQueue(OpenPort& port, int pollMs);
    FT_STATUS settingResult(int seamResult) const;

    std::shared_ptr<FtdiSeam> seam_;
    Clock clock_;
    std::string serial_;
    std::map<std::uintptr_t, OpenPort> ports_;
    std::string opened_;  // the device last opened, as boardName() gives it
    std::string openedSerial_;
    std::string held_;  // the board plain "usb" opened first, by serial number
};

}  // namespace hw
}  // namespace kovra610::d2xx
