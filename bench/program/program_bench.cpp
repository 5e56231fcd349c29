// The program as the operator feels it, headless (QT_QPA_PLATFORM=offscreen)
// on the virtual board. Each benchmark reports its measured value beside the
// floor that the program's fixed waits set, and whether it meets its target:
//
//   Startup/in_process   main called to event loop running; floor 400 ms (the
//                        link open's 200 ms wait and the 0.2 s after the
//                        default file); target within 15 %.
//   Startup/process      the real kovra610 binary: process start to event
//                        loop running (and to Qt being up, to the panel on
//                        screen, and to its end after an "Exit" press); same
//                        floor and target; peak memory of the process.
//   RegisterCommit       a DRVFORCE commit to its word at the chip; no fixed
//                        wait; target median and 99th percentile under 2 ms.
//   ReadAllRegs          "Read all Regs"; floor 40 reads of 10 ms (400 ms);
//                        target within 10 %.
//   IdleCpu              CPU time over 5 s of idle event loop; target < 1 %.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/kovra610 evaluation board.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/d2xx/backend.h"
#include "platform/d2xx/virtual_board/virtual_board.h"
#include "platform/runtime/panel_operator.h"
#include "platform/runtime/panel_runtime.h"
#include "platform/runtime/popup_answers.h"
#include "watched_backend.h"

int kovra610_main(int argc, char* argv[]);

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace operate = kovra610::runtime::operate;
using Clock = std::chrono::steady_clock;
using kovra610::vboard::VirtualBoard;

