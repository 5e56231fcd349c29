// The serial bus to the KOVRA610 and the FT2232H MPSSE commands that carry
// it, named once for the link, the virtual board and their tests.
//
//  - kovra610::mpsse: the MPSSE command bytes by their published names, the
//    data-shift opcodes built from their bit fields, and small builders of
//    whole commands (opcode and operands).
//  - kovra610::sbus: the 26-bit serial-bus word (fields, pack, unpack, the
//    byte split of the shift commands), the board's pins on ADBUS0-7, the
//    low-byte states the link drives, and the command streams of one word.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace kovra610::mpsse {

using Byte = uint8_t;

// --- Data shifts -------------------------------------------------------------
// A data-shift opcode is made of these bits. Clock, data out and data in
// are ADBUS0, ADBUS1 and ADBUS2; TMS shifts clock ADBUS3 instead of data out.
inline constexpr Byte kOutOnFalling = 0x01;  // data out changes on the falling edge
inline constexpr Byte kBitMode = 0x02;       // a count of bits, not of bytes
inline constexpr Byte kInOnFalling = 0x04;   // data in is sampled on the falling edge
inline constexpr Byte kLsbFirst = 0x08;      // least significant bit first
inline constexpr Byte kWrite = 0x10;         // clock data out
inline constexpr Byte kRead = 0x20;          // clock data in
inline constexpr Byte kTms = 0x40;           // clock TMS out (with kLsbFirst | kBitMode)
inline constexpr Byte kShiftBits =
    kOutOnFalling | kBitMode | kInOnFalling | kLsbFirst | kWrite | kRead;

// An opcode from 0x10 to 0x3F: a data shift out, in, or both.
constexpr bool isDataShift(Byte op) {
    return (op & ~kShiftBits) == 0 && (op & (kWrite | kRead)) != 0;
}

// The six TMS shifts: out, or out with data in, on either edge.
constexpr bool isTmsShift(Byte op) {
    constexpr Byte kBase = kTms | kLsbFirst | kBitMode;
    constexpr Byte kVariants[] = {0,
                                  kOutOnFalling,
                                  kRead,
                                  kRead | kOutOnFalling,
                                  kRead | kInOnFalling,
                                  kRead | kInOnFalling | kOutOnFalling};
    for (Byte v : kVariants) {
        if (op == (kBase | v)) return true;
    }
    return false;
}

// The shifts the serial bus uses: MSB first, data out on the falling edge,
// data in sampled on the falling edge.
inline constexpr Byte kShiftBytesOut = kWrite | kOutOnFalling;            // 0x11
inline constexpr Byte kShiftBitsOut = kWrite | kBitMode | kOutOnFalling;  // 0x13
inline constexpr Byte kShiftBytesIn = kRead | kInOnFalling;               // 0x24
inline constexpr Byte kShiftBitsIn = kRead | kBitMode | kInOnFalling;     // 0x26

// --- Other commands ----------------------------------------------------------
inline constexpr Byte kSetLowByte = 0x80;    // value, direction of ADBUS0-7
inline constexpr Byte kReadLowByte = 0x81;   // answers the levels of ADBUS0-7
inline constexpr Byte kSetHighByte = 0x82;   // value, direction of ACBUS0-7
inline constexpr Byte kReadHighByte = 0x83;  // answers the levels of ACBUS0-7
inline constexpr Byte kLoopbackOn = 0x84;    // data out connected to data in
inline constexpr Byte kLoopbackOff = 0x85;
inline constexpr Byte kSetClockDivisor = 0x86;   // divisor low, high
inline constexpr Byte kSendImmediate = 0x87;     // flush answer bytes to the host
inline constexpr Byte kWaitOnIoHigh = 0x88;      // wait until GPIOL1 (ADBUS5) is high
inline constexpr Byte kWaitOnIoLow = 0x89;       // wait until GPIOL1 is low
inline constexpr Byte kDisableDivideBy5 = 0x8A;  // 60 MHz master clock
inline constexpr Byte kEnableDivideBy5 = 0x8B;   // 12 MHz master clock
inline constexpr Byte kEnableThreePhase = 0x8C;
inline constexpr Byte kDisableThreePhase = 0x8D;
inline constexpr Byte kClockPulses = 0x8E;             // n - 1: n clocks, no data
inline constexpr Byte kClockBytePulses = 0x8F;         // n - 1 (16 bits): 8n clocks, no data
inline constexpr Byte kClockUntilIoHigh = 0x94;        // clock until GPIOL1 is high
inline constexpr Byte kClockUntilIoLow = 0x95;         // clock until GPIOL1 is low
inline constexpr Byte kEnableAdaptiveClocking = 0x96;  // wait for RTCK on ADBUS7
inline constexpr Byte kDisableAdaptiveClocking = 0x97;
inline constexpr Byte kClockBytesUntilIoHigh = 0x9C;  // 8n clocks or until GPIOL1 high
inline constexpr Byte kClockBytesUntilIoLow = 0x9D;   // 8n clocks or until GPIOL1 low

