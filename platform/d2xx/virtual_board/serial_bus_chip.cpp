#include "serial_bus_chip.h"

namespace kovra610::vboard {

SerialBusChip::SerialBusChip() {
    resetRegisters();
}

void SerialBusChip::resetRegisters() {
    for (auto& channel : regs_) channel.fill(0);
}

uint16_t SerialBusChip::reg(int channel, unsigned addr) const {
    if (channel < 0 || channel >= kChannels || addr >= kRegisters) return 0;
    return regs_[static_cast<std::size_t>(channel)][addr];
}

void SerialBusChip::setReg(int channel, unsigned addr, uint16_t value) {
    if (channel < 0 || channel >= kChannels || addr >= kRegisters) return;
    regs_[static_cast<std::size_t>(channel)][addr] = value;
}

void SerialBusChip::setAlarmFlags(int channel, uint16_t flags) {
    setReg(channel, kAlarmRegister, flags);
}

void SerialBusChip::raiseAlarm(int channel, uint16_t flags) {
    setReg(channel, kAlarmRegister, static_cast<uint16_t>(reg(channel, kAlarmRegister) | flags));
}

void SerialBusChip::clearLists() {
    words_.clear();
    answers_.clear();
}

void SerialBusChip::onPins(uint8_t levels) {
    const uint8_t old = levels_;
    levels_ = levels;

    if ((levels & pins::kReset) == 0) {
        // Held in reset: registers at power-on, no frame, no answer.
        if ((old & pins::kReset) != 0) ++resets_;
        resetRegisters();
        frame_ = Frame::None;
        armed_ = false;
        dataOut_ = false;
        bits_ = 0;
        return;
    }

    const bool selectedBefore = (old & pins::kSelect) == 0;
    const bool selectedNow = (levels & pins::kSelect) == 0;
    const bool rising = (old & pins::kClock) == 0 && (levels & pins::kClock) != 0;
    const bool falling = (old & pins::kClock) != 0 && (levels & pins::kClock) == 0;
    const bool leavingReset = (old & pins::kReset) == 0;

    if (selectedNow && !selectedBefore) openFrame();
    // A clock edge counts only with select low on both sides of it.
    if (selectedBefore && selectedNow && !leavingReset) {
        if (rising) {
            if (frame_ == Frame::Command) {
                shift_ = (shift_ << 1) | ((levels & pins::kDataToChip) != 0 ? 1u : 0u);
                ++bits_;
            } else if (frame_ == Frame::ReadBack) {
                ++bits_;
            }
        }
        if (falling && frame_ == Frame::ReadBack) {
            // Next answer bit; after the last one the line goes low.
            dataOut_ = bits_ < kWordBits && ((answer_ >> (kWordBits - 1 - bits_)) & 1u) != 0;
        }
    }
    if (selectedBefore && !selectedNow) closeFrame();
}

void SerialBusChip::openFrame() {
    bits_ = 0;
    shift_ = 0;
    if ((levels_ & pins::kCommandMarker) != 0) {
        frame_ = Frame::Command;
    } else if ((levels_ & pins::kReadBackMarker) != 0) {
        frame_ = Frame::ReadBack;
        if (!armed_) answer_ = 0;
        dataOut_ = ((answer_ >> (kWordBits - 1)) & 1u) != 0;
    } else {
        frame_ = Frame::Ignored;
    }
}

void SerialBusChip::closeFrame() {
    if (frame_ == Frame::Command) {
        if (bits_ == kWordBits) {
            decode(shift_ & ((1u << kWordBits) - 1));
        } else {
            ++framingErrors_;
        }
    } else if (frame_ == Frame::ReadBack) {
        if (armed_ && bits_ >= kWordBits && answers_.size() < kListLimit) {
            answers_.push_back(sbus::unpack(answer_));
        }
        armed_ = false;
        dataOut_ = false;
    }
    frame_ = Frame::None;
    bits_ = 0;
}

void SerialBusChip::decode(uint32_t raw) {
    const SerialWord w = sbus::unpack(raw);
    ++wordCount_;
    if (words_.size() < kListLimit) words_.push_back(w);

    if (w.rw == 1) {
        if (w.addr == kAlarmRegister) return;
        for (int c = 0; c < kChannels; ++c) {
            if ((w.ch & (1u << c)) != 0) regs_[static_cast<std::size_t>(c)][w.addr] = w.data;
        }
        return;
    }
    // Select 3 reads channel 0; select 0 addresses no channel and answers 0.
    const unsigned data = w.ch == 0 ? 0u : reg(w.ch == 2 ? 1 : 0, w.addr);
    answer_ = sbus::pack(SerialWord{w.ch, w.addr, 0, data});
    armed_ = true;
}

}  // namespace kovra610::vboard
