// The KOVRA610's serial-bus side, as the FT2232H's low byte sees it.
//
// The chip watches ADBUS0-7 and drives ADBUS2. It keeps two channels of 128
// sixteen-bit registers. A command frame (select ADBUS3 low while the command
// marker ADBUS6 is high) shifts bits in, MSB first, on rising clock edges;
// when select goes high again a frame of exactly 26 bits is decoded as a
// serial-bus word (sbus_protocol.h).
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

#include "platform/protocol/sbus_protocol.h"
#include "platform/protocol/sbus_registers.h"

namespace kovra610::vboard {

// Low-byte pins (bit n = ADBUSn) and the 26-bit word, as the link has them.
namespace pins = sbus::pins;
using SerialWord = sbus::Word;

class SerialBusChip {
public:
    static constexpr int kChannels = 2;
    static constexpr unsigned kRegisters = 128;
    static constexpr unsigned kAlarmRegister = sbus::kAlarmFlagsRegister;
    static constexpr unsigned kWordBits = sbus::kWordBits;
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
    // Everything pulled up, ADBUS2 aside: idle, not in reset.
    uint8_t levels_ = static_cast<uint8_t>(0xFF & ~pins::kDataFromChip);
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
