// kovra610-cli from process start to exit on the virtual board, against the
// floor its start-up sets: the link open waits 200 ms before it synchronises
// and start-up waits 0.2 s after reading the default setup file, so no run
// can take less than 0.4 s. The target is within 20 % of that floor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr double kFloorSeconds = 0.2 + 0.2;

// A working directory with Dac/kovra610_defaults.sbus and a second setup
// file to load.
class Bench {
public:
    Bench() {
        std::string pattern = (fs::temp_directory_path() / "kovra610-cli-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        dir_ = pattern;
        fs::create_directories(dir_ / "Dac");
        fs::copy_file(KOVRA610_DEFAULT_SETUP, dir_ / "Dac" / "kovra610_defaults.sbus");
        fs::copy_file(KOVRA610_DEFAULT_SETUP, dir_ / "Dac" / "bench.sbus");
        setenv("KOVRA610_BOARD", "virtual", 1);
        unsetenv("KOVRA610_BOARD_TRACE");
    }
    ~Bench() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Runs the program with its output thrown away; its exit status.
    int run(const std::vector<std::string>& args) const {
        std::vector<char*> argv;
        std::string program = KOVRA610_CLI_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const std::string cwd = fs::current_path().string();
        fs::current_path(dir_);
        pid_t pid = 0;
        const int spawned =
            posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        fs::current_path(cwd);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return -1;
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    fs::path dir_;
};

// User and system time of the waited-for children so far.
double childCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void runAgainstFloor(benchmark::State& state, const std::vector<std::string>& args) {
    Bench bench;
    const double cpuBefore = childCpuSeconds();
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int status = bench.run(args);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
        if (status != 0) {
            state.SkipWithError("kovra610-cli failed");
            return;
        }
    }
    const double mean = total / static_cast<double>(state.iterations());
    state.counters["floor_s"] = kFloorSeconds;
    state.counters["over_floor_%"] = 100.0 * (mean - kFloorSeconds) / kFloorSeconds;
    // The program's own work (CPU time per run): on a machine shared with
    // other work, the wall time also holds the time spent waiting for a core.
    state.counters["cpu_ms"] =
        1000.0 * (childCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations());
}

// The target: load a setup file, start to exit.
void BM_LoadSetupFile(benchmark::State& state) {
    runAgainstFloor(state, {"load", "Dac/bench.sbus"});
}
BENCHMARK(BM_LoadSetupFile)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Start-up alone (one chip reset after it), for comparison.
void BM_StartUpOnly(benchmark::State& state) {
    runAgainstFloor(state, {"reset"});
}
BENCHMARK(BM_StartUpOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
