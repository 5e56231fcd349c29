// kovra610-cli: the bench tool without a display. It brings the board up
// exactly as the panel program does and then runs sub-commands through the
// same routines as the panel's controls, so that a setup applied from a
// script reaches the chip exactly as it would from the panel.
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cli_steps.h"
#include "app/cli/collected_popups.h"
#include "app/kovra610 evaluation board.h"
#include "codec/codec.h"
#include "link/FT2232H.h"
#include "panel/callbacks.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/protocol/sbus_protocol.h"
#include "platform/runtime/panel_operator.h"
#include "platform/runtime/panel_runtime.h"

namespace operate = kovra610::runtime::operate;
using kovra610::cli::Step;
using kovra610::cli::StepKind;

namespace {

const char kProgram[] = "kovra610-cli";

enum ExitStatus { kDone = 0, kUsage = 2, kLinkDown = 3, kStepFailed = 4 };

// Where JSON lines go: the process's standard output. With --json the
// system's own console output is moved to standard error, so that this is
// the only writer on standard output.
FILE* jsonOut = nullptr;

void complain(const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
    std::fflush(stderr);
}

// The link is up while the driver answers on the handle start-up opened.
bool linkUp() {
    if (ftHandle == nullptr) return false;
    DWORD waiting = 0;
    return FT_GetQueueStatus(ftHandle, &waiting) == FT_OK;
}

// A name as a JSON string. Bytes that are not UTF-8 become U+FFFD.
std::string jsonString(const char* text) {
    std::string out = "\"";
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s != 0) {
        const unsigned char c = *s;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++s;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++s;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++s;
        } else {
            int follow = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
            bool valid = follow > 0;
            for (int k = 1; valid && k <= follow; ++k) valid = (s[k] & 0xC0) == 0x80;
            if (valid) {
                out.append(reinterpret_cast<const char*>(s), static_cast<std::size_t>(follow) + 1);
                s += follow + 1;
            } else {
                out += "\\ufffd";
                ++s;
            }
        }
    }
    return out + "\"";
}

// A level as a JSON number: the shortest text that reads back as the same
// double.
std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// A file name as the panel's file dialog hands it over: a full path.
std::string fullPath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char directory[4096];
    if (getcwd(directory, sizeof directory) == nullptr) return path;
    return std::string(directory) + "/" + path;
}

class Runner {
public:
    explicit Runner(bool json) : json_(json) {}

    // Runs one step; on failure `why` says what went wrong.
    bool run(const Step& step, std::string* why) {
        switch (step.kind) {
            case StepKind::Load:
                return load(step, why);
            case StepKind::Save:
                return save(step.path, why);
            case StepKind::ReadAll:
                return readAll(why);
            case StepKind::Write:
                FTD232_sbus_single_write(static_cast<int>(step.ch), static_cast<int>(step.rw),
                                         static_cast<int>(step.addr), static_cast<int>(step.data));
                return true;
            case StepKind::Read:
                return read(step.ch, step.addr, why);
            case StepKind::Bits:
                vector_data_serial_bus_write(step.bits.c_str());
                return true;
            case StepKind::OvdMask:
                set_ovdmask(panelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);
                return true;
            case StepKind::Reset:
                reset(panelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);  // as "Reset Part" does
                return true;
            case StepKind::Clock:
                return committed(operate::commit(panelHandle, CLKFREQ, step.divisor), why);
            case StepKind::Level:
                return committed(
                    operate::commit(panelHandle, rowControl(VoltDataCtrlArr, step.row), step.volts),
                    why);
            case StepKind::Code:
                return committed(
                    operate::commit(panelHandle, rowControl(HexDataCtrlArr, step.row), step.code),
                    why);
        }
        *why = "unknown step";
        return false;
    }

private:
    static int rowControl(int array, unsigned row) {
        return GetCtrlArrayItem(array, static_cast<int>(row));
    }

    static bool committed(int result, std::string* why) {
        if (result >= 0) return true;
        *why = result == UIE_OUT_OF_RANGE ? "the panel refused the value"
                                          : "the panel control could not be operated (error " +
                                                std::to_string(result) + ")";
        return false;
    }

    static bool pathFits(const std::string& path, std::string* why) {
        if (path.size() < SETUP_PATH_SIZE) return true;
        *why = "the path is longer than " + std::to_string(SETUP_PATH_SIZE - 1) +
               " characters: " + path;
        return false;
    }

