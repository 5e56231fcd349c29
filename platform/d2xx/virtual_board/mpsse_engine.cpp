#include "mpsse_engine.h"

#include <algorithm>

namespace kovra610::vboard {
namespace {

constexpr uint8_t kBadCommand = 0xFA;

bool isTmsCommand(uint8_t op) {
    return op == 0x4A || op == 0x4B || op == 0x6A || op == 0x6B || op == 0x6E || op == 0x6F;
}

}  // namespace

MpsseEngine::MpsseEngine(SerialBusChip& chip) : chip_(chip) {}

void MpsseEngine::powerOn() {
    purge();
    lowOut_ = lowDir_ = highOut_ = highDir_ = 0;
    divisor_ = 0;
    divideBy5_ = true;
    threePhase_ = adaptive_ = loopback_ = false;
    applyPins();
}

void MpsseEngine::purge() {
    have_ = need_ = 0;
    streamLeft_ = 0;
    stalled_ = false;
    held_.clear();
}

void MpsseEngine::release() {
    purge();
    lowDir_ = 0;
    highDir_ = 0;
    applyPins();
}

double MpsseEngine::serialClockHz() const {
    const double base = divideBy5_ ? 12e6 : 60e6;
    return base / ((1.0 + divisor_) * 2.0);
}

uint64_t MpsseEngine::halfPeriodTicks() const {
    return (uint64_t{divisor_} + 1) * (divideBy5_ ? 5u : 1u);
}

std::size_t MpsseEngine::feed(const uint8_t* bytes, std::size_t count,
                              std::vector<uint8_t>& replies, std::vector<InvalidCommand>* invalid) {
    replies_ = &replies;
    invalid_ = invalid;
    std::size_t i = 0;
    for (; i < count && !stalled_; ++i) step(bytes[i]);
    std::size_t taken = i;
    if (i < count) {
        const std::size_t room = kHoldLimit - std::min(kHoldLimit, held_.size());
        const std::size_t take = std::min(room, count - i);
        held_.insert(held_.end(), bytes + i, bytes + i + take);
        taken += take;
    }
    replies_ = nullptr;
    invalid_ = nullptr;
    return taken;
}

std::size_t MpsseEngine::commandLength(uint8_t op) {
    if (op >= 0x10 && op <= 0x3F) {
        const bool bitMode = (op & 0x02) != 0;
        const bool writes = (op & 0x10) != 0;
        if (!bitMode) return 3;  // opcode, length low, length high (data follows)
        return writes ? 3 : 2;   // opcode, length, [data]
    }
    if (isTmsCommand(op)) return 3;
    switch (op) {
        case 0x80:
        case 0x82:
        case 0x86:
        case 0x8F:
        case 0x9C:
        case 0x9D:
            return 3;
        case 0x8E:
            return 2;
        case 0x81:
        case 0x83:
        case 0x84:
        case 0x85:
        case 0x87:
        case 0x88:
        case 0x89:
        case 0x8A:
        case 0x8B:
        case 0x8C:
        case 0x8D:
        case 0x94:
        case 0x95:
        case 0x96:
        case 0x97:
            return 1;
        default:
            return 0;
    }
}

void MpsseEngine::step(uint8_t b) {
    if (streamLeft_ > 0) {
        const uint8_t in = shiftBits(b, 8);
        if (shift_.reads) replies_->push_back(in);
        --streamLeft_;
        return;
    }
    cmd_[have_++] = b;
    if (have_ == 1) {
        need_ = commandLength(b);
        if (need_ == 0) {
            have_ = 0;
            badCommand(b);
            return;
        }
    }
    if (have_ < need_) return;
    have_ = 0;
    execute();
}

void MpsseEngine::badCommand(uint8_t op) {
    now_ += kCommandTicks;
    if (invalid_ != nullptr) invalid_->push_back(InvalidCommand{op, replies_->size()});
    replies_->push_back(kBadCommand);
    replies_->push_back(op);
}

void MpsseEngine::stall() {
    stalled_ = true;
}

void MpsseEngine::execute() {
    now_ += kCommandTicks;
    const uint8_t op = cmd_[0];
    const uint16_t len16 = static_cast<uint16_t>(cmd_[1] | (cmd_[2] << 8));

    if ((op >= 0x10 && op <= 0x3F) || isTmsCommand(op)) {
        if (adaptive_) {
            stall();
            return;
        }
        shift_.outOnFalling = (op & 0x01) != 0;
        shift_.inOnFalling = (op & 0x04) != 0;
        shift_.lsbFirst = (op & 0x08) != 0;
        shift_.writes = (op & 0x10) != 0;
        shift_.reads = (op & 0x20) != 0;
        shift_.tms = (op & 0x40) != 0;
        idleClock_ = (lowOut_ & pins::kClock) != 0;
        if (shift_.tms) {
            // TMS bits leave LSB first on ADBUS3; bit 7 sits on data out.
            shift_.writes = true;
            shift_.lsbFirst = true;
            setLow(pins::kDataToChip, (cmd_[2] & 0x80) != 0);
            const uint8_t in = shiftBits(cmd_[2], (cmd_[1] & 0x07u) + 1);
            if (shift_.reads) replies_->push_back(in);
        } else if ((op & 0x02) != 0) {
            const uint8_t in = shiftBits(shift_.writes ? cmd_[2] : 0, (cmd_[1] & 0x07u) + 1);
            if (shift_.reads) replies_->push_back(in);
        } else if (shift_.writes) {
            streamLeft_ = uint32_t{len16} + 1;
        } else {
            for (uint32_t n = 0; n < uint32_t{len16} + 1; ++n) replies_->push_back(shiftBits(0, 8));
        }
        return;
    }

    switch (op) {
        case 0x80:
            lowOut_ = cmd_[1];
            lowDir_ = cmd_[2];
            applyPins();
            break;
        case 0x82:
            highOut_ = cmd_[1];
            highDir_ = cmd_[2];
            break;
        case 0x81:
            replies_->push_back(readLow());
            break;
        case 0x83:
            replies_->push_back(readHigh());
            break;
        case 0x84:
            loopback_ = true;
            break;
        case 0x85:
            loopback_ = false;
            break;
        case 0x86:
            divisor_ = len16;
            break;
        case 0x87:
            ++sendImmediate_;
            break;
        case 0x88:  // wait until GPIOL1 is high
            if (!gpioL1()) stall();
            break;
        case 0x89:  // wait until GPIOL1 is low
            if (gpioL1()) stall();
            break;
        case 0x8A:
            divideBy5_ = false;
            break;
        case 0x8B:
            divideBy5_ = true;
            break;
        case 0x8C:
            threePhase_ = true;
            break;
        case 0x8D:
            threePhase_ = false;
            break;
        case 0x8E:
            clockPulses(uint64_t{cmd_[1]} + 1, -1);
            break;
        case 0x8F:
            clockPulses((uint64_t{len16} + 1) * 8, -1);
            break;
        case 0x9C:
            clockPulses((uint64_t{len16} + 1) * 8, 1);
            break;
        case 0x9D:
            clockPulses((uint64_t{len16} + 1) * 8, 0);
            break;
        case 0x94:  // clock until GPIOL1 is high
            if (adaptive_ || !gpioL1()) stall();
            break;
        case 0x95:  // clock until GPIOL1 is low
            if (adaptive_ || gpioL1()) stall();
            break;
        case 0x96:
            adaptive_ = true;
            break;
        case 0x97:
            adaptive_ = false;
            break;
        default:
            break;
    }
}

void MpsseEngine::applyPins() {
    // Undriven pins are pulled up, except ADBUS2, which the chip drives.
    uint8_t levels = static_cast<uint8_t>((lowOut_ & lowDir_) | ~lowDir_);
    const bool chipDrives = (lowDir_ & pins::kDataFromChip) == 0;
    auto withChipOutput = [&](uint8_t l) {
        if (!chipDrives) return l;
        return static_cast<uint8_t>((l & ~pins::kDataFromChip) |
                                    (chip_.dataOut() ? pins::kDataFromChip : 0));
    };
    levels = withChipOutput(levels);
    if (levels == levels_) return;
    chip_.onPins(levels);
    levels = withChipOutput(levels);
    levels_ = levels;
    if (trace_ != nullptr) trace_->change(now_, levels_);
}

void MpsseEngine::setLow(uint8_t mask, bool level) {
    const uint8_t next =
        level ? static_cast<uint8_t>(lowOut_ | mask) : static_cast<uint8_t>(lowOut_ & ~mask);
    if (next == lowOut_) return;
    lowOut_ = next;
    applyPins();
}

bool MpsseEngine::dataIn() const {
    if (loopback_) return (lowOut_ & pins::kDataToChip) != 0;
    return (levels_ & pins::kDataFromChip) != 0;
}

uint8_t MpsseEngine::readLow() const {
    if (!loopback_) return levels_;
    return static_cast<uint8_t>((levels_ & ~pins::kDataFromChip) |
                                ((lowOut_ & pins::kDataToChip) != 0 ? pins::kDataFromChip : 0));
}

uint8_t MpsseEngine::readHigh() const {
    return static_cast<uint8_t>((highOut_ & highDir_) | ~highDir_);
}

bool MpsseEngine::clockBit(bool outBit) {
    const uint64_t half = halfPeriodTicks();
    const bool idle = idleClock_;
    // With the clock idling low the falling edge ends each bit.
    const bool outAtEnd = shift_.outOnFalling == !idle;
    const bool inAtEnd = shift_.inOnFalling == !idle;
    const uint8_t outPin = shift_.tms ? pins::kSelect : pins::kDataToChip;

    // Data leaving on the trailing edge is set up a half period before the
    // leading one (for the first bit when the command starts, for the others
    // at the previous bit's trailing edge).
    if (shift_.writes && (threePhase_ || outAtEnd)) setLow(outPin, outBit);
    now_ += half;
    bool sample = false;
    if (shift_.reads && !inAtEnd) sample = dataIn();
    setLow(pins::kClock, !idle);
    if (shift_.writes && !threePhase_ && !outAtEnd) setLow(outPin, outBit);
    now_ += half;
    if (shift_.reads && inAtEnd) sample = dataIn();
    setLow(pins::kClock, idle);
    if (threePhase_) now_ += half;
    return sample;
}

uint8_t MpsseEngine::shiftBits(uint8_t out, unsigned count) {
    uint8_t in = 0;
    for (unsigned k = 0; k < count; ++k) {
        const bool bit = shift_.lsbFirst ? ((out >> k) & 1u) != 0 : ((out >> (7 - k)) & 1u) != 0;
        const bool got = clockBit(bit);
        if (shift_.lsbFirst) {
            in = static_cast<uint8_t>((in >> 1) | (got ? 0x80 : 0));
        } else {
            in = static_cast<uint8_t>((in << 1) | (got ? 1 : 0));
        }
    }
    return in;
}

void MpsseEngine::clockPulses(uint64_t count, int stopOnGpioL1) {
    if (adaptive_) {
        stall();
        return;
    }
    const uint64_t half = halfPeriodTicks();
    const bool idle = (lowOut_ & pins::kClock) != 0;
    for (uint64_t n = 0; n < count; ++n) {
        if (stopOnGpioL1 >= 0 && gpioL1() == (stopOnGpioL1 == 1)) return;
        now_ += half;
        setLow(pins::kClock, !idle);
        now_ += half;
        setLow(pins::kClock, idle);
    }
}

}  // namespace kovra610::vboard
