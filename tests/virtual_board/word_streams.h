// The serial-bus command streams, written out by hand from their byte
// tables, for the virtual board's tests and benchmark (never built by the
// link code they are meant to check).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/d2xx/virtual_board/serial_bus_chip.h"

namespace kovra610::vboard::testing {

using Bytes = std::vector<uint8_t>;

inline uint32_t wordOf(unsigned ch, unsigned rw, unsigned addr, unsigned data) {
    return SerialWord{ch & 3u, addr & 0x7Fu, rw & 1u, data & 0xFFFFu}.raw();
}

// Command frame with word w, then select high (the first 15 bytes a write
// and a read share).
inline Bytes commandFrame(uint32_t w) {
    return {0x80,
            0x50,
            0xFB,  // command frame: select low, command marker high
            0x11,
            0x02,
            0x00,  // shift out 3 bytes
            static_cast<uint8_t>(w >> 18),
            static_cast<uint8_t>(w >> 10),
            static_cast<uint8_t>(w >> 2),
            0x13,
            0x01,  // shift out 2 bits
            static_cast<uint8_t>((w & 3u) << 6),
            0x80,
            0x18,
            0xFB};  // select high, markers low
}

inline void append(Bytes& s, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) s.push_back(b);
}

// The 18-byte write stream of one word.
inline Bytes writeStream(uint32_t w) {
    Bytes s = commandFrame(w);
    append(s, {0x8F, 0x08, 0x00});  // 72 clocks
    return s;
}

// The 34-byte read stream of word w (its read/write bit as given).
inline Bytes readStreamOf(uint32_t w) {
    Bytes s{0x85};  // loopback off
    for (uint8_t b : commandFrame(w)) s.push_back(b);
    append(s, {0x8E, 0x02,          // 3 clocks
               0x00,                // invalid command: answered 0xFA 0x00
               0x80, 0x30, 0xFB,    // read-back frame
               0x87,                // send immediate
               0x24, 0x02, 0x00,    // shift in 3 bytes
               0x26, 0x01,          // shift in 2 bits
               0x80, 0x38, 0xFB,    // select high, read-back marker high
               0x8F, 0x08, 0x00});  // 72 clocks
    return s;
}

// The read stream of one register (read/write bit 0).
inline Bytes readStream(unsigned ch, unsigned addr) {
    return readStreamOf(wordOf(ch, 0, addr, 0));
}

}  // namespace kovra610::vboard::testing
