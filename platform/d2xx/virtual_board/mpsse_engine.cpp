#include "mpsse_engine.h"

#include <algorithm>

namespace kovra610::vboard {

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

const MpsseEngine::CommandTable& MpsseEngine::commands() {
    static const CommandTable table = [] {
        CommandTable t{};
        addPinCommands(t);
        addClockCommands(t);
        addShifts(t);
        return t;
    }();
    return table;
}

// Pins, loopback and the answer flush.
void MpsseEngine::addPinCommands(CommandTable& t) {
    t[mpsse::kSetLowByte] = {3, [](MpsseEngine& e) {
                                 e.lowOut_ = e.cmd_[1];
                                 e.lowDir_ = e.cmd_[2];
                                 e.applyPins();
                             }};
    t[mpsse::kSetHighByte] = {3, [](MpsseEngine& e) {
                                  e.highOut_ = e.cmd_[1];
                                  e.highDir_ = e.cmd_[2];
                              }};
    t[mpsse::kReadLowByte] = {1, [](MpsseEngine& e) { e.replies_->push_back(e.readLow()); }};
    t[mpsse::kReadHighByte] = {1, [](MpsseEngine& e) { e.replies_->push_back(e.readHigh()); }};
    t[mpsse::kLoopbackOn] = {1, [](MpsseEngine& e) { e.loopback_ = true; }};
    t[mpsse::kLoopbackOff] = {1, [](MpsseEngine& e) { e.loopback_ = false; }};
    t[mpsse::kSendImmediate] = {1, [](MpsseEngine& e) { ++e.sendImmediate_; }};
    t[mpsse::kWaitOnIoHigh] = {1, [](MpsseEngine& e) {
                                   if (!e.gpioL1()) e.stall();
                               }};
    t[mpsse::kWaitOnIoLow] = {1, [](MpsseEngine& e) {
                                  if (e.gpioL1()) e.stall();
                              }};
}

// The serial clock: its rate and the pulses without data.
void MpsseEngine::addClockCommands(CommandTable& t) {
    t[mpsse::kSetClockDivisor] = {3, [](MpsseEngine& e) { e.divisor_ = e.length16(); }};
    t[mpsse::kDisableDivideBy5] = {1, [](MpsseEngine& e) { e.divideBy5_ = false; }};
    t[mpsse::kEnableDivideBy5] = {1, [](MpsseEngine& e) { e.divideBy5_ = true; }};
    t[mpsse::kEnableThreePhase] = {1, [](MpsseEngine& e) { e.threePhase_ = true; }};
    t[mpsse::kDisableThreePhase] = {1, [](MpsseEngine& e) { e.threePhase_ = false; }};
    t[mpsse::kEnableAdaptiveClocking] = {1, [](MpsseEngine& e) { e.adaptive_ = true; }};
    t[mpsse::kDisableAdaptiveClocking] = {1, [](MpsseEngine& e) { e.adaptive_ = false; }};
    t[mpsse::kClockPulses] = {2,
                              [](MpsseEngine& e) { e.clockPulses(uint64_t{e.cmd_[1]} + 1, -1); }};
    t[mpsse::kClockBytePulses] = {
        3, [](MpsseEngine& e) { e.clockPulses((uint64_t{e.length16()} + 1) * 8, -1); }};
    t[mpsse::kClockBytesUntilIoHigh] = {
        3, [](MpsseEngine& e) { e.clockPulses((uint64_t{e.length16()} + 1) * 8, 1); }};
    t[mpsse::kClockBytesUntilIoLow] = {
        3, [](MpsseEngine& e) { e.clockPulses((uint64_t{e.length16()} + 1) * 8, 0); }};
    t[mpsse::kClockUntilIoHigh] = {1, [](MpsseEngine& e) {
                                       if (e.adaptive_ || !e.gpioL1()) e.stall();
                                   }};
    t[mpsse::kClockUntilIoLow] = {1, [](MpsseEngine& e) {
                                      if (e.adaptive_ || e.gpioL1()) e.stall();
                                  }};
}

// Data and TMS shifts. Byte counts take two length bytes (data follows a
// write); bit counts one length byte, then the data byte of a write.
void MpsseEngine::addShifts(CommandTable& t) {
    for (unsigned op = 0; op < t.size(); ++op) {
        const auto b = static_cast<uint8_t>(op);
        if (mpsse::isTmsShift(b)) {
            t[op] = {3, [](MpsseEngine& e) { e.startShift(); }};
        } else if (mpsse::isDataShift(b)) {
            const bool bitMode = (b & mpsse::kBitMode) != 0;
            const bool writes = (b & mpsse::kWrite) != 0;
            t[op] = {static_cast<uint8_t>(bitMode && !writes ? 2 : 3),
                     [](MpsseEngine& e) { e.startShift(); }};
        }
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
        need_ = commands()[b].length;
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
    replies_->push_back(mpsse::kBadCommandAnswer);
    replies_->push_back(op);
}

void MpsseEngine::stall() {
    stalled_ = true;
}

void MpsseEngine::execute() {
    now_ += kCommandTicks;
    commands()[cmd_[0]].run(*this);
}

void MpsseEngine::startShift() {
    if (adaptive_) {
        stall();
        return;
    }
    const uint8_t op = cmd_[0];
    shift_.outOnFalling = (op & mpsse::kOutOnFalling) != 0;
    shift_.inOnFalling = (op & mpsse::kInOnFalling) != 0;
    shift_.lsbFirst = (op & mpsse::kLsbFirst) != 0;
    shift_.writes = (op & mpsse::kWrite) != 0;
    shift_.reads = (op & mpsse::kRead) != 0;
    shift_.tms = (op & mpsse::kTms) != 0;
    idleClock_ = (lowOut_ & pins::kClock) != 0;
    if (shift_.tms) {
        shiftTms();
    } else if ((op & mpsse::kBitMode) != 0) {
        shiftBitsNow();
    } else if (shift_.writes) {
        streamLeft_ = uint32_t{length16()} + 1;  // the data bytes follow
    } else {
        shiftBytesIn();
    }
}

// TMS bits leave LSB first on ADBUS3; bit 7 of the byte sits on data out.
void MpsseEngine::shiftTms() {
    shift_.writes = true;
    shift_.lsbFirst = true;
    setLow(pins::kDataToChip, (cmd_[2] & 0x80) != 0);
    const uint8_t in = shiftBits(cmd_[2], (cmd_[1] & 0x07u) + 1);
    if (shift_.reads) replies_->push_back(in);
}

void MpsseEngine::shiftBitsNow() {
    const uint8_t in = shiftBits(shift_.writes ? cmd_[2] : 0, (cmd_[1] & 0x07u) + 1);
    if (shift_.reads) replies_->push_back(in);
}

void MpsseEngine::shiftBytesIn() {
    for (uint32_t n = 0; n < uint32_t{length16()} + 1; ++n) replies_->push_back(shiftBits(0, 8));
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
