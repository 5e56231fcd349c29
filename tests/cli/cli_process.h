// Runs the built kovra610-cli as a child process on the virtual board, from
// a fresh working directory that holds Dac/kovra610_defaults.sbus.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kovra610::cli::testing {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeWhole(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string quoted(const std::string& word) {
    std::string q = "'";
    for (char c : word) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// A working directory of its own, removed afterwards.
class WorkDir {
public:
    WorkDir() {
        std::string pattern = (fs::temp_directory_path() / "kovra610-cli-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
        fs::create_directories(path_ / "Dac");
        fs::copy_file(KOVRA610_DEFAULT_SETUP, path_ / "Dac" / "kovra610_defaults.sbus");
    }
    ~WorkDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

    // Runs the program with these arguments; `environment` holds extra
    // NAME=VALUE settings (KOVRA610_BOARD=virtual is always set first),
    // `input` its standard input.
    Outcome run(const std::vector<std::string>& args,
                const std::vector<std::string>& environment = {},
                const std::string& input = "") const {
        const fs::path out = path_ / ".out", err = path_ / ".err", in = path_ / ".in";
        writeWhole(in, input);
        std::string command = "cd ";
        command += quoted(path_.string());
        command += " && env KOVRA610_BOARD=virtual";
        auto add = [&command](const char* separator, const std::string& word) {
            command += separator;
            command += quoted(word);
        };
        for (const std::string& e : environment) add(" ", e);
        add(" ", KOVRA610_CLI_PATH);
        for (const std::string& a : args) add(" ", a);
        add(" >", out.string());
        add(" 2>", err.string());
        add(" <", in.string());
        Outcome run;
        const int raw = std::system(command.c_str());
        if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
        run.out = readWhole(out);
        run.err = readWhole(err);
        fs::remove(out);
        fs::remove(err);
        fs::remove(in);
        return run;
    }

    // Names in the directory (the Dac folder aside).
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) {
            const std::string name = e.path().filename().string();
            if (name != "Dac") names.push_back(name);
        }
        return names;
    }

private:
    fs::path path_;
};

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

}  // namespace kovra610::cli::testing
