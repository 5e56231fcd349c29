#include "virtual_board.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

namespace kovra610::vboard {
namespace {

constexpr std::size_t kInvalidListLimit = 65536;

}  // namespace

std::shared_ptr<d2xx::Backend> makeVirtualBoardBackend(std::string serial) {
    auto board = std::make_shared<VirtualBoard>(std::move(serial));
    const char* tracePath = std::getenv("KOVRA610_BOARD_TRACE");
    if (tracePath != nullptr && tracePath[0] != '\0') {
        std::string error;
        if (!board->startTrace(tracePath, &error)) {
            std::fprintf(stderr,
                         "KOVRA610_BOARD_TRACE: %s; the virtual board runs without a pin trace.\n",
                         error.c_str());
        }
    }
    return board;
}

VirtualBoard::VirtualBoard(std::string serial) : serial_(std::move(serial)), engine_(chip_) {}

VirtualBoard::~VirtualBoard() {
    stopTrace();
}

std::string VirtualBoard::boardName() const {
    return serial_.empty() ? "VIRTUAL" : "VIRTUAL " + serial_;
}

// --- Handles ------------------------------------------------------------------

FT_STATUS VirtualBoard::portFor(FT_HANDLE handle, int& port) const {
    if (faults_.cablePulled()) return FT_IO_ERROR;
    const auto id = reinterpret_cast<uintptr_t>(handle);
    for (int p = 0; p < kPorts; ++p) {
        if (ports_[p].config.open && ports_[p].handle == id && id != 0) {
            port = p;
            return FT_OK;
        }
    }
    return FT_INVALID_HANDLE;
}

// A configuration call's port, unless the handle is bad or a fault fails it.
FT_STATUS VirtualBoard::configure(FT_HANDLE handle, ConfigCall call,
                                  const std::function<void(PortConfig&, bool portA)>& change) {
    int port = 0;
    if (FT_STATUS s = portFor(handle, port); s != FT_OK) return s;
    if (FT_STATUS s = faults_.configFault(call); s != FT_OK) return s;
    change(ports_[port].config, port == 0);
    return FT_OK;
}

void VirtualBoard::forgetHandles() {
    claim_.release();
    for (Port& port : ports_) {
        port.config.open = false;
        port.config.bitMode = FT_BITMODE_RESET;
        port.handle = 0;
    }
}

const PortConfig& VirtualBoard::portConfig(int port) const {
    static const PortConfig kNoPort;
    if (port < 0 || port >= kPorts) return kNoPort;
    return ports_[port].config;
}

FT_STATUS VirtualBoard::createDeviceInfoList(DWORD* count) {
    if (count == nullptr) return FT_INVALID_PARAMETER;
    *count = faults_.devicePresent() && !faults_.cablePulled() ? kPorts : 0;
    return FT_OK;
}

FT_STATUS VirtualBoard::open(int index, FT_HANDLE* handle) {
    if (handle == nullptr) return FT_INVALID_PARAMETER;
    if (!faults_.devicePresent() || faults_.cablePulled() || index < 0 || index >= kPorts) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (FT_STATUS s = faults_.openFault(); s != FT_OK) return s;
    Port& port = ports_[index];
    if (port.config.open) return FT_DEVICE_NOT_OPENED;
    if (index == 0 && !serial_.empty()) {
        std::string why;
        if (!claim_.take(serial_, &why)) {
            d2xx::reportBoardProblem("KOVRA610_BOARD=virtual:serial=" + serial_ +
                                     ": the virtual board cannot be opened: " + why);
            return FT_DEVICE_NOT_OPENED;
        }
        std::printf("Opened virtual FT2232H \"%s\" serial %s, interface A\n",
                    kVirtualBoardDescription, serial_.c_str());
    }
    const unsigned opens = port.config.openCount + 1;
    const unsigned resets = port.config.resetCount;
    port.config = PortConfig{};
    port.config.open = true;
    port.config.openCount = opens;
    port.config.resetCount = resets;
    port.handle = nextHandle_;
    nextHandle_ += 0x10;
    if (index == 0) engine_.release();
    *handle = reinterpret_cast<FT_HANDLE>(port.handle);
    return FT_OK;
}

FT_STATUS VirtualBoard::close(FT_HANDLE handle) {
    const auto id = reinterpret_cast<uintptr_t>(handle);
    for (int p = 0; p < kPorts; ++p) {
        Port& port = ports_[p];
        if (!port.config.open || port.handle != id || id == 0) continue;
        port.config.open = false;
        port.config.bitMode = FT_BITMODE_RESET;
        port.handle = 0;
        if (p == 0) {
            engine_.release();
            claim_.release();
        }
        return faults_.cablePulled() ? FT_IO_ERROR : FT_OK;
    }
    return faults_.cablePulled() ? FT_IO_ERROR : FT_INVALID_HANDLE;
}

FT_STATUS VirtualBoard::resetDevice(FT_HANDLE handle) {
    return configure(handle, ConfigCall::ResetDevice, [this](PortConfig& c, bool portA) {
        ++c.resetCount;
        if (portA) {
            queue_.clear();
            engine_.purge();
        }
    });
}

// --- Receive queue ------------------------------------------------------------

std::size_t VirtualBoard::visibleBytes(std::chrono::steady_clock::time_point now) const {
    std::size_t n = 0;
    for (const QueuedByte& b : queue_) {
        if (b.visibleAtQuery > queries_ || b.visibleAt > now) break;
        ++n;
    }
    return n;
}

std::chrono::steady_clock::time_point VirtualBoard::arrival() const {
    if (latency_.count() <= 0) return {};
    return std::chrono::steady_clock::now() + latency_;
}

void VirtualBoard::enqueue(uint8_t value, uint64_t visibleAtQuery,
                           std::chrono::steady_clock::time_point at) {
    if (queue_.size() >= kQueueLimit) {
        ++dropped_;
        return;
    }
    queue_.push_back(QueuedByte{value, visibleAtQuery, at});
}

FT_STATUS VirtualBoard::getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    int port = 0;
    if (FT_STATUS s = portFor(handle, port); s != FT_OK) return s;
    if (rxBytes == nullptr) return FT_INVALID_PARAMETER;
    if (port != 0) {
        *rxBytes = 0;
        return FT_OK;
    }
    ++queries_;
    *rxBytes = static_cast<DWORD>(visibleBytes(std::chrono::steady_clock::now()));
    return FT_OK;
}

