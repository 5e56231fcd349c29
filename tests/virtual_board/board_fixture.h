// Shared helpers of the virtual board tests: a fixture that installs a fresh
// board, and the serial-bus command streams written out by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d2xx/backend.h"
#include "platform/d2xx/ftd2xx.h"
#include "platform/d2xx/virtual_board/virtual_board.h"
#include "word_streams.h"

namespace kovra610::vboard::testing {

// The answer word in bytes 2 to 5 of a read stream's reply.
inline uint32_t answerOf(const Bytes& reply) {
    if (reply.size() < 6) return 0xFFFFFFFFu;
    return (uint32_t{reply[2]} << 18) | (uint32_t{reply[3]} << 10) | (uint32_t{reply[4]} << 2) |
           (reply[5] & 0x03u);
}

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override { d2xx::installBackend(board); }
    void TearDown() override { d2xx::installBackend(nullptr); }

    // Opens port A and brings up the MPSSE as the link does: loopback off,
    // 60 MHz, no adaptive or three-phase clocking, divisor 15, idle pins.
    void openMpsse() {
        ASSERT_EQ(FT_Open(0, &handle), FT_OK);
        ASSERT_EQ(FT_SetBitMode(handle, 0x00, FT_BITMODE_RESET), FT_OK);
        ASSERT_EQ(FT_SetBitMode(handle, 0x00, FT_BITMODE_MPSSE), FT_OK);
        send({0x8A, 0x97, 0x8D});
        send({0x86, 0x0F, 0x00});
        send({0x80, 0x18, 0xFB});
    }

    void send(Bytes bytes) {
        DWORD written = 0;
        ASSERT_EQ(FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written),
                  FT_OK);
        ASSERT_EQ(written, bytes.size());
    }

    // Everything waiting in the receive queue.
    Bytes drain() {
        DWORD waiting = 0;
        EXPECT_EQ(FT_GetQueueStatus(handle, &waiting), FT_OK);
        Bytes out(waiting);
        DWORD got = 0;
        EXPECT_EQ(FT_Read(handle, out.data(), waiting, &got), FT_OK);
        out.resize(got);
        return out;
    }

    std::shared_ptr<VirtualBoard> board = std::make_shared<VirtualBoard>();
    FT_HANDLE handle = nullptr;
};

}  // namespace kovra610::vboard::testing
