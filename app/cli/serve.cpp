// serve: commands one per line on standard input, each answered by one
// JSON object line, until the end of the input or quit.
#include <cerrno>
#include <cstring>

#include "app/cli/cli.h"
#include "app/core/setup_files.h"
#include "platform/d2xx/backend.h"
#include "platform/runtime/panel_runtime.h"
#include "platform/session_log/session_log.h"
#include "platform/text/text_lines.h"

namespace kovra610::cli {
namespace {

void sessionEnded(const char* why) {
    std::fprintf(stderr, "%s: serve: the answers cannot be written (%s): session ended\n", kProgram,
                 why);
    std::fflush(stderr);
}

// What a line asks, for the session log: the line without its blanks
// around, or its start when it is too long to take.
std::string commandText(const std::string& line, bool tooLong) {
    return tooLong ? line.substr(0, 80) : kovra610::runtime::trimmed(line);
}

// What one command line answers; `quit` is set by quit.
std::string answerLine(const std::string& line, bool tooLong, const PanelFields& fields,
                       CollectedPopups& popups, bool* quit) {
    if (tooLong)
        return errorLine(line.substr(0, 80),
                         "the line is longer than " + std::to_string(kLineLimit) + " characters");
    const Parsed parsed = parseServeLine(line, fields);
    if (!parsed.invocation) return errorLine(line, parsed.error);
    const Step& step = parsed.invocation->steps.front();
    if (step.kind == StepKind::Quit) {
        *quit = true;
        return "{\"ok\":true}";
    }
    if (step.kind == StepKind::Load && step.path != "NOFILE") {
        const std::string problem = sbus_setup_file_problem(step.path.c_str());
        if (!problem.empty()) return errorLine(step.label, problem);
    }
    return answerObject(step, runStep(step, fields, popups));
}

}  // namespace

std::string helloLine() {
    JsonMembers hello;
    hello.raw("ok", "true").add("hello", kProgram).add("version", KOVRA610_VERSION);
    hello.add("board", kovra610::d2xx::boardSettingText());
    const std::string device = kovra610::d2xx::openedPortJson();
    if (!device.empty()) hello.raw("device", device);
    return hello.object();
}

bool logCommand(const std::string& command, const std::string& label, const std::string& answer) {
    if (!kovra610::sessionlog::isOpen() ||
        kovra610::sessionlog::recordCommand(command, label, answer))
        return true;
    std::fprintf(stderr, "%s: %s: the run ends, so that nothing reaches the board unrecorded\n",
                 kProgram, kovra610::sessionlog::lastError().c_str());
    std::fflush(stderr);
    return false;
}

std::string answerObject(const Step& step, const Answer& answer) {
    if (!answer.ok) return errorLine(step.label, answer.why);
    JsonMembers ok;
    ok.raw("ok", "true").append(answer.members);
    return ok.object();
}

std::string errorLine(const std::string& step, const std::string& why) {
    JsonMembers error;
    error.raw("ok", "false").add("error", why).add("step", step);
    return error.object();
}

int serve(const PanelFields& fields, CollectedPopups& popups, FILE* in, FILE* out) {
    std::string line;
    bool tooLong = false, quit = false;
    while (!quit && kovra610::text::readLine(in, kLineLimit, &line, &tooLong)) {
        // Nothing more is done on the board for a session nobody listens to.
        if (kovra610::text::readerGone(out)) {
            sessionEnded("nobody reads them");
            return kStepFailed;
        }
        const std::string reply = answerLine(line, tooLong, fields, popups, &quit);
        if (!logCommand(commandText(line, tooLong), "", reply)) return kStepFailed;
        errno = 0;
        if (!kovra610::text::writeLine(out, reply)) {
            sessionEnded(errno != 0 ? std::strerror(errno) : "write failed");
            return kStepFailed;
        }
    }
    return kDone;
}

}  // namespace kovra610::cli