FT_STATUS VirtualBoard::read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* returned) {
    int port = 0;
    if (FT_STATUS s = portFor(handle, port); s != FT_OK) return s;
    if (returned == nullptr || (buffer == nullptr && toRead > 0)) return FT_INVALID_PARAMETER;
    *returned = 0;
    if (port != 0 || toRead == 0) return FT_OK;

    using Clock = std::chrono::steady_clock;
    auto now = Clock::now();
    std::size_t visible = visibleBytes(now);
    const ULONG timeoutMs = ports_[0].config.readTimeoutMs;
    if (visible < toRead && timeoutMs > 0 && latency_.count() > 0) {
        // Wait, within the time-out, for bytes still on their way.
        const auto deadline = now + std::chrono::milliseconds(timeoutMs);
        while (visible < toRead && visible < queue_.size() && now < deadline) {
            const QueuedByte& next = queue_[visible];
            if (next.visibleAtQuery > queries_) break;
            std::this_thread::sleep_until(std::min(next.visibleAt, deadline));
            now = Clock::now();
            visible = visibleBytes(now);
        }
    }
    const std::size_t n = std::min<std::size_t>(visible, toRead);
    auto* out = static_cast<uint8_t*>(buffer);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = queue_.front().value;
        queue_.pop_front();
    }
    *returned = static_cast<DWORD>(n);
    return FT_OK;
}

// --- Writes -------------------------------------------------------------------

void VirtualBoard::deliver() {
    const std::size_t count = replies_.size();
    // Per byte: when it becomes visible (0: at once) and whether it is lost.
    std::vector<uint64_t> visibleAt(count, 0);
    std::vector<bool> lost(count, false);
    for (const auto& bad : invalidNow_) {
        if (invalid_.size() < kInvalidListLimit) invalid_.push_back(bad.op);
    }
    faults_.shapeReply(invalidNow_, visibleAt, lost);
    // One reply arrives as a whole.
    const auto at = arrival();
    for (std::size_t i = 0; i < count; ++i) {
        if (!lost[i]) enqueue(replies_[i], visibleAt[i], at);
    }
}

