// The MPSSE command processor of the FT2232H's port A, driving the low byte
// pins (ADBUS0 clock, ADBUS1 data out, ADBUS2 data in, ADBUS3 TMS/select)
// and the high byte (ACBUS0-7).
//
// Commands are taken byte by byte, so one may span several host writes and
// several may share one. Time runs in ticks of the 60 MHz master clock: each
// command costs kCommandTicks before it acts, and each half period of the
// serial clock lasts (1 + divisor) ticks, five times that with the
// divide-by-5 on.
//
// Edges, as a bus sees them: on an edge both sides sample the levels from
// before it, then the outputs move. Output on the falling edge (opcode bit 0)
// puts the first bit out before the first rising edge and the next one at
// each falling edge; output on the rising edge changes the data at the
// rising edge itself, after the chip has sampled. Input on the falling edge
// (opcode bit 2) samples before the chip moves its output on.
//
// Choices where the FT2232H leaves things open or a board gives no answer:
//  - undriven low-byte pins read 1 (pull-ups); ADBUS2 reads what the chip
//    drives unless the host makes it an output; undriven high-byte pins read 1;
//  - with loopback on, data in (and a GPIO read of ADBUS2) is data out;
//  - TMS commands 0x4A 0x4B 0x6A 0x6B 0x6E 0x6F are carried out (TMS on
//    ADBUS3, bit 7 of the byte held on ADBUS1); other 0x40-0x7F are invalid;
//  - three-phase clocking gives each data bit three half periods (data set
//    up, clock high, hold); clock-only commands are not affected;
//  - the waits on GPIOL1 (0x88, 0x89, 0x94, 0x95) and adaptive clocking
//    (RTCK on ADBUS7) need an answer nothing on this board gives: a wait that
//    is not already met, or any clocked command with adaptive clocking on,
//    stalls the engine, which then holds later bytes until a port reset;
//  - entering MPSSE mode starts from the power-on state: all pins inputs,
//    divide-by-5 on, divisor 0, loopback, three-phase and adaptive off.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "serial_bus_chip.h"
#include "vcd_trace.h"

namespace kovra610::vboard {

class MpsseEngine {
public:
    static constexpr uint64_t kMasterClockHz = 60'000'000;
    static constexpr uint64_t kCommandTicks = 6;
    // Bytes a stalled engine holds, as the chip's transmit buffer would.
    static constexpr std::size_t kHoldLimit = 4096;

    explicit MpsseEngine(SerialBusChip& chip);

    // Back to the power-on state of the MPSSE (pins inputs, default clock),
    // dropping any half-read command and held bytes.
    void powerOn();
    // Drops a half-read command and held bytes, and leaves a stall.
    void purge();
    // Stops driving every pin (the port leaves MPSSE mode).
    void release();

    // An invalid opcode and where its 0xFA answer starts in the replies.
    struct InvalidCommand {
        uint8_t op;
        std::size_t at;
    };

    // Runs `count` bytes of commands; answer bytes are appended to `replies`
    // and each invalid command to `invalid`. Returns how many bytes were
    // taken (fewer than `count` only when a stalled engine's hold is full).
    std::size_t feed(const uint8_t* bytes, std::size_t count, std::vector<uint8_t>& replies,
                     std::vector<InvalidCommand>* invalid = nullptr);

    // Lets `ticks` of master clock pass with nothing happening.
    void idle(uint64_t ticks) { now_ += ticks; }
    uint64_t now() const { return now_; }

    void setTrace(VcdTrace* trace) { trace_ = trace; }

    uint8_t lowValue() const { return lowOut_; }
    uint8_t lowDirection() const { return lowDir_; }
    uint8_t highValue() const { return highOut_; }
    uint8_t highDirection() const { return highDir_; }
    // Levels on ADBUS0-7 as the wire has them.
    uint8_t lowPins() const { return levels_; }
    uint16_t divisor() const { return divisor_; }
    bool divideBy5() const { return divideBy5_; }
    bool threePhase() const { return threePhase_; }
    bool adaptive() const { return adaptive_; }
    bool loopback() const { return loopback_; }
    bool stalled() const { return stalled_; }
    std::size_t heldBytes() const { return held_.size(); }
    uint64_t sendImmediateCount() const { return sendImmediate_; }
    // Serial clock frequency and half period from the divisor and options.
    double serialClockHz() const;
    uint64_t halfPeriodTicks() const;

private:
    struct Shift {
        bool outOnFalling = false;
        bool inOnFalling = false;
        bool lsbFirst = false;
        bool writes = false;
        bool reads = false;
        bool tms = false;
    };

    // A command: its length with operands (0: not a command) and what it does.
    struct Command {
        uint8_t length = 0;
        void (*run)(MpsseEngine&) = nullptr;
    };
    using CommandTable = std::array<Command, 256>;
    static const CommandTable& commands();
    static void addPinCommands(CommandTable& table);
    static void addClockCommands(CommandTable& table);
    static void addShifts(CommandTable& table);

    void step(uint8_t b);
    void execute();
    void badCommand(uint8_t op);
    void stall();

    uint16_t length16() const { return static_cast<uint16_t>(cmd_[1] | (cmd_[2] << 8)); }
    void startShift();
    void shiftTms();
    void shiftBitsNow();
    void shiftBytesIn();

    void applyPins();
    void setLow(uint8_t mask, bool level);
    bool dataIn() const;
    uint8_t readLow() const;
    uint8_t readHigh() const;

    bool clockBit(bool outBit);
    uint8_t shiftBits(uint8_t out, unsigned count);
    void clockPulses(uint64_t count, int stopOnGpioL1);
    bool gpioL1() const { return (levels_ & pins::kReadBackMarker) != 0; }

    SerialBusChip& chip_;
    VcdTrace* trace_ = nullptr;
    std::vector<uint8_t>* replies_ = nullptr;
    std::vector<InvalidCommand>* invalid_ = nullptr;

    uint64_t now_ = 0;
    uint8_t lowOut_ = 0;
    uint8_t lowDir_ = 0;
    uint8_t highOut_ = 0;
    uint8_t highDir_ = 0;
    uint8_t levels_ = 0xFF & ~pins::kDataFromChip;  // pulled up; the chip drives ADBUS2 low
    uint16_t divisor_ = 0;
    bool divideBy5_ = true;
    bool threePhase_ = false;
    bool adaptive_ = false;
    bool loopback_ = false;
    bool stalled_ = false;
    uint64_t sendImmediate_ = 0;

    // The command being gathered.
    uint8_t cmd_[3] = {0, 0, 0};
    std::size_t have_ = 0;
    std::size_t need_ = 0;
    // A byte-mode shift that writes takes its data bytes as they come.
    Shift shift_;
    uint32_t streamLeft_ = 0;
    bool idleClock_ = false;

    std::vector<uint8_t> held_;
};

}  // namespace kovra610::vboard
