// The protocol header's commands and answers as byte vectors, the form the
// test backends record and compare.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/protocol/sbus_protocol.h"

namespace kovra610::testing {

using Bytes = std::vector<uint8_t>;

template <std::size_t N>
Bytes bytesOf(const std::array<uint8_t, N>& command) {
    return Bytes(command.begin(), command.end());
}

inline void appendTo(Bytes& out, uint8_t byte) {
    out.push_back(byte);
}
inline void appendTo(Bytes& out, const Bytes& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}
template <std::size_t N>
void appendTo(Bytes& out, const std::array<uint8_t, N>& command) {
    out.insert(out.end(), command.begin(), command.end());
}

// Commands, operand bytes and streams one after the other, as one stream:
// streamOf(mpsse::setLowByte(sbus::kIdle), mpsse::kReadLowByte).
template <typename... Parts>
Bytes streamOf(const Parts&... parts) {
    Bytes out;
    (appendTo(out, parts), ...);
    return out;
}

// What the MPSSE answers the echo probe.
inline const Bytes kEcho{mpsse::kBadCommandAnswer, sbus::kEchoProbe};

// The reply to a read stream with the answer bytes that follow the reply
// marker's answer.
inline Bytes readReply(std::initializer_list<uint8_t> answer) {
    Bytes reply(2 + answer.size());
    reply[0] = mpsse::kBadCommandAnswer;
    reply[1] = sbus::kReplyMarker;
    std::copy(answer.begin(), answer.end(), reply.begin() + 2);
    return reply;
}

}  // namespace kovra610::testing
