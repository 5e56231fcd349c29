// The program's main window: its panel in a scroll area, a status bar with
// the board, the link state and the operator's last action, and a console
// pane showing every line the program prints, time-stamped.
//
// A program asks for it with holdPanel before the panel's widgets are made;
// the window is then made with them (in the same wait, see LoadPanel) and
// goes when the panel is discarded. A panel not held is a window of its own.
// What the window shows may be set at any time: values set before the window
// is made are shown when it is.
#pragma once

#include <string>

class QMainWindow;

namespace kovra610::runtime::window {

enum class LinkState { Down, Up, Lost };

// Shows the loaded panel in the main window. UIE_INVALID_PANEL for a handle
// that names no loaded panel, or a child panel.
int holdPanel(int panel);

void setTitle(const std::string& title);
// The board in use: a word such as "VIRTUAL", or the device opened.
void setBoard(const std::string& board);
void setLinkState(LinkState state);
void setLastAction(const std::string& text);
// A message shown for a while over the last action (on standard error while
// there is no window).
void showMessage(const std::string& text);

// Until stopConsoleCapture, what the program prints on standard output also
// goes to the console pane (see ConsoleCapture); lines printed before the
// window is made wait for it.
void startConsoleCapture();
void stopConsoleCapture();

// The main window while it is there, else null.
QMainWindow* mainWindow();

}  // namespace kovra610::runtime::window