constexpr double kStartupFloorMs = 400.0;
constexpr double kReadAllFloorMs = 40 * 10.0;
constexpr double kCommitTargetMs = 2.0;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size())));
    return v[std::min(v.size() - 1, rank > 0 ? rank - 1 : 0)];
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double maxRssMb(const rusage& u) {
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void reportAgainstFloor(benchmark::State& state, double measuredMs, double floorMs,
                        double allowance) {
    state.counters["measured_ms"] = measuredMs;  // the median
    state.counters["floor_ms"] = floorMs;
    state.counters["vs_floor"] = measuredMs / floorMs;
    state.counters["target_met"] = measuredMs <= floorMs * (1.0 + allowance) ? 1 : 0;
}

// A fresh working directory holding Dac/ with the default setup file, made
// current for the life of the object.
class WorkDir {
public:
    WorkDir() {
        char pattern[] = "/tmp/kovra610-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        dir_ = pattern;
        fs::create_directories(dir_ / "Dac");
        fs::copy_file(fs::path(KOVRA610_SOURCE_DIR) / "app/setups/kovra610_defaults.sbus",
                      dir_ / "Dac/kovra610_defaults.sbus");
        previous_ = fs::current_path();
        fs::current_path(dir_);
    }
    ~WorkDir() {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    const fs::path& path() const { return dir_; }

private:
    fs::path dir_, previous_;
};

// The program's console goes nowhere while it runs, so that the results
// stay readable.
class QuietConsole {
public:
    QuietConsole() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietConsole() {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;

private:
    int saved_;
};

// Notes the wall time of the first and the last driver call, which splits
// start-up into the panel coming up (before the link is opened) and the
// link's part (open, reset, default file, send).
struct DriverCallTimes {
    Clock::time_point first{}, last{};
    void note() {
        last = Clock::now();
        if (first == Clock::time_point{}) first = last;
    }
};

// Runs the program's main in-process on a fresh virtual board, calls
// `operate` once the event loop runs, then presses "Exit". Returns the time
// from calling main to the event loop running, in ms (negative when the
// loop never ran).
struct StartupTimes {
    double operatingMs = -1.0;  // main called to event loop running
    double panelMs = -1.0;      // main called to the link's first driver call
    double linkMs = -1.0;       // first to last driver call of start-up
};

StartupTimes runProgram(const std::shared_ptr<VirtualBoard>& board,
                        const std::function<void()>& operate) {
    delete[] g_DACSETUPFILES;
    g_DACSETUPFILES = nullptr;
    sbus_structure = sbus_structure_initial_contents();
    std::memset(&sbus_last_sent, 0xFF, sizeof sbus_last_sent);
    auto timed = std::make_shared<DriverCallTimes>();
    kovra610::d2xx::installBackend(std::make_shared<kovra610::testing::WatchedBackend>(
        board, [timed](const char*) { timed->note(); }));

    StartupTimes times;
    const Clock::time_point t0 = Clock::now();
    std::function<void()> whenOperating = [&] {
        // Events processed during start-up (inside a transfer) come before
        // the event loop runs: wait for the loop.
        if (QThread::currentThread()->loopLevel() == 0) {
            QTimer::singleShot(1, whenOperating);
            return;
        }
        times.operatingMs = msSince(t0);
        if (timed->first != Clock::time_point{}) {
            times.panelMs = std::chrono::duration<double, std::milli>(timed->first - t0).count();
            times.linkMs =
                std::chrono::duration<double, std::milli>(timed->last - timed->first).count();
        }
        if (operate) operate();
        operate::press(panelHandle, COMMANDBUTTON_7);
    };
    QTimer::singleShot(0, whenOperating);
    {
        const QuietConsole quiet;
        static char arg0[] = "kovra610";
        static char* argv[] = {arg0, nullptr};
        kovra610_main(1, argv);
    }
    kovra610::d2xx::installBackend(nullptr);
    return times;
}

void StartupInProcess(benchmark::State& state) {
    const WorkDir work;
    std::vector<double> times, panel, link;
    for (auto _ : state) {
        auto board = std::make_shared<VirtualBoard>();
        const StartupTimes t = runProgram(board, {});
        if (t.operatingMs < 0 || t.panelMs < 0 || board->chip().words().size() < 40) {
            state.SkipWithError("start-up did not reach the event loop with the image sent");
            return;
        }
        state.SetIterationTime(t.operatingMs / 1000.0);
        times.push_back(t.operatingMs);
        panel.push_back(t.panelMs);
        link.push_back(t.linkMs);
    }
    reportAgainstFloor(state, percentile(times, 0.5), kStartupFloorMs, 0.15);
    state.counters["best_ms"] = percentile(times, 0.0);
    state.counters["panel_ms"] = percentile(panel, 0.5);
    state.counters["link_ms"] = percentile(link, 0.5);
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    state.counters["bench_maxrss_MB"] = maxRssMb(u);
}

// The exit hook's notes: when Qt was up, when the panel was first on screen
// and when the event loop ran, with the peak memory then, and the peak
// memory of the whole run.
struct HookReport {
    long long applicationMade = -1, exposed = -1, operating = -1;
    long peakAtOperatingKb = -1, peakKb = -1;
};

HookReport readHookReport(const fs::path& file) {
    std::ifstream in(file);
    HookReport r;
    long long zero = 0;
    in >> r.applicationMade >> r.exposed >> r.operating >> r.peakAtOperatingKb >> zero >> zero >>
        zero >> r.peakKb;
    return r;
}

long long monotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// One run of the real program: process start to its end after the exit
// hook's "Exit" press, with what the hook noted. Times in ms from the start.
struct ProcessRun {
    bool ok = false;
    double qtUp = 0, onScreen = 0, operating = 0, whole = 0, peakOperatingMb = 0, peakMb = 0;
};

class ProgramProcess {
public:
    explicit ProgramProcess(const fs::path& dir)
        : report_((dir / "operating.txt").string()), console_((dir / "console.txt").string()) {
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string s = *e;
            if (s.rfind("KOVRA610_BOARD=", 0) == 0 || s.rfind("QT_QPA_PLATFORM=", 0) == 0 ||
                s.rfind("LD_PRELOAD=", 0) == 0)
                continue;
            env_.push_back(s);
        }
        env_.push_back("KOVRA610_BOARD=virtual");
        env_.push_back("QT_QPA_PLATFORM=offscreen");
        env_.push_back(std::string("LD_PRELOAD=") + KOVRA610_EXIT_HOOK);
        env_.push_back("KOVRA610_BENCH_REPORT=" + report_);
    }

    ProcessRun run() {
        std::vector<char*> envp;
        for (std::string& s : env_) envp.push_back(s.data());
        envp.push_back(nullptr);
        char program[] = KOVRA610_PROGRAM;
        char* argv[] = {program, nullptr};

        fs::remove(report_);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, console_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const long long t0 = monotonicNs();
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ProcessRun r;
        if (spawned != 0) return r;
        int status = 0;
        waitpid(pid, &status, 0);
        const long long tEnd = monotonicNs();
        const HookReport hook = readHookReport(report_);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || hook.operating < t0 ||
            hook.exposed < t0) {
            std::ifstream in(console_);
            std::fprintf(stderr, "--- the program's standard error ---\n%s\n",
                         std::string(std::istreambuf_iterator<char>(in), {}).c_str());
            return r;
        }
        r.ok = true;
        r.qtUp = static_cast<double>(hook.applicationMade - t0) / 1e6;
        r.onScreen = static_cast<double>(hook.exposed - t0) / 1e6;
        r.operating = static_cast<double>(hook.operating - t0) / 1e6;
        r.whole = static_cast<double>(tEnd - t0) / 1e6;
        r.peakOperatingMb = static_cast<double>(hook.peakAtOperatingKb) / 1024.0;
        r.peakMb = static_cast<double>(hook.peakKb) / 1024.0;
        return r;
    }

private:
    std::string report_, console_;
    std::vector<std::string> env_;
};

void StartupProcess(benchmark::State& state) {
    const WorkDir work;
    ProgramProcess program(work.path());
    // One run first, not timed: the measure is a start with the program and
    // its libraries in the page cache, as an engineer starting the tool
    // again meets it, not a read from disk after a cold boot.
    if (!program.run().ok) {
        state.SkipWithError("the program did not reach its event loop and end with 0");
        return;
    }
    std::vector<double> qtUp, onScreen, operating, whole, rssOperating, rss;
    for (auto _ : state) {
        const ProcessRun r = program.run();
        if (!r.ok) {
            state.SkipWithError("the program did not reach its event loop and end with 0");
            return;
        }
        qtUp.push_back(r.qtUp);
        onScreen.push_back(r.onScreen);
        operating.push_back(r.operating);
        whole.push_back(r.whole);
        rssOperating.push_back(r.peakOperatingMb);
        rss.push_back(r.peakMb);
        state.SetIterationTime(r.operating / 1000.0);
    }
    reportAgainstFloor(state, percentile(operating, 0.5), kStartupFloorMs, 0.15);
    state.counters["best_ms"] = percentile(operating, 0.0);
    state.counters["to_qt_ms"] = percentile(qtUp, 0.5);
    state.counters["on_screen_ms"] = percentile(onScreen, 0.5);
    state.counters["start_to_exit_ms"] = percentile(whole, 0.5);
    state.counters["peak_operating_MB"] =
        *std::max_element(rssOperating.begin(), rssOperating.end());
    state.counters["peak_MB"] = *std::max_element(rss.begin(), rss.end());
}

// Runs the program on a virtual board and does `action(board, ms)` once an
// iteration: one operator action that sets `ms` to the time it took and
// returns what went wrong (null when nothing did). The times in ms; empty,
// the run skipped with its error, when an action went wrong or the event
// loop never ran.
template <typename Action>
std::vector<double> timeActions(benchmark::State& state, Action action) {
    const WorkDir work;
    auto board = std::make_shared<VirtualBoard>();
    std::vector<double> times;
    const char* fault = nullptr;
    runProgram(board, [&] {
        for (auto _ : state) {
            double ms = 0;
            fault = action(*board, ms);
            if (fault != nullptr) break;
            state.SetIterationTime(ms / 1000.0);
            times.push_back(ms);
        }
    });
    if (fault != nullptr || times.empty()) {
        state.SkipWithError(fault != nullptr ? fault : "the event loop never ran");
        times.clear();
    }
    return times;
}

void RegisterCommit(benchmark::State& state) {
    // Driver force states, each different from the one before.
    static const int kStates[] = {1, 3, 5, 7, 0};
    std::size_t k = 0;
    const auto times =
        timeActions(state, [&](const VirtualBoard& board, double& ms) -> const char* {
            const int value = kStates[k++ % 5];
            const std::size_t before = board.chip().words().size();
            const Clock::time_point t0 = Clock::now();
            operate::commit(panelHandle, DRVFORCE, value);
            ms = msSince(t0);
            const auto& words = board.chip().words();
            if (words.size() == before || words.back().addr != 0x19 || words.back().rw != 1)
                return "the commit did not reach the chip as a driver-register write";
            return nullptr;
        });
    if (times.empty()) return;
    const double p50 = percentile(times, 0.5), p99 = percentile(times, 0.99);
    state.counters["p50_ms"] = p50;
    state.counters["p99_ms"] = p99;
    state.counters["target_ms"] = kCommitTargetMs;
    state.counters["target_met"] = p99 < kCommitTargetMs ? 1 : 0;
}

void ReadAllRegs(benchmark::State& state) {
    const auto times = timeActions(state, [](const VirtualBoard& board, double& ms) -> const char* {
        const std::size_t before = board.chip().answers().size();
        const Clock::time_point t0 = Clock::now();
        operate::press(panelHandle, ALL_2);
        ms = msSince(t0);
        if (board.chip().answers().size() - before != 40)
            return "\"Read all Regs\" did not read 40 words";
        return nullptr;
    });
    if (times.empty()) return;
    reportAgainstFloor(state, percentile(times, 0.5), kReadAllFloorMs, 0.10);
    state.counters["best_ms"] = percentile(times, 0.0);
    state.counters["p99_ms"] = percentile(times, 0.99);
}

void IdleCpu(benchmark::State& state) {
    const WorkDir work;
    auto board = std::make_shared<VirtualBoard>();
    double cpuPercent = -1.0;
    runProgram(board, [&] {
        for (auto _ : state) {
            QEventLoop idle;
            const double cpu0 = cpuSeconds();
            const Clock::time_point t0 = Clock::now();
            QTimer::singleShot(5000, Qt::PreciseTimer, &idle, &QEventLoop::quit);
            idle.exec();
            const double wallMs = msSince(t0);
            cpuPercent = 100.0 * (cpuSeconds() - cpu0) * 1000.0 / wallMs;
            state.SetIterationTime(wallMs / 1000.0);
        }
    });
    if (cpuPercent < 0) {
        state.SkipWithError("the event loop never ran");
        return;
    }
    state.counters["cpu_percent"] = cpuPercent;
    state.counters["target_percent"] = 1.0;
    state.counters["target_met"] = cpuPercent < 1.0 ? 1 : 0;
}

BENCHMARK(StartupInProcess)
    ->Name("Startup/in_process")
    ->Iterations(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(StartupProcess)
    ->Name("Startup/process")
    ->Iterations(9)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RegisterCommit)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ReadAllRegs)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(IdleCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Headless unless told otherwise; the panel run-time needs its
    // application object before any timer can be set.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static char arg0[] = "program_bench";
    static char* qtArgv[] = {arg0, nullptr};
    if (InitCVIRTE(nullptr, qtArgv, nullptr) == 0) return 1;
    // Popups never wait, as in kovra610-cli.
    static kovra610::runtime::CollectedPopups popups;
    kovra610::runtime::installPopupAnswers(&popups);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
