// The KOVRA610's serial-bus side, as the FT2232H's low byte sees it.
//
// The chip watches ADBUS0-7 and drives ADBUS2. It keeps two channels of 128
// sixteen-bit registers. A command frame (select ADBUS3 low while the command
// marker ADBUS6 is high) shifts bits in, MSB first, on rising clock edges;
// when select goes high again a frame of exactly 26 bits is decoded as
//   bits 25-24 channel select, 23-17 address, 16 read/write, 15-0 data.
// A write stores the data in channel 0 (select 1), channel 1 (select 2) or
// both (select 3); a read arms the answer word, which the next read-back
// frame (select low, read-back marker ADBUS5 high) shifts out on ADBUS2, MSB
// first: the first bit as the frame opens, the next one at each falling
// clock edge. A command frame of any other length counts as a framing error
// and changes nothing. While the reset line ADBUS4 is low every register
// holds its power-on value (0). Register 0x1E holds alarm flags; writes to it
// are ignored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kovra610::vboard {

// Low-byte pins (bit n = ADBUSn).
namespace pins {
inline constexpr uint8_t kClock = 0x01;           // ADBUS0, serial clock to the chip
inline constexpr uint8_t kDataToChip = 0x02;      // ADBUS1
inline constexpr uint8_t kDataFromChip = 0x04;    // ADBUS2, driven by the chip
inline constexpr uint8_t kSelect = 0x08;          // ADBUS3, active low
inline constexpr uint8_t kReset = 0x10;           // ADBUS4, active low
inline constexpr uint8_t kReadBackMarker = 0x20;  // ADBUS5 (GPIOL1 of the MPSSE)
inline constexpr uint8_t kCommandMarker = 0x40;   // ADBUS6
inline constexpr uint8_t kSpare = 0x80;           // ADBUS7 (RTCK of the MPSSE)
}  // namespace pins

// One 26-bit serial-bus word, split into its fields.
struct SerialWord {
    unsigned ch = 0;    // channel select, 2 bits
    unsigned addr = 0;  // register address, 7 bits
    unsigned rw = 0;    // 1 write, 0 read
    unsigned data = 0;  // 16 bits

    uint32_t raw() const {
        return ((ch & 0x3u) << 24) | ((addr & 0x7Fu) << 17) | ((rw & 0x1u) << 16) |
               (data & 0xFFFFu);
    }
    static SerialWord fromRaw(uint32_t w) {
        return SerialWord{(w >> 24) & 0x3u, (w >> 17) & 0x7Fu, (w >> 16) & 0x1u, w & 0xFFFFu};
    }
    bool operator==(const SerialWord&) const = default;
};

class SerialBusChip {
public:
    static constexpr int kChannels = 2;
    static constexpr unsigned kRegisters = 128;
    static constexpr unsigned kAlarmRegister = 0x1E;
    static constexpr unsigned kWordBits = 26;
    // Beyond this many entries the word and answer lists stop growing (the
    // totals still count); tests clear them between runs.
    static constexpr std::size_t kListLimit = std::size_t{1} << 20;

    SerialBusChip();

    // The pins changed to `levels` (bit n = ADBUSn, the level on the wire).
    // Bit 2 is the chip's own output and is not looked at.
    void onPins(uint8_t levels);
    // The level the chip drives on ADBUS2.
    bool dataOut() const { return dataOut_; }

    // Register file. Out-of-range channels or addresses read 0 and are not
    // written. Register 0x1E reads the alarm flags.
    uint16_t reg(int channel, unsigned addr) const;
    void setReg(int channel, unsigned addr, uint16_t value);
    void setAlarmFlags(int channel, uint16_t flags);
    void raiseAlarm(int channel, uint16_t flags);

    // Every command frame of 26 bits, in order.
    const std::vector<SerialWord>& words() const { return words_; }
    // Every answer word armed by a read and shifted out by a read-back frame.
    const std::vector<SerialWord>& answers() const { return answers_; }
    uint64_t wordCount() const { return wordCount_; }
    void clearLists();

    unsigned framingErrors() const { return framingErrors_; }
    unsigned resets() const { return resets_; }
    bool inReset() const { return (levels_ & pins::kReset) == 0; }
    bool answerArmed() const { return armed_; }

private:
    enum class Frame { None, Command, ReadBack, Ignored };

    void openFrame();
    void closeFrame();
    void resetRegisters();
    void decode(uint32_t word);

    std::array<std::array<uint16_t, kRegisters>, kChannels> regs_{};
    uint8_t levels_ = 0xFB;  // everything pulled up: idle, not in reset
    Frame frame_ = Frame::None;
    uint32_t shift_ = 0;
    uint64_t bits_ = 0;
    uint32_t answer_ = 0;
    bool armed_ = false;
    bool dataOut_ = false;
    std::vector<SerialWord> words_;
    std::vector<SerialWord> answers_;
    uint64_t wordCount_ = 0;
    unsigned framingErrors_ = 0;
    unsigned resets_ = 0;
};

}  // namespace kovra610::vboard
