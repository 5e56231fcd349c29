// The faults a virtual board can be told to show, each seen through the
// D2XX operations.
//
// Every count runs from the moment of the call: "the nth write" is the nth
// FT_Write on port A from now on, 1 the next one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "../ftd2xx.h"
#include "mpsse_engine.h"

namespace kovra610::vboard {

class VirtualBoard;

// The configuration calls of the D2XX layer.
enum class ConfigCall {
    ResetDevice,
    SetUSBParameters,
    SetChars,
    SetTimeouts,
    SetLatencyTimer,
    SetFlowControl,
    SetBitMode,
};

// What can go wrong with the echo of the link's echo probe (0xAB).
enum class EchoFault {
    None,
    Missing,  // 0xFA 0xAB never arrives
    Split,    // 0xFA is waiting at the next queue query, 0xAB only at the one after
};

class FaultInjector {
public:
    static constexpr unsigned kAlways = std::numeric_limits<unsigned>::max();

    explicit FaultInjector(VirtualBoard& board) : board_(board) {}
    FaultInjector(const FaultInjector&) = delete;
    FaultInjector& operator=(const FaultInjector&) = delete;

    // No FTDI device attached: count 0, FT_Open fails with FT_DEVICE_NOT_FOUND.
    void setDevicePresent(bool present) { present_ = present; }
    bool devicePresent() const { return present_; }
    // The next `times` FT_Open calls fail with `status`.
    void failOpen(FT_STATUS status, unsigned times = 1);
    // The next `times` calls of `call` fail with `status` and change nothing.
    void failConfigCall(ConfigCall call, FT_STATUS status, unsigned times = 1);
    // The nth write fails with `status`; nothing reaches the engine.
    void failWrite(unsigned nth, FT_STATUS status = FT_IO_ERROR);
    // After the nth write has run, `bytes` appear in the receive queue (0:
    // at once).
    void injectStrayBytes(unsigned afterNthWrite, std::vector<uint8_t> bytes);
    // The next `times` echoes of the echo probe go wrong as `fault` says.
    void setEchoFault(EchoFault fault, unsigned times = 1);
    // The next write that makes reply bytes delivers only the first `keep`;
    // the rest are lost.
    void shortenNextReply(std::size_t keep);
    // The next write that makes reply bytes delivers its first `onTime`
    // bytes as usual and the rest only after `queries` more queue queries.
    void delayNextReply(unsigned queries, std::size_t onTime = 0);
    // The cable is pulled now, or right after the nth write has run (0: now):
    // from then on the count is 0, FT_Open gives FT_DEVICE_NOT_FOUND and
    // every call on a handle FT_IO_ERROR (FT_Close still frees the handle).
    void pullCable();
    void pullCableAfterWrite(unsigned nth);
    // Plugged in again: the device is found and may be opened anew; handles
    // from before stay dead.
    void plugCable();
    bool cablePulled() const { return pulled_; }
    // Every pending fault removed (device present, cable in).
    void clearFaults();

private:
    friend class VirtualBoard;

    struct WriteFault {
        uint64_t atWrite;
        FT_STATUS status;
    };
    struct StrayBytes {
        uint64_t afterWrite;
        std::vector<uint8_t> bytes;
    };

    // What the board asks at each call: the status a fault gives this call
    // (FT_OK: none).
    FT_STATUS openFault();
    FT_STATUS configFault(ConfigCall call);
    FT_STATUS writeFault();
    // After each write on port A has run.
    void afterWrite();
    // Marks the bytes of the reply a write made that are lost, and the
    // queue query from which the others are visible.
    void shapeReply(const std::vector<MpsseEngine::InvalidCommand>& invalid,
                    std::vector<uint64_t>& visibleAt, std::vector<bool>& lost);

    VirtualBoard& board_;
    bool present_ = true;
    bool pulled_ = false;
    FT_STATUS openFailure_ = FT_OK;
    unsigned openFailures_ = 0;
    FT_STATUS configFailure_[7] = {};
    unsigned configFailures_[7] = {};
    std::vector<WriteFault> writeFaults_;
    std::vector<StrayBytes> strays_;
    EchoFault echoFault_ = EchoFault::None;
    unsigned echoFaults_ = 0;
    bool replyFault_ = false;
    std::size_t replyOnTime_ = 0;
    unsigned replyDelayQueries_ = 0;
    bool replyDropRest_ = false;
    uint64_t pullAfterWrite_ = 0;
};

}  // namespace kovra610::vboard
