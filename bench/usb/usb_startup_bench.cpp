// Start-up over USB against start-up on the virtual board, side by side in
// one run: the program's main in-process, headless, from main called to the
// event loop running, alternating between
//   virtual_board  KOVRA610_BOARD=virtual's backend
//   emulated_usb   KOVRA610_BOARD=usb: the hardware backend, the system's
//                  libftdi1 and the emulated FT2232H (the test libusb)
// Both wait the same fixed waits; the target is the USB start-up within 5 %
// of the virtual board's (median against median).
//
// The emulated bus must be loaded before libftdi1 is: run without it in
// LD_LIBRARY_PATH, the benchmark starts itself again with it there.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/kovra610 evaluation board.h"
#include "platform/d2xx/backend.h"
#include "platform/d2xx/virtual_board/virtual_board.h"
#include "platform/runtime/panel_runtime.h"

int kovra610_main(int argc, char* argv[]);

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Main called to the event loop running, in ms, then the program ends as
// "Exit" ends it; the console goes to /dev/null meanwhile. Negative when the loop never ran.
double startUp() {
    delete[] g_DACSETUPFILES;
    g_DACSETUPFILES = nullptr;
    sbus_structure = sbus_structure_initial_contents();
    std::memset(&sbus_last_sent, 0xFF, sizeof sbus_last_sent);

    double operatingMs = -1.0;
    const Clock::time_point t0 = Clock::now();
    std::function<void()> whenOperating = [&] {
        if (QThread::currentThread()->loopLevel() == 0) {
            QTimer::singleShot(1, whenOperating);
            return;
        }
        operatingMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        QuitUserInterface(0);  // as "Exit" does
    };
    QTimer::singleShot(0, whenOperating);

    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
    static char arg0[] = "kovra610";
    static char* argv[] = {arg0, nullptr};
    kovra610_main(1, argv);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    kovra610::d2xx::installBackend(nullptr);
    return operatingMs;
}

void StartupUsbAgainstVirtualBoard(benchmark::State& state) {
    std::vector<double> onVirtual, onUsb;
    for (auto _ : state) {
        kovra610::d2xx::installBackend(kovra610::vboard::makeVirtualBoardBackend());
        const double v = startUp();
        setenv("KOVRA610_BOARD", "usb", 1);
        kovra610::d2xx::installBackend(nullptr);
        const double u = startUp();
        if (v < 0 || u < 0) {
            state.SkipWithError("a start-up did not reach the event loop");
            return;
        }
        state.SetIterationTime((v + u) / 1000.0);
        onVirtual.push_back(v);
        onUsb.push_back(u);
    }
    const double v = median(onVirtual), u = median(onUsb);
    state.counters["virtual_board_ms"] = v;
    state.counters["emulated_usb_ms"] = u;
    state.counters["usb_vs_virtual"] = u / v;
    state.counters["target_met"] = u <= v * 1.05 ? 1 : 0;
}

BENCHMARK(StartupUsbAgainstVirtualBoard)
    ->Name("Startup/usb_vs_virtual_board")
    ->Iterations(9)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Starts the benchmark again with the emulated bus first in the library
// path, unless it is loaded already.
void loadEmulatedBus(char** argv) {
    if (dlsym(RTLD_DEFAULT, "kovra610_usb_contexts_made") != nullptr) return;
    if (std::getenv("KOVRA610_BENCH_RESTARTED") != nullptr) {
        std::fprintf(stderr, "the emulated USB bus in %s did not load\n", KOVRA610_USB_DEVICE_DIR);
        std::exit(1);
    }
    const char* old = std::getenv("LD_LIBRARY_PATH");
    std::string path = KOVRA610_USB_DEVICE_DIR;
    if (old != nullptr && *old != '\0') path += std::string(":") + old;
    setenv("LD_LIBRARY_PATH", path.c_str(), 1);
    setenv("KOVRA610_BENCH_RESTARTED", "1", 1);
    execv("/proc/self/exe", argv);
    std::perror("restarting the benchmark");
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    loadEmulatedBus(argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char dir[] = "/tmp/kovra610-usb-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    fs::create_directories(fs::path(dir) / "Dac");
    fs::copy_file(fs::path(KOVRA610_SOURCE_DIR) / "app/setups/kovra610_defaults.sbus",
                  fs::path(dir) / "Dac/kovra610_defaults.sbus");
    fs::current_path(dir);

    static char arg0[] = "usb_startup_bench";
    static char* qtArgv[] = {arg0, nullptr};
    if (InitCVIRTE(nullptr, qtArgv, nullptr) == 0) return 1;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::current_path("/");
    fs::remove_all(dir);
    return 0;
}