// Any byte that is not a command is answered with this and the byte.
inline constexpr Byte kBadCommandAnswer = 0xFA;

// --- Whole commands ----------------------------------------------------------
template <std::size_t N>
using Command = std::array<Byte, N>;

// Counts go out as count minus 1, 16-bit ones low byte first.
constexpr Byte countLow(unsigned count) {
    return static_cast<Byte>((count - 1) & 0xFFu);
}
constexpr Byte countHigh(unsigned count) {
    return static_cast<Byte>(((count - 1) >> 8) & 0xFFu);
}

// A pin byte's levels and directions (bit set: an output).
struct PinState {
    Byte value;
    Byte direction;
};

constexpr Command<3> setLowByte(PinState s) {
    return {kSetLowByte, s.value, s.direction};
}
constexpr Command<3> setHighByte(PinState s) {
    return {kSetHighByte, s.value, s.direction};
}
// Only the low 16 bits of the divisor are sent.
constexpr Command<3> setClockDivisor(unsigned divisor) {
    return {kSetClockDivisor, static_cast<Byte>(divisor & 0xFFu),
            static_cast<Byte>((divisor >> 8) & 0xFFu)};
}
// `count` clock pulses (1 to 8) with no data.
constexpr Command<2> clockPulses(unsigned count) {
    return {kClockPulses, countLow(count)};
}
// 8 x `groups` clock pulses with no data.
constexpr Command<3> clockBytePulses(unsigned groups) {
    return {kClockBytePulses, countLow(groups), countHigh(groups)};
}
// Headers of the shifts; the bytes to send follow a shift out.
constexpr Command<3> shiftBytesOut(unsigned count) {
    return {kShiftBytesOut, countLow(count), countHigh(count)};
}
constexpr Command<2> shiftBitsOut(unsigned count) {
    return {kShiftBitsOut, countLow(count)};
}
constexpr Command<3> shiftBytesIn(unsigned count) {
    return {kShiftBytesIn, countLow(count), countHigh(count)};
}
constexpr Command<2> shiftBitsIn(unsigned count) {
    return {kShiftBitsIn, countLow(count)};
}

// Several commands as one stream.
template <std::size_t... N>
constexpr std::array<Byte, (N + ...)> join(const std::array<Byte, N>&... parts) {
    std::array<Byte, (N + ...)> out{};
    std::size_t at = 0;
    ((std::copy(parts.begin(), parts.end(), out.begin() + at), at += N), ...);
    return out;
}

}  // namespace kovra610::mpsse

