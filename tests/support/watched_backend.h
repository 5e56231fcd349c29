// A backend that hands every driver call on to another one and lets a test
// or benchmark look on: `seen` runs before each call with the call's name.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "platform/d2xx/backend.h"

namespace kovra610::testing {

class WatchedBackend : public d2xx::Backend {
public:
    using Watcher = std::function<void(const char* call)>;

    WatchedBackend(std::shared_ptr<d2xx::Backend> inner, Watcher seen)
        : inner_(std::move(inner)), seen_(std::move(seen)) {}

    std::string boardName() const override { return inner_->boardName(); }
    std::string boardSerial() const override { return inner_->boardSerial(); }

    FT_STATUS createDeviceInfoList(DWORD* count) override {
        return see("createDeviceInfoList"), inner_->createDeviceInfoList(count);
    }
    FT_STATUS open(int index, FT_HANDLE* handle) override {
        return see("open"), inner_->open(index, handle);
    }
    FT_STATUS close(FT_HANDLE handle) override { return see("close"), inner_->close(handle); }
    FT_STATUS resetDevice(FT_HANDLE handle) override {
        return see("resetDevice"), inner_->resetDevice(handle);
    }
    FT_STATUS getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) override {
        return see("getQueueStatus"), inner_->getQueueStatus(handle, rxBytes);
    }
    FT_STATUS read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* returned) override {
        return see("read"), inner_->read(handle, buffer, toRead, returned);
    }
    FT_STATUS write(FT_HANDLE handle, const void* buffer, DWORD toWrite, DWORD* written) override {
        return see("write"), inner_->write(handle, buffer, toWrite, written);
    }
    FT_STATUS setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) override {
        return see("setUSBParameters"), inner_->setUSBParameters(handle, inSize, outSize);
    }
    FT_STATUS setChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled, UCHAR errorChar,
                       UCHAR errorEnabled) override {
        return see("setChars"),
               inner_->setChars(handle, eventChar, eventEnabled, errorChar, errorEnabled);
    }
    FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) override {
        return see("setTimeouts"), inner_->setTimeouts(handle, readMs, writeMs);
    }
    FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR ms) override {
        return see("setLatencyTimer"), inner_->setLatencyTimer(handle, ms);
    }
    FT_STATUS setFlowControl(FT_HANDLE handle, USHORT flow, UCHAR xon, UCHAR xoff) override {
        return see("setFlowControl"), inner_->setFlowControl(handle, flow, xon, xoff);
    }
    FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) override {
        return see("setBitMode"), inner_->setBitMode(handle, mask, mode);
    }

private:
    void see(const char* call) {
        if (seen_) seen_(call);
    }
    std::shared_ptr<d2xx::Backend> inner_;
    Watcher seen_;
};

}  // namespace kovra610::testing
