// Shows a small panel and ends when its "Press Me" button commits; prints
// what the callback saw. Driven from outside by an assistive technology.
#include <cstdio>

#include "platform/runtime/panel_runtime.h"

namespace {
int onPress(int panel, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    std::printf("button callback ran: panel %d control %d event %d\n", panel, control, event);
    std::fflush(stdout);
    QuitUserInterface(0);
    return 0;
}
}  // namespace

int main(int argc, char* argv[]) {
    RegisterCtrlCallback("on_press", onPress);
    if (!InitCVIRTE(nullptr, argv, nullptr)) return -1;
    const char* file = argc > 1 ? argv[1] : "runtime_accessible_panel.uir";
    const int panel = LoadPanel(0, file, 1);
    if (panel < 0) return -1;
    DisplayPanel(panel);
    std::printf("panel shown\n");
    std::fflush(stdout);
    const int code = RunUserInterface();
    DiscardPanel(panel);
    return code;
}
