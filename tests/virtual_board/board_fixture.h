// Shared helpers of the virtual board tests: a fixture that installs a fresh
// board, and the serial-bus command streams.
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
    if (reply.size() < sbus::kReplyLength) return 0xFFFFFFFFu;
    const uint8_t* a = &reply[sbus::kAnswerAt];
    return sbus::answerWord(a[0], a[1], a[2], a[3]);
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
        send(linkSetup());
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
