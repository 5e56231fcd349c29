// The virtual board: an emulated FT2232H whose port A runs an MPSSE engine
// wired to a model of the KOVRA610's serial bus.
//
// KOVRA610_BOARD=virtual makes one with makeVirtualBoardBackend(). A test
// makes its own and installs it, keeping a pointer to look inside:
//
//     auto board = std::make_shared<kovra610::vboard::VirtualBoard>();
//     kovra610::d2xx::installBackend(board);
//     ... FT_* calls, or the program itself ...
//     EXPECT_EQ(board->chip().reg(0, 0x1D), 12);
//
// The FT2232H:
//  - two ports: device count 2; index 0 is port A (MPSSE), index 1 port B,
//    which accepts open, close and configuration and ignores data;
//  - a port opens once at a time (a second open gives FT_DEVICE_NOT_OPENED);
//    handles are never reused, so a stale one gives FT_INVALID_HANDLE;
//  - configuration calls are accepted and remembered (portConfig());
//  - in bit mode 0x00 written bytes are dropped; from mode 0x02 on they are
//    MPSSE commands; other modes are remembered and their data dropped;
//    entering mode 0x02 starts the MPSSE from its power-on state; closing a
//    port returns it to mode 0x00 and stops it driving the pins;
//  - FT_ResetDevice empties the receive queue and drops a half-read command;
//  - the receive queue holds only answer bytes (no USB status bytes); the
//    count and the bytes come whole and in order. A reply becomes visible
//    after the reply latency (0 by default); FT_Read takes only visible
//    bytes, waiting for more up to the read time-out (0: no waiting) and
//    returning FT_OK with fewer bytes when they do not come;
//  - send immediate is counted; replies are not held back without it;
//  - a board given a serial number (virtual:serial=NAME) stands in for a
//    real board of that serial number: port A is held by one process at a
//    time (an open while another process holds it gives
//    FT_DEVICE_NOT_OPENED, with one line on standard error), and its open
//    names the board on standard output as a real board's does.
//
// The chip model, the MPSSE engine and the faults the board can show are
// described in serial_bus_chip.h, mpsse_engine.h (edges, pulled-up pins, TMS
// commands, stalls) and fault_injector.h; the board hands each of them out.
//
// Time: the engine keeps its own clock in ticks of the 60 MHz master clock.
// Each host write to port A first lets kUsbGapTicks (125 us, one USB
// microframe) pass; each command then costs MpsseEngine::kCommandTicks and
// each serial clock its period. The pin trace uses that clock.
//
// One thread at a time, as the D2XX driver layer.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../backend.h"
#include "board_claim.h"
#include "fault_injector.h"
#include "mpsse_engine.h"
#include "serial_bus_chip.h"
#include "vcd_trace.h"

namespace kovra610::vboard {

// The virtual board's USB description, as a real board's is "Dual RS232-HS".
inline constexpr char kVirtualBoardDescription[] = "KOVRA610 virtual board";

// A fresh virtual board as a driver backend (what KOVRA610_BOARD=virtual or
// virtual:serial=NAME selects). Honours KOVRA610_BOARD_TRACE=FILE.vcd: the
// pin trace is written from the start; a file that cannot be made, or one
// another board is writing, gives one line on standard error and the board
// runs without a trace.
std::shared_ptr<d2xx::Backend> makeVirtualBoardBackend(std::string serial = {});

// What the last configuration calls on a port set.
struct PortConfig {
    bool open = false;
    unsigned openCount = 0;
    unsigned resetCount = 0;
    ULONG inTransferSize = 4096;
    ULONG outTransferSize = 4096;
    UCHAR eventChar = 0;
    UCHAR eventCharEnabled = 0;
    UCHAR errorChar = 0;
    UCHAR errorCharEnabled = 0;
    ULONG readTimeoutMs = 0;
    ULONG writeTimeoutMs = 0;
    UCHAR latencyTimerMs = 16;
    USHORT flowControl = FT_FLOW_NONE;
    UCHAR xon = 0;
    UCHAR xoff = 0;
    UCHAR bitMask = 0;
    UCHAR bitMode = FT_BITMODE_RESET;
};

class VirtualBoard : public d2xx::Backend {
public:
    static constexpr int kPorts = 2;
    static constexpr uint64_t kUsbGapTicks = 7500;  // 125 us of master clock
    // The receive queue drops bytes beyond this (counted in droppedReplyBytes()).
    static constexpr std::size_t kQueueLimit = std::size_t{1} << 20;

