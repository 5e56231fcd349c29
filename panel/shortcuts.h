// Key shortcuts for the buttons an operator uses most.
#pragma once

// Gives "Load Setup", "Save Setup", "Read all Regs", "Write All Reg" and
// "Exit" of the panel `panelHandle` their shortcut keys.
void set_panel_shortcuts(void);
