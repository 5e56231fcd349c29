#include "panel/shortcuts.h"

#include "app/core/sbus_image.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/runtime/shortcuts.h"

void set_panel_shortcuts(void) {
    static const struct {
        int control;
        const char* keys;
    } table[] = {
        {SBUSSEL, "Ctrl+O"},          // Load Setup
        {SBUSLRN, "Ctrl+S"},          // Save Setup
        {ALL_2, "Ctrl+R"},            // Read all Regs
        {ALL, "Ctrl+W"},              // Write All Reg
        {COMMANDBUTTON_7, "Ctrl+Q"},  // Exit
    };
    for (const auto& entry : table)
        kovra610::runtime::setButtonShortcut(panelHandle, entry.control, entry.keys);
}
