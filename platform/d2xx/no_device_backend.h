// A backend that answers as a machine with no FTDI device attached: the
// count is 0 and every call on a handle fails.
#pragma once

#include "backend.h"

namespace kovra610::d2xx {

// Answers as a machine with no FTDI device attached.
class NoDeviceBackend final : public Backend {
public:
    FT_STATUS createDeviceInfoList(DWORD* count) override {
        if (count == nullptr) return FT_INVALID_PARAMETER;
        *count = 0;
        return FT_OK;
    }
    FT_STATUS open(int, FT_HANDLE*) override { return FT_DEVICE_NOT_FOUND; }
    FT_STATUS close(FT_HANDLE) override { return FT_INVALID_HANDLE; }
    FT_STATUS resetDevice(FT_HANDLE) override { return FT_INVALID_HANDLE; }
    FT_STATUS getQueueStatus(FT_HANDLE, DWORD*) override { return FT_INVALID_HANDLE; }
    FT_STATUS read(FT_HANDLE, void*, DWORD, DWORD*) override { return FT_INVALID_HANDLE; }
    FT_STATUS write(FT_HANDLE, const void*, DWORD, DWORD*) override { return FT_INVALID_HANDLE; }
    FT_STATUS setUSBParameters(FT_HANDLE, ULONG, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS setChars(FT_HANDLE, UCHAR, UCHAR, UCHAR, UCHAR) override {
        return FT_INVALID_HANDLE;
    }
    FT_STATUS setTimeouts(FT_HANDLE, ULONG, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS setLatencyTimer(FT_HANDLE, UCHAR) override { return FT_INVALID_HANDLE; }
    FT_STATUS setFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) override {
        return FT_INVALID_HANDLE;
    }
    FT_STATUS setBitMode(FT_HANDLE, UCHAR, UCHAR) override { return FT_INVALID_HANDLE; }
};

}  // namespace kovra610::d2xx