    explicit VirtualBoard(std::string serial = {});
    ~VirtualBoard() override;
    VirtualBoard(const VirtualBoard&) = delete;
    VirtualBoard& operator=(const VirtualBoard&) = delete;

    // d2xx::Backend
    KOVRA610_D2XX_BACKEND_CALLS(, override);
    // "VIRTUAL", or "VIRTUAL NAME" for a board given a serial number.
    std::string boardName() const override;
    std::string boardSerial() const override { return serial_; }
    const std::string& serial() const { return serial_; }

    // --- The chip, the MPSSE engine of port A and the faults ---------------
    SerialBusChip& chip() { return chip_; }
    const SerialBusChip& chip() const { return chip_; }
    MpsseEngine& engine() { return engine_; }
    const MpsseEngine& engine() const { return engine_; }
    FaultInjector& faults() { return faults_; }
    const FaultInjector& faults() const { return faults_; }

    // Opcodes answered as invalid (0xFA op), in order.
    const std::vector<uint8_t>& invalidCommands() const { return invalid_; }
    // The engine clock in seconds.
    double elapsedSeconds() const;
    // Lets time pass on the engine clock (a host wait the board cannot see).
    void idle(std::chrono::nanoseconds span);

    // --- Ports and the receive queue ----------------------------------------
    const PortConfig& portConfig(int port) const;
    UCHAR bitMode(int port = 0) const { return portConfig(port).bitMode; }
    // Bytes in port A's receive queue, visible or not yet.
    std::size_t queuedBytes() const { return queue_.size(); }
    uint64_t droppedReplyBytes() const { return dropped_; }
    // Time from a reply's making to its being visible to the host.
    void setReplyLatency(std::chrono::microseconds latency) { latency_ = latency; }
    std::chrono::microseconds replyLatency() const { return latency_; }
    // FT_Write calls on port A so far, and FT_GetQueueStatus calls.
    uint64_t writeCalls() const { return writes_; }
    uint64_t queueQueries() const { return queries_; }

    // --- Pin trace -----------------------------------------------------------
    // Writes every change of ADBUS0-7 to a VCD file from now on. False, with
    // the reason in `error`, when the file cannot be made or a trace runs.
    bool startTrace(const std::string& path, std::string* error = nullptr);
    // Ends the trace and closes the file; false if writing it failed.
    bool stopTrace();
    bool tracing() const { return trace_.isOpen(); }

private:
    friend class FaultInjector;

    struct QueuedByte {
        uint8_t value;
        uint64_t visibleAtQuery;  // queue query count from which it is visible
        std::chrono::steady_clock::time_point visibleAt;
    };
    struct Port {
        PortConfig config;
        uintptr_t handle = 0;
    };

    FT_STATUS portFor(FT_HANDLE handle, int& port) const;
    // Runs a configuration call on the port of `handle`: refused when the
    // handle is not open or a fault is set for the call, else `change` sets
    // the port's configuration (portA tells the MPSSE port).
    FT_STATUS configure(FT_HANDLE handle, ConfigCall call,
                        const std::function<void(PortConfig&, bool portA)>& change);
    void deliver();
    std::chrono::steady_clock::time_point arrival() const;
    void enqueue(uint8_t value, uint64_t visibleAtQuery, std::chrono::steady_clock::time_point at);
    std::size_t visibleBytes(std::chrono::steady_clock::time_point now) const;
    void forgetHandles();

    std::string serial_;
    BoardClaim claim_;
    SerialBusChip chip_;
    MpsseEngine engine_;
    VcdTrace trace_;
    Port ports_[kPorts];
    uintptr_t nextHandle_ = 0x4B610;

    std::deque<QueuedByte> queue_;
    std::vector<uint8_t> replies_;
    std::vector<MpsseEngine::InvalidCommand> invalidNow_;
    std::vector<uint8_t> invalid_;
    std::chrono::microseconds latency_{0};
    uint64_t writes_ = 0;
    uint64_t queries_ = 0;
    uint64_t dropped_ = 0;

    FaultInjector faults_{*this};
};

}  // namespace kovra610::vboard
