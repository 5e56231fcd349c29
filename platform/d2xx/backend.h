// Backends of the D2XX-compatible driver layer.
//
// Every FT_* call of ftd2xx.h forwards to exactly one installed Backend. The
// first call picks one from the environment variable KOVRA610_BOARD:
//   unset or "usb"  the libftdi1 hardware backend (a real FT2232H)
//   "virtual"       the virtual board (emulated FT2232H and KOVRA610)
// Tests install their own with installBackend().
#pragma once

#include "ftd2xx.h"

#include <memory>
#include <string>

namespace kovra610::d2xx {

class Backend {
public:
    virtual ~Backend() = default;

    virtual FT_STATUS createDeviceInfoList(DWORD* count) = 0;
    virtual FT_STATUS open(int index, FT_HANDLE* handle) = 0;
    virtual FT_STATUS close(FT_HANDLE handle) = 0;
    virtual FT_STATUS resetDevice(FT_HANDLE handle) = 0;
    virtual FT_STATUS getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) = 0;
    virtual FT_STATUS read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* returned) = 0;
    virtual FT_STATUS write(FT_HANDLE handle, const void* buffer, DWORD toWrite,
                            DWORD* written) = 0;
    virtual FT_STATUS setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) = 0;
    virtual FT_STATUS setChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled,
                               UCHAR errorChar, UCHAR errorEnabled) = 0;
    virtual FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) = 0;
    virtual FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR ms) = 0;
    virtual FT_STATUS setFlowControl(FT_HANDLE handle, USHORT flow, UCHAR xon, UCHAR xoff) = 0;
    virtual FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) = 0;
};

// Replaces the active backend; returns the one it replaces (may be null if
// none was chosen yet). Passing null makes the next call choose again from
// the environment.
std::shared_ptr<Backend> installBackend(std::shared_ptr<Backend> backend);

// The active backend, chosen from KOVRA610_BOARD on first use.
Backend& activeBackend();

// Backend made from a KOVRA610_BOARD value ("" or "usb", "virtual"). An
// unknown value gives a backend that reports no devices, after one line on
// standard error saying why.
std::shared_ptr<Backend> makeBackendFor(const std::string& boardSetting);

}  // namespace kovra610::d2xx