    static bool load(const Step& step, std::string* why) {
        const std::string& name = step.path;
        // "NOFILE" names no file: the routine loads and sends nothing, which
        // is not an error.
        if (name == "NOFILE") {
            if (sbus_test_setup_write(name.c_str()) == 1)
                complain("step " + step.label + ": NOFILE: nothing loaded, nothing sent");
            return true;
        }
        const std::string path = fullPath(name);
        if (!pathFits(path, why)) return false;
        // The reader would go on to show and send the old image after a
        // file it cannot open; here nothing is done then.
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            *why = errno == ENOENT ? "no such file" : std::strerror(errno);
            return false;
        }
        if (!S_ISREG(info.st_mode)) {
            *why = "not a setup file (not a regular file)";
            return false;
        }
        if (access(path.c_str(), R_OK) != 0) {
            *why = std::strerror(errno);
            return false;
        }
        sbus_test_setup_write(path.c_str());
        return true;
    }

    static bool save(const std::string& name, std::string* why) {
        const std::string path = fullPath(name);
        if (!pathFits(path, why)) return false;
        write_structure_to_sbus_setupfile_pass_filename(path.c_str());
        return true;  // a failure shows as a message popup
    }

    bool readAll(std::string* why) {
        std::fflush(stdout);
        const int result = operate::press(panelHandle, ALL_2);
        std::fflush(stdout);
        if (result < 0) {
            *why = "the \"Read all Regs\" button could not be pressed (error " +
                   std::to_string(result) + ")";
            return false;
        }
        if (!json_) return true;
        const SBUS_STRUCTURE& image = sbus_structure;
        for (int i = 0; i < image.number_registers && i < SBUS_MAX_REGISTERS; ++i) {
            std::fprintf(jsonOut,
                         "{\"index\":%d,\"name\":%s,\"ch\":%d,\"addr\":%d,\"rw\":%d,\"data\":%d,"
                         "\"volts\":%s}\n",
                         i, jsonString(image.name[i]).c_str(), image.ch[i], image.addr[i],
                         image.rw[i], image.data[i], jsonNumber(image.volts[i]).c_str());
        }
        std::fflush(jsonOut);
        return true;
    }

    bool read(unsigned ch, unsigned addr, std::string* why) {
        const unsigned int word =
            FTD232_sbus_single_read(static_cast<int>(ch), 0, static_cast<int>(addr), 0);
        // A read that failed gives 1; an answer word always carries its
        // channel select in bits 25-24.
        if (word == 1) {
            *why = "no answer from the chip";
            return false;
        }
        const kovra610::sbus::Word reply = kovra610::sbus::unpack(word);
        const unsigned replyCh = reply.ch, replyAddr = reply.addr, replyRw = reply.rw,
                       data = reply.data;
        std::printf("ch=0x%X addr=0x%X rw=0x%X data=0x%X %u\n", replyCh, replyAddr, replyRw, data,
                    data);
        std::fflush(stdout);
        if (json_) {
            std::fprintf(jsonOut, "{\"ch\":%u,\"addr\":%u,\"rw\":%u,\"data\":%u,\"word\":%u}\n",
                         replyCh, replyAddr, replyRw, data, word);
            std::fflush(jsonOut);
        }
        return true;
    }

    bool json_;
};

// Popups are collected and reported after each step.
kovra610::cli::CollectedPopups g_popups;

// Once the run-time is up, before the panel is loaded. The panel needs no
// Qt Designer plugins (its own widgets are promoted ones) and no image
// plugins (the board picture is PNG, built in); looking for plugins would
// cost a tenth of a second on every run. Popups never wait for an operator.
void runtimeStarted() {
    QCoreApplication::setLibraryPaths({});
    kovra610::runtime::installPopupAnswers(&g_popups);
}

// The panel's bring-up, as the panel program's, without showing the panel.
bool bringUpPanel(char* program) {
    // Qt keeps the arguments for the life of the process. Only the program
    // name is passed on: the sub-commands are not Qt's options.
    static char* args[] = {program, nullptr};
    const int result = bring_up_panel(args, 0, runtimeStarted);
    if (result == PANEL_RUNTIME_FAILED)
        complain("start-up: the panel run-time could not be started");
    else if (result == PANEL_LOAD_FAILED)
        complain(std::string("start-up: the panel \"") + PANEL_FILE +
                 "\" could not be loaded from the program's folder");
    return result == PANEL_UP;
}

int runSteps(const kovra610::cli::Invocation& invocation) {
    sbus_initialize();
    std::fflush(stdout);
    const std::string startupPopups = g_popups.take();
    if (!linkUp()) {
        complain("start-up: link down: no KOVRA610 board answered (Check Board Power)");
        return kLinkDown;
    }
    if (!startupPopups.empty()) {
        complain("start-up: " + startupPopups);
        return kStepFailed;
    }
    Runner runner(invocation.json);
    for (const Step& step : invocation.steps) {
        std::string why;
        const bool ok = runner.run(step, &why);
        std::fflush(stdout);
        const std::string popups = g_popups.take();
        if (!linkUp()) {
            complain("step " + step.label + ": link down: the link to the board was lost");
            return kLinkDown;
        }
        if (!ok || !popups.empty()) {
            complain("step " + step.label + ": " + (ok ? popups : why));
            return kStepFailed;
        }
    }
    return kDone;
}

}  // namespace

int main(int argc, char* argv[]) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    const kovra610::cli::Parsed parsed = kovra610::cli::parseCommandLine(args);
    if (!parsed.invocation) {
        complain(parsed.error);
        return kUsage;
    }
    const kovra610::cli::Invocation& invocation = *parsed.invocation;
    if (invocation.help) {
        std::fputs(kovra610::cli::helpText(), stdout);
        return kDone;
    }

    if (invocation.json) {
        // Standard output keeps the JSON lines; the console goes to stderr.
        const int json = dup(STDOUT_FILENO);
        if (json < 0 || (jsonOut = fdopen(json, "w")) == nullptr ||
            dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
            complain(std::string("cannot set up the JSON output: ") + std::strerror(errno));
            return kStepFailed;
        }
        setvbuf(jsonOut, nullptr, _IOLBF, 0);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    char program[] = "kovra610-cli";
    int status = kStepFailed;
    if (bringUpPanel(argc > 0 && argv[0] != nullptr ? argv[0] : program)) {
        status = runSteps(invocation);
        DiscardPanel(panelHandle);
    }
    CloseFT2232HDevice();
    if (jsonOut != nullptr) std::fclose(jsonOut);
    return status;
}
