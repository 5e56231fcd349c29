// Host cost of the virtual board: a full image of 40 words written, and 40
// words read back, with the pin trace off and on.
//
// Target: with the trace off, under 25 us of CPU per word, so the emulator
// adds little to what a transfer costs on real hardware.
#include <benchmark/benchmark.h>

#include <array>
#include <memory>

#include "platform/d2xx/backend.h"
#include "platform/d2xx/ftd2xx.h"
#include "platform/d2xx/virtual_board/virtual_board.h"
#include "tests/virtual_board/word_streams.h"

namespace {

namespace sbus = kovra610::sbus;
using kovra610::vboard::VirtualBoard;

constexpr int kWords = 40;

// Entry i of an image: 30 DAC levels on both channels, then ten registers.
uint32_t imageWord(int i, uint16_t data) {
    const unsigned ch = i < 30 ? 3u : (i % 2 == 0 ? 1u : 2u);
    const unsigned addr =
        i < 30 ? static_cast<unsigned>(i) : 0x19u + static_cast<unsigned>((i - 30) / 2);
    return kovra610::vboard::testing::wordOf(ch, 1, addr, data);
}

struct OpenBoard {
    explicit OpenBoard(bool trace) : board(std::make_shared<VirtualBoard>()) {
        kovra610::d2xx::installBackend(board);
        if (trace) board->startTrace("/dev/null");
        FT_Open(0, &handle);
        FT_SetBitMode(handle, 0, FT_BITMODE_RESET);
        FT_SetBitMode(handle, 0, FT_BITMODE_MPSSE);
        auto setup = kovra610::vboard::testing::linkSetup();
        DWORD n = 0;
        FT_Write(handle, setup.data(), setup.size(), &n);
    }
    ~OpenBoard() {
        FT_Close(handle);
        kovra610::d2xx::installBackend(nullptr);
    }
    std::shared_ptr<VirtualBoard> board;
    FT_HANDLE handle = nullptr;
};

void perWord(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kWords);
    state.counters["cpu_per_word"] = benchmark::Counter(
        kWords, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

using Streams = std::array<kovra610::vboard::testing::Bytes, kWords>;

// Sends the streams an iteration, each followed by the queue check and the
// read the link makes, and takes whatever answer came back.
void sendStreams(benchmark::State& state, Streams& streams) {
    OpenBoard b(state.range(0) != 0);
    uint8_t reply[64] = {};
    uint32_t sum = 0;
    for (auto _ : state) {
        for (auto& s : streams) {
            DWORD n = 0;
            FT_Write(b.handle, s.data(), s.size(), &n);
            DWORD waiting = 0;
            FT_GetQueueStatus(b.handle, &waiting);
            FT_Read(b.handle, reply, waiting, &n);
            sum += reply[sbus::kAnswerAt];
        }
        b.board->chip().clearLists();
    }
    benchmark::DoNotOptimize(sum);
    perWord(state);
}

// 40 write streams.
void BM_ImageWrite(benchmark::State& state) {
    Streams streams{};
    for (int i = 0; i < kWords; ++i)
        streams[i] =
            kovra610::vboard::testing::writeStream(imageWord(i, static_cast<uint16_t>(0x4000 + i)));
    sendStreams(state, streams);
}
BENCHMARK(BM_ImageWrite)->ArgName("trace")->Arg(0)->Arg(1);

// 40 read streams, each with its six-byte reply.
void BM_ImageRead(benchmark::State& state) {
    Streams streams{};
    for (int i = 0; i < kWords; ++i)
        streams[i] = kovra610::vboard::testing::readStreamOf(imageWord(i, 0) &
                                                             ~sbus::place(1, sbus::kReadWrite));
    sendStreams(state, streams);
}
BENCHMARK(BM_ImageRead)->ArgName("trace")->Arg(0)->Arg(1);

}  // namespace
