// A running kovra610-cli serve session on the virtual board: a command's
// time from request to answer, and the Python client's round trips.
//  - read-all --fast of the 40 entries: target at most 10 ms (the wire time
//    alone at 1.875 MHz is about 2.7 ms; "Read all Regs" waits 400 ms);
//  - one level command: target p99 under 2 ms;
//  - the Python client: 1,000 level + get round trips, in operations per
//    second.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/cli_process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using kovra610::cli::testing::WorkDir;

// One kovra610-cli serve process on the virtual board, spoken to through
// pipes.
class Session {
public:
    explicit Session(const fs::path& dir) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        setenv("KOVRA610_BOARD", "virtual", 1);
        unsetenv("KOVRA610_BOARD_TRACE");
        const fs::path cwd = fs::current_path();
        fs::current_path(dir);
        std::string program = KOVRA610_CLI_PATH, serve = "serve";
        char* argv[] = {program.data(), serve.data(), nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0)
            std::abort();
        fs::current_path(cwd);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
        hello_ = line();
    }
    ~Session() {
        ask("quit");
        close(to_);
        close(from_);
        waitpid(pid_, nullptr, 0);
    }

    bool started() const { return hello_.find("\"ok\":true") != std::string::npos; }

    // Sends one command and returns its answer line.
    std::string ask(const std::string& command) {
        const std::string text = command + "\n";
        if (write(to_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
        return line();
    }

private:
    std::string line() {
        for (;;) {
            const std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string out = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return out;
            }
            char chunk[65536];
            const ssize_t n = read(from_, chunk, sizeof chunk);
            if (n <= 0) return "";
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    pid_t pid_ = 0;
    int to_ = -1, from_ = -1;
    std::string buffer_, hello_;
};

// Times `command(i)` request to answer; reports the median and the 99th
// percentile against `targetMs`.
template <typename Command>
void timeCommands(benchmark::State& state, Command command, double targetMs) {
    WorkDir dir;
    Session session(dir.path());
    if (!session.started()) {
        state.SkipWithError("kovra610-cli serve did not start");
        return;
    }
    std::vector<double> ms;
    int i = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::string answer = session.ask(command(i++));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        ms.push_back(seconds * 1000);
        if (answer.rfind("{\"ok\":true", 0) != 0) {
            state.SkipWithError(("refused: " + answer).c_str());
            return;
        }
    }
    std::sort(ms.begin(), ms.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    state.counters["target_ms"] = targetMs;
}

void BM_ServeReadAllFast(benchmark::State& state) {
    timeCommands(
        state, [](int) { return std::string("read-all --fast"); }, 10.0);
}
BENCHMARK(BM_ServeReadAllFast)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

// Each level differs from the one before, so its word is sent.
void BM_ServeLevel(benchmark::State& state) {
    timeCommands(
        state, [](int i) { return "level 0 " + std::to_string(1.0 + (i % 100) * 0.01); }, 2.0);
}
BENCHMARK(BM_ServeLevel)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2000);

// The Python client's loop, run by python3: its operations per second.
void BM_PythonLevelGetLoop(benchmark::State& state) {
    WorkDir dir;
    for (auto _ : state) {
        const std::string command = std::string("cd '") + dir.path().string() +
                                    "' && PYTHONPATH='" KOVRA610_PYTHON_DIR "' KOVRA610_CLI='" +
                                    KOVRA610_CLI_PATH + "' python3 '" KOVRA610_PYTHON_LOOP "' 1000";
        FILE* loop = popen(command.c_str(), "r");
        char text[128] = "";
        const bool read = loop != nullptr && std::fgets(text, sizeof text, loop) != nullptr;
        const int status = loop != nullptr ? pclose(loop) : -1;
        if (!read || status != 0) {
            state.SkipWithError("the Python loop failed");
            return;
        }
        state.counters["round_trips_per_s"] = std::atof(text);
    }
}
BENCHMARK(BM_PythonLevelGetLoop)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
