// Start-up without a display, for kovra610-cli: the panel brought up and
// never shown, popups answered without an operator, then the program's own
// start-up, or the image read back from the chip.
#include <QCoreApplication>
#include <string>

#include "app/core/setup_files.h"
#include "app/startup.h"
#include "codec/codec.h"
#include "link/FT2232H.h"
#include "platform/d2xx/backend.h"
#include "platform/runtime/panel_runtime.h"
#include "platform/runtime/popup_answers.h"

namespace {

kovra610::runtime::CollectedPopups* headlessPopups = nullptr;

// Once the run-time is up, before the panel is loaded. The panel needs no
// Qt Designer plugins (its own widgets are promoted ones) and no image
// plugins (the board picture is PNG, built in); looking for plugins would
// cost a tenth of a second on every run. Popups never wait for an operator.
void runtimeStarted(void) {
    QCoreApplication::setLibraryPaths({});
    kovra610::runtime::installPopupAnswers(headlessPopups);
}

int failedWith(int result, const std::string& reason, std::string* why) {
    *why = reason;
    return result;
}

}  // namespace

std::string sbus_attach_problem(void) {
    const std::string problem = sbus_default_setup_problem();
    if (problem.empty()) return problem;
    char path[DEFAULT_SETUP_PATH_SIZE];
    const bool named = sbus_default_setup_path(path, sizeof path) == 0;
    return std::string("--attach takes the entries' names and addresses from ") +
           (named ? path : "the default setup file") + ": " + problem;
}

int sbus_start_up_headless(char* program, int attach, kovra610::runtime::CollectedPopups* popups,
                           std::string* why) {
    // Qt keeps the arguments for the life of the process. Only the program
    // name is passed on: a front end's own arguments are not Qt's options.
    static char* args[] = {program, nullptr};
    headlessPopups = popups;
    const int panel = bring_up_panel(args, 0, runtimeStarted);
    if (panel == PANEL_RUNTIME_FAILED)
        return failedWith(START_UP_FAILED, "the panel run-time could not be started", why);
    if (panel == PANEL_LOAD_FAILED)
        return failedWith(START_UP_FAILED,
                          std::string("the panel \"") + PANEL_FILE +
                              "\" could not be loaded from the program's folder",
                          why);
    int attached = ATTACHED;
    if (attach)
        attached = sbus_attach();
    else
        sbus_initialize();
    std::fflush(stdout);
    const std::string collected = popups->take();
    // A read-back that failed on a lost link is reported as link down.
    if (attached == ATTACH_READ_FAILED && FTD232_link_state() == LINK_UP)
        return failedWith(START_UP_FAILED, sbus_batched_read_failure(), why);
    if (FTD232_link_state() != LINK_UP) {
        // The driver's reason, when it gave one: the board named is not
        // attached, or another program holds it.
        const std::string problem = kovra610::d2xx::lastBoardProblem();
        return failedWith(
            START_UP_LINK_DOWN,
            "link down: " + (problem.empty() ? "no KOVRA610 board answered" : problem) +
                " (Check Board Power)",
            why);
    }
    if (!collected.empty()) return failedWith(START_UP_FAILED, collected, why);
    return START_UP_DONE;
}

void sbus_shut_down_headless(void) {
    if (panelHandle > 0) DiscardPanel(panelHandle);
    CloseFT2232HDevice();
}
