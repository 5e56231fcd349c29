// The serial-bus command streams of one word, as the link sends them, for
// the virtual board's tests and benchmark.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/protocol/sbus_protocol.h"
#include "tests/support/protocol_bytes.h"

namespace kovra610::vboard::testing {

using ::kovra610::testing::Bytes;
using ::kovra610::testing::bytesOf;
using ::kovra610::testing::kEcho;
using ::kovra610::testing::readReply;
using ::kovra610::testing::streamOf;

inline uint32_t wordOf(unsigned ch, unsigned rw, unsigned addr, unsigned data) {
    return sbus::pack(sbus::Word{ch, addr, rw, data});
}

// The port set up as after the link's open and a chip reset: 60 MHz, no
// adaptive or three-phase clocking, divisor 15, the low byte idle.
inline Bytes linkSetup() {
    return streamOf(sbus::kClocking, mpsse::setClockDivisor(sbus::kOpenDivisor),
                    mpsse::setLowByte(sbus::kIdle));
}

// The 18-byte write stream of one word.
inline Bytes writeStream(uint32_t w) {
    return bytesOf(sbus::writeStream(w));
}

// The 34-byte read stream of word w (its read/write bit as given).
inline Bytes readStreamOf(uint32_t w) {
    return bytesOf(sbus::readStream(w));
}

// The read stream of one register (read/write bit 0).
inline Bytes readStream(unsigned ch, unsigned addr) {
    return readStreamOf(wordOf(ch, 0, addr, 0));
}

}  // namespace kovra610::vboard::testing