namespace kovra610::sbus {

using mpsse::Byte;
using mpsse::PinState;

// --- The 26-bit word ---------------------------------------------------------
// Sent MSB first: bits 25-24 channel select, 23-17 register address, 16
// read/write (1 write, 0 read), 15-0 data. An answer word has the same
// layout.
inline constexpr unsigned kWordBits = 26;

struct Field {
    unsigned low;   // lowest bit in the word
    uint32_t mask;  // the field's bits, shifted down
};
inline constexpr Field kChannel{24, 0x3u};
inline constexpr Field kAddress{17, 0x7Fu};
inline constexpr Field kReadWrite{16, 0x1u};
inline constexpr Field kData{0, 0xFFFFu};

// A field's value in a word, and a value placed in its field (bits beyond
// the field's width are dropped).
constexpr uint32_t fieldOf(uint32_t word, Field f) {
    return (word >> f.low) & f.mask;
}
constexpr uint32_t place(uint32_t value, Field f) {
    return (value & f.mask) << f.low;
}

// A word split into its fields.
struct Word {
    uint32_t ch = 0;    // channel select: 1 channel 0, 2 channel 1, 3 both
    uint32_t addr = 0;  // register address
    uint32_t rw = 0;    // 1 write, 0 read
    uint32_t data = 0;
    constexpr bool operator==(const Word&) const = default;
};

constexpr uint32_t pack(const Word& w) {
    return place(w.ch, kChannel) | place(w.addr, kAddress) | place(w.rw, kReadWrite) |
           place(w.data, kData);
}
constexpr Word unpack(uint32_t word) {
    return Word{fieldOf(word, kChannel), fieldOf(word, kAddress), fieldOf(word, kReadWrite),
                fieldOf(word, kData)};
}

// The word's bytes for the shift commands: S1 to S3 are bits 25-2, S4 holds
// bits 1-0 in its bits 7-6.
using Split = std::array<Byte, 4>;
constexpr Split split(uint32_t word) {
    return {static_cast<Byte>(word >> 18), static_cast<Byte>(word >> 10),
            static_cast<Byte>(word >> 2), static_cast<Byte>((word & 0x3u) << 6)};
}

// --- Pins (bit n = ADBUSn) ---------------------------------------------------
namespace pins {
inline constexpr Byte kClock = 0x01;           // ADBUS0, serial clock to the chip; idles low
inline constexpr Byte kDataToChip = 0x02;      // ADBUS1
inline constexpr Byte kDataFromChip = 0x04;    // ADBUS2, driven by the chip
inline constexpr Byte kSelect = 0x08;          // ADBUS3, chip select, active low
inline constexpr Byte kReset = 0x10;           // ADBUS4, chip reset, active low
inline constexpr Byte kReadBackMarker = 0x20;  // ADBUS5 (GPIOL1 of the MPSSE)
inline constexpr Byte kCommandMarker = 0x40;   // ADBUS6
inline constexpr Byte kSpare = 0x80;           // ADBUS7 (RTCK of the MPSSE), always low
}  // namespace pins

// Directions: at the end of the open only clock, data out and select are
// driven; from the first reset or transfer on every pin but data in.
inline constexpr Byte kOpenDirection = pins::kClock | pins::kDataToChip | pins::kSelect;
inline constexpr Byte kDrivenDirection = static_cast<Byte>(0xFF & ~pins::kDataFromChip);

// The low-byte states the link drives.
inline constexpr PinState kEndOfOpen{pins::kSelect | pins::kReset, kOpenDirection};
inline constexpr PinState kResetLow{pins::kSelect, kDrivenDirection};
inline constexpr PinState kIdle{pins::kSelect | pins::kReset, kDrivenDirection};
inline constexpr PinState kCommandFrame{pins::kReset | pins::kCommandMarker, kDrivenDirection};
inline constexpr PinState kReadBackFrame{pins::kReset | pins::kReadBackMarker, kDrivenDirection};
inline constexpr PinState kAfterReadBack{pins::kSelect | pins::kReset | pins::kReadBackMarker,
                                         kDrivenDirection};
// ACBUS0-7: all inputs.
inline constexpr PinState kHighByteInputs{0x00, 0x00};

// --- The link's commands -----------------------------------------------------
// The invalid command of the echo check, answered 0xFA 0xAB.
inline constexpr Byte kEchoProbe = 0xAB;
// The lone invalid command in a read stream, answered 0xFA 0x00.
inline constexpr Byte kReplyMarker = 0x00;

// Divisor set by the open: 60 MHz / ((1 + 15) x 2) = 1.875 MHz.
inline constexpr unsigned kOpenDivisor = 15;
// The open's clocking: 60 MHz master clock, no adaptive or three-phase clocking.
inline constexpr mpsse::Command<3> kClocking{
    mpsse::kDisableDivideBy5, mpsse::kDisableAdaptiveClocking, mpsse::kDisableThreePhase};
// 72 clocks with select high after a frame; 3 between the frames of a read;
// 1008 after a chip reset.
inline constexpr unsigned kTrailingClockGroups = 9;
inline constexpr unsigned kGapClocks = 3;
inline constexpr unsigned kResetClockGroups = 126;

// Select low, the word's 26 bits out, select high: the first 15 bytes of a
// write stream and bytes 1 to 15 of a read stream.
constexpr std::array<Byte, 15> commandFrame(uint32_t word) {
    const Split s = split(word);
    return mpsse::join(mpsse::setLowByte(kCommandFrame), mpsse::shiftBytesOut(3),
                       std::array<Byte, 3>{s[0], s[1], s[2]}, mpsse::shiftBitsOut(2),
                       std::array<Byte, 1>{s[3]}, mpsse::setLowByte(kIdle));
}

// One word written: the command frame and 72 clocks, 18 bytes.
inline constexpr std::size_t kWriteStreamLength = 18;
constexpr std::array<Byte, kWriteStreamLength> writeStream(uint32_t word) {
    return mpsse::join(commandFrame(word), mpsse::clockBytePulses(kTrailingClockGroups));
}

// One word read (its read/write bit as given): loopback off, the command
// frame, 3 clocks, the reply marker, the read-back frame with the answer's
// 26 bits in, select high and 72 clocks, 34 bytes.
inline constexpr std::size_t kReadStreamLength = 34;
constexpr std::array<Byte, kReadStreamLength> readStream(uint32_t word) {
    using namespace mpsse;
    return join(Command<1>{kLoopbackOff}, commandFrame(word), clockPulses(kGapClocks),
                Command<1>{kReplyMarker}, setLowByte(kReadBackFrame), Command<1>{kSendImmediate},
                shiftBytesIn(3), shiftBitsIn(2), setLowByte(kAfterReadBack),
                clockBytePulses(kTrailingClockGroups));
}

// The reply to a read stream: 0xFA 0x00 for the reply marker, then the
// answer's bits 25-18, 17-10, 9-2, and bits 1-0 in the low bits of the last.
inline constexpr std::size_t kReplyLength = 6;
inline constexpr std::size_t kAnswerAt = 2;
constexpr uint32_t answerWord(Byte b25to18, Byte b17to10, Byte b9to2, Byte b1to0) {
    return (uint32_t{b25to18} << 18) | (uint32_t{b17to10} << 10) | (uint32_t{b9to2} << 2) |
           (uint32_t{b1to0} & 0x3u);
}

}  // namespace kovra610::sbus
