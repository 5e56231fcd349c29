// kovra610-cli's run: the command line read and checked, the board brought
// up exactly as the panel program does, then the sub-commands or the serve
// session run through the same routines as the panel's controls, so that a
// setup applied from a script reaches the chip exactly as it would from the
// panel.
#include "app/cli/cli_main.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/core/setup_files.h"
#include "app/startup.h"
#include "codec/register_fields.h"
#include "platform/d2xx/backend.h"
#include "platform/runtime/panel_runtime.h"
#include "platform/session_log/session_log.h"

using namespace kovra610::cli;

namespace {

// Where JSON lines go: the process's standard output. In JSON runs the
// system's own console output is moved to standard error, so that this is
// the only writer on standard output.
FILE* jsonOut = nullptr;

// Popups are collected and reported after each step.
CollectedPopups g_popups;

void complain(const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
    std::fflush(stderr);
}

void writeJson(const std::string& line) {
    std::fputs(line.c_str(), jsonOut);
    std::fputc('\n', jsonOut);
    std::fflush(jsonOut);
}

int runSteps(const Invocation& invocation, const PanelFields& fields) {
    for (const Step& step : invocation.steps) {
        const Answer answer = runStep(step, fields, g_popups);
        if (invocation.json) {
            for (const std::string& row : answer.rows) writeJson(row);
        }
        if (!logCommand(step.text, step.label, answerObject(step, answer))) return kStepFailed;
        if (!answer.ok) {
            complain("step " + step.label + ": " + answer.why);
            return answer.failure;
        }
        if (!answer.note.empty()) complain("step " + step.label + ": " + answer.note);
        if (answer.differs) {
            complain("step " + step.label + ": " + answer.why);
            return kStepFailed;
        }
    }
    return kDone;
}

// Usage errors found before the board is touched: the board setting, the
// setup files the steps load, and a setup for the steps that need one.
bool usable(const Invocation& invocation, std::string* why) {
    if (!kovra610::d2xx::boardSettingKnown(why)) return false;
    if (const auto problem = checkSetupFiles(invocation.steps)) {
        *why = *problem;
        return false;
    }
    const std::string attachProblem = invocation.attach ? sbus_attach_problem() : "";
    if (!attachProblem.empty()) {
        *why = attachProblem;
        return false;
    }
    // Without its default setup file start-up loads no setup.
    if (const auto problem =
            checkSetupLoaded(invocation.steps, sbus_default_setup_problem().empty())) {
        *why = *problem;
        return false;
    }
    return true;
}

// The start-up's outcome in the session log, as the panel records it: the
// board, and the port opened or why none was.
void logStartUp(int status, const std::string& why) {
    if (!kovra610::sessionlog::isOpen()) return;
    JsonMembers members;
    const std::string device = kovra610::d2xx::openedPortJson();
    if (status == kDone && !device.empty()) members.raw("device", device);
    if (status != kDone) members.add("error", why).add("status", status);
    kovra610::sessionlog::recordStartUp(status == kDone,
                                        kovra610::d2xx::activeBackend().boardSerial(), members);
}

// Opens the session log of --log before the board is touched; false, with
// the reason, when it cannot be written.
bool openLog(const Invocation& invocation, std::string* why) {
    if (invocation.log.empty()) return true;
    return kovra610::sessionlog::open(invocation.log, kProgram, KOVRA610_VERSION,
                                      kovra610::d2xx::boardSettingText(), why);
}

// Standard output keeps the JSON lines; the console goes to stderr.
bool separateJson() {
    const int json = dup(STDOUT_FILENO);
    if (json < 0 || (jsonOut = fdopen(json, "w")) == nullptr ||
        dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        complain(std::string("cannot set up the JSON output: ") + std::strerror(errno));
        return false;
    }
    setvbuf(jsonOut, nullptr, _IOLBF, 0);
    return true;
}

int runBoard(char* program, const Invocation& invocation, const PanelFields& fields, FILE* in) {
    const bool json = invocation.json || invocation.mode == Mode::Serve;
    if (json && !separateJson()) return kStepFailed;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    std::string why;
    const int startUp = sbus_start_up_headless(program, invocation.attach, &g_popups, &why);
    int status = startUp == START_UP_DONE        ? kDone
                 : startUp == START_UP_LINK_DOWN ? kLinkDown
                                                 : kStepFailed;
    if (status != kDone) complain("start-up: " + why);
    logStartUp(status, why);
    if (status == kDone && json) writeJson(helloLine());
    // A serve session's first line answers for its start-up.
    if (status != kDone && invocation.mode == Mode::Serve) writeJson(errorLine("start-up", why));
    if (status == kDone)
        status = invocation.mode == Mode::Serve ? serve(fields, g_popups, in, jsonOut)
                                                : runSteps(invocation, fields);
    sbus_shut_down_headless();
    if (jsonOut != nullptr) {
        // Standard output goes back where it went before the run.
        std::fflush(stdout);
        dup2(fileno(jsonOut), STDOUT_FILENO);
        std::fclose(jsonOut);
        jsonOut = nullptr;
    }
    return status;
}

}  // namespace

namespace kovra610::cli {

int runCommandLine(int argc, char* argv[], FILE* in) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    PanelFields fields;
    std::string why;
    read_register_fields(panel_file_beside_program(PANEL_FILE), &fields,
                         &why);  // a panel that cannot be read fails at bring-up
    // Hidden: the register fields and their values' captions, one
    // "FIELD<TAB>caption" line each, for the shell's completion of set/get.
    if (args.size() == 1 && args[0] == "--complete-fields") {
        for (const RegisterField& f : fields.fields) {
            for (const std::string& caption : f.captions)
                std::printf("%s\t%s\n", f.name.c_str(), runtime::trimmed(caption).c_str());
            if (f.captions.empty()) std::printf("%s\n", f.name.c_str());
        }
        return fields.fields.empty() ? kStepFailed : kDone;
    }
    const Parsed parsed = parseCommandLine(args, fields);
    if (!parsed.invocation) {
        complain(parsed.error);
        return kUsage;
    }
    const Invocation& invocation = *parsed.invocation;
    switch (invocation.mode) {
        case Mode::Help:
            std::fputs(helpText(), stdout);
            return kDone;
        case Mode::Version:
            std::printf("%s %s\n", kProgram, KOVRA610_VERSION);
            return kDone;
        case Mode::Devices:
            return listDevices(invocation.json);
        case Mode::Steps:
        case Mode::Serve:
            break;
    }
    if (!usable(invocation, &why) || !openLog(invocation, &why)) {
        complain(why);
        // A serve session's first line answers for its start-up, this one too.
        if (invocation.mode == Mode::Serve) std::printf("%s\n", errorLine("start-up", why).c_str());
        return kUsage;
    }
    char program[] = "kovra610-cli";
    const int status =
        runBoard(argc > 0 && argv[0] != nullptr ? argv[0] : program, invocation, fields, in);
    if (kovra610::sessionlog::isOpen()) kovra610::sessionlog::close(status);
    return status;
}

}  // namespace kovra610::cli