FT_STATUS VirtualBoard::write(FT_HANDLE handle, const void* buffer, DWORD toWrite, DWORD* written) {
    int port = 0;
    if (FT_STATUS s = portFor(handle, port); s != FT_OK) return s;
    if (written == nullptr || (buffer == nullptr && toWrite > 0)) return FT_INVALID_PARAMETER;
    *written = 0;
    if (port != 0) {
        *written = toWrite;
        return FT_OK;
    }
    ++writes_;
    if (FT_STATUS s = faults_.writeFault(); s != FT_OK) {
        faults_.afterWrite();
        return s;
    }
    FT_STATUS status = FT_OK;
    if (ports_[0].config.bitMode != FT_BITMODE_MPSSE) {
        *written = toWrite;  // not commands: nothing listens
    } else {
        engine_.idle(kUsbGapTicks);
        replies_.clear();
        invalidNow_.clear();
        const std::size_t taken =
            engine_.feed(static_cast<const uint8_t*>(buffer), toWrite, replies_, &invalidNow_);
        deliver();
        *written = static_cast<DWORD>(taken);
        if (taken < toWrite) status = FT_IO_ERROR;  // a stalled engine's buffer is full
    }
    faults_.afterWrite();
    return status;
}

// --- Configuration ------------------------------------------------------------

FT_STATUS VirtualBoard::setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    return configure(handle, ConfigCall::SetUSBParameters, [&](PortConfig& c, bool) {
        c.inTransferSize = inSize;
        c.outTransferSize = outSize;
    });
}

FT_STATUS VirtualBoard::setChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled,
                                 UCHAR errorChar, UCHAR errorEnabled) {
    return configure(handle, ConfigCall::SetChars, [&](PortConfig& c, bool) {
        c.eventChar = eventChar;
        c.eventCharEnabled = eventEnabled;
        c.errorChar = errorChar;
        c.errorCharEnabled = errorEnabled;
    });
}

FT_STATUS VirtualBoard::setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return configure(handle, ConfigCall::SetTimeouts, [&](PortConfig& c, bool) {
        c.readTimeoutMs = readMs;
        c.writeTimeoutMs = writeMs;
    });
}

FT_STATUS VirtualBoard::setLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    return configure(handle, ConfigCall::SetLatencyTimer,
                     [&](PortConfig& c, bool) { c.latencyTimerMs = ms; });
}

FT_STATUS VirtualBoard::setFlowControl(FT_HANDLE handle, USHORT flow, UCHAR xon, UCHAR xoff) {
    return configure(handle, ConfigCall::SetFlowControl, [&](PortConfig& c, bool) {
        c.flowControl = flow;
        c.xon = xon;
        c.xoff = xoff;
    });
}

FT_STATUS VirtualBoard::setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    return configure(handle, ConfigCall::SetBitMode, [&](PortConfig& c, bool portA) {
        c.bitMask = mask;
        c.bitMode = mode;
        if (!portA) return;
        if (mode == FT_BITMODE_MPSSE) {
            engine_.powerOn();
        } else {
            engine_.release();
        }
    });
}

// --- Time ---------------------------------------------------------------------

double VirtualBoard::elapsedSeconds() const {
    return static_cast<double>(engine_.now()) / static_cast<double>(MpsseEngine::kMasterClockHz);
}

void VirtualBoard::idle(std::chrono::nanoseconds span) {
    if (span.count() <= 0) return;
    const auto ns = static_cast<uint64_t>(span.count());  // at most ~292 years: no overflow
    engine_.idle(ns / 1000 * 60 + ns % 1000 * 60 / 1000);
}

// --- Trace --------------------------------------------------------------------

bool VirtualBoard::startTrace(const std::string& path, std::string* error) {
    std::string why;
    if (!trace_.open(path, engine_.now(), engine_.lowPins(), why)) {
        if (error != nullptr) *error = why;
        return false;
    }
    engine_.setTrace(&trace_);
    return true;
}

bool VirtualBoard::stopTrace() {
    engine_.setTrace(nullptr);
    return trace_.close(engine_.now());
}

}  // namespace kovra610::vboard
