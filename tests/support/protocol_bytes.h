// The protocol header's commands and answers as byte vectors, the form the
// test backends record and compare.
#pragma once

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

// What the MPSSE answers the echo probe.
inline const Bytes kEcho{mpsse::kBadCommandAnswer, sbus::kEchoProbe};

// The reply to a read stream with the answer bytes that follow the reply
// marker's answer.
inline Bytes readReply(std::initializer_list<uint8_t> answer) {
    Bytes reply{mpsse::kBadCommandAnswer, sbus::kReplyMarker};
    reply.insert(reply.end(), answer.begin(), answer.end());
    return reply;
}

}  // namespace kovra610::testing
