// Host cost of a serial-bus word on the virtual board: CPU time per word
// written (no fixed waits) and per word read (its fixed 10 ms wait sleeps and
// costs no CPU; the wall time is reported beside it).
// Target: a write costs the host under 25 microseconds of CPU, emulator
// included.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "link/FT2232H.h"
#include "platform/d2xx/virtual_board/virtual_board.h"

namespace {

std::shared_ptr<kovra610::vboard::VirtualBoard> openVirtualBoard() {
    auto board = std::make_shared<kovra610::vboard::VirtualBoard>();
    kovra610::d2xx::installBackend(board);
    std::FILE* saved = stdout;
    stdout = std::fopen("/dev/null", "w");  // the open's progress lines
    const int opened = OpenandConfigFT2232Hdevice();
    std::fclose(stdout);
    stdout = saved;
    if (opened != 0) return nullptr;
    FTD232_sbus_reset_part();
    return board;
}

void WordWrite(benchmark::State& state) {
    auto board = openVirtualBoard();
    if (!board) {
        state.SkipWithError("virtual board did not open");
        return;
    }
    int data = 0;
    for (auto _ : state) {
        FTD232_sbus_single_write(1, 1, 0x05, data++ & 0xFFFF);
        if (board->chip().words().size() > 100000) board->chip().clearLists();
    }
    CloseFT2232HDevice();
    kovra610::d2xx::installBackend(nullptr);
}
BENCHMARK(WordWrite)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

void WordRead(benchmark::State& state) {
    auto board = openVirtualBoard();
    if (!board) {
        state.SkipWithError("virtual board did not open");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(FTD232_sbus_single_read(1, 0, 0x05, 0));
    CloseFT2232HDevice();
    kovra610::d2xx::installBackend(nullptr);
}
BENCHMARK(WordRead)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond)->Iterations(100);

}  // namespace

BENCHMARK_MAIN();
