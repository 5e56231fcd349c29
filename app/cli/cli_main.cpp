// kovra610-cli's run: the command line read and checked, the board brought
// up exactly as the panel program does, then the sub-commands or the serve
// session run through the same routines as the panel's controls, so that a
// setup applied from a script reaches the chip exactly as it would from the
// panel.
#include "app/cli/cli_main.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QtGlobal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/core/setup_files.h"
#include "app/startup.h"
#include "codec/codec.h"
#include "codec/register_fields.h"
#include "link/FT2232H.h"
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

// The last line complained of: a serve session's start-up error answer
// carries it, so that a client reading only the answers learns the reason.
std::string lastComplaint;

void complain(const std::string& line) {
    lastComplaint = line;
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
    std::fflush(stderr);
}

void writeJson(const std::string& line) {
    std::fputs(line.c_str(), jsonOut);
    std::fputc('\n', jsonOut);
    std::fflush(jsonOut);
}

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

// --attach: the image read back from the chip instead of the reset and the
// default setup file sent.
int attachToBoard() {
    const int result = sbus_attach();
    if (result == ATTACH_LINK_DOWN) return kLinkDown;
    if (result == ATTACH_READ_FAILED) {
        complain("start-up: " + sbus_batched_read_failure());
        return kStepFailed;
    }
    return kDone;
}

// The panel's start-up, or the image read from the chip with --attach.
// kDone when the link is up and nothing went wrong.
int startUp(bool attach) {
    if (attach) {
        // A read-back that failed on a lost link is reported as link down.
        if (attachToBoard() == kStepFailed && linkUp()) return kStepFailed;
    } else {
        sbus_initialize();
    }
    std::fflush(stdout);
    const std::string popups = g_popups.take();
    if (!linkUp()) {
        // The driver's reason, when it gave one: the board named is not
        // attached, or another program holds it.
        const std::string problem = kovra610::d2xx::lastBoardProblem();
        complain(
            "start-up: link down: " + (problem.empty() ? "no KOVRA610 board answered" : problem) +
            " (Check Board Power)");
        return kLinkDown;
    }
    if (!popups.empty()) {
        complain("start-up: " + popups);
        return kStepFailed;
    }
    return kDone;
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
    // Without its default setup file start-up loads no setup.
    const std::string defaultProblem = sbus_default_setup_problem();
    if (invocation.attach && !defaultProblem.empty()) {
        char path[DEFAULT_SETUP_PATH_SIZE];
        const bool named = sbus_default_setup_path(path, sizeof path) == 0;
        *why = std::string("--attach takes the entries' names and addresses from ") +
               (named ? path : "the default setup file") + ": " + defaultProblem;
        return false;
    }
    if (const auto problem = checkSetupLoaded(invocation.steps, defaultProblem.empty())) {
        *why = *problem;
        return false;
    }
    return true;
}

// The reason start-up gave on standard error, without its "start-up: ".
std::string startUpReason() {
    return lastComplaint.rfind("start-up: ", 0) == 0 ? lastComplaint.substr(10) : lastComplaint;
}

// The start-up's outcome in the session log, as the panel records it: the
// board, and the port opened or why none was.
void logStartUp(int status) {
    if (!kovra610::sessionlog::isOpen()) return;
    JsonMembers members;
    const std::string device = kovra610::d2xx::openedPortJson();
    if (status == kDone && !device.empty()) members.raw("device", device);
    if (status != kDone) members.add("error", startUpReason()).add("status", status);
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

    const bool panelUp = bringUpPanel(program);
    int status = panelUp ? startUp(invocation.attach) : kStepFailed;
    logStartUp(status);
    if (status == kDone && json) writeJson(helloLine());
    if (status != kDone && invocation.mode == Mode::Serve) {
        std::string why = startUpReason();
        if (why.empty()) why = "start-up failed (exit status " + std::to_string(status) + ")";
        writeJson(errorLine("start-up", why));
    }
    if (status == kDone)
        status = invocation.mode == Mode::Serve ? serve(fields, g_popups, in, jsonOut)
                                                : runSteps(invocation, fields);
    if (panelUp) DiscardPanel(panelHandle);
    CloseFT2232HDevice();
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
