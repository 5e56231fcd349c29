// Panel run-time: panels, controls, control arrays, popups, the event loop,
// delays and text formatting, realised with Qt 6 Widgets on one thread.
//
// The operations keep the names and int results the system is written
// against. Control values are typed overloads; the run-time converts to the
// control's own data type. Text outputs come in bounded forms: a char array
// (its size is taken from the type) or an explicit size, so no caller can
// overrun a buffer.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Event codes delivered to control callbacks.
enum { EVENT_NONE = 0, EVENT_COMMIT = 1 };

// Attributes understood by the run-time.
enum {
    ATTR_SUPPRESS_EVENT_PROCESSING = 1850,  // SetSystemPopupsAttribute: accepted, remembered
    ATTR_LED_BUSY = 630,  // SetCtrlAttribute on an LED: busy look (amber rim, blinks amber)
};

// FileSelectPopup button codes and results.
enum { VAL_OK_BUTTON = 0, VAL_SAVE_BUTTON = 1, VAL_SELECT_BUTTON = 2, VAL_LOAD_BUTTON = 2 };
enum { VAL_NO_FILE_SELECTED = 0, VAL_EXISTING_FILE_SELECTED = 1, VAL_NEW_FILE_SELECTED = 2 };

// Error results (negative).
enum {
    UIE_NO_ERROR = 0,
    UIE_INVALID_PANEL = -1,
    UIE_INVALID_CONTROL = -2,
    UIE_INVALID_TYPE = -3,
    UIE_FILE_ERROR = -4,
    UIE_CALLBACK_NOT_FOUND = -5,
    UIE_NOT_INITIALISED = -6,
    UIE_INVALID_ARRAY = -7,
    UIE_INVALID_INDEX = -8,
    UIE_OUT_OF_RANGE = -9,
};

// Control callback: (panel, control, event, callback data, event data 1,
// event data 2) -> int. Event 1 is commit.
using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);

// Binds a callback name used in a panel resource to a function. Panel code
// registers its callbacks before LoadPanel; a resource naming a callback that
// is not registered fails to load.
void RegisterCtrlCallback(const char* name, CtrlCallbackPtr function);

int InitCVIRTE(void* hInstance, char* argv[], void* reserved);
int SetSystemPopupsAttribute(int attribute, int value);

// Loads the panel with the given resource ID from a resource file. A relative
// file name is looked up in the directory of the running executable. Returns
// the panel handle (> 0) or a negative error. The file is read and checked
// here; the panel's widgets are made when it is displayed, at the next
// Delay, event processing or event loop, or when the panel or a control is
// first used.
int LoadPanel(int parentPanel, const char* fileName, int panelResourceId);
// Shows the panel: it is on screen (its widgets made, exposed and painted)
// when DisplayPanel returns, waiting at most a second for the window system.
// No operator input and no timer is handled meanwhile.
int DisplayPanel(int panel);
int DiscardPanel(int panel);

int GetCtrlArrayFromResourceID(int panel, int resourceId);
int GetCtrlArrayItem(int ctrlArray, int index);  // control ID, or negative error
int GetCtrlArrayIndex(int ctrlArray, int panel, int control, int* index);
int GetNumCtrlArrayItems(int ctrlArray, int* numberOfItems);

// Runs the event loop until QuitUserInterface; returns the code given there.
// A quit asked for while no loop runs ends the next loop at once. Closing the
// panel window asks to quit with 0, as an "Exit" button would.
int RunUserInterface(void);
int QuitUserInterface(int returnCode);

int GetCtrlVal(int panel, int control, double* value);
int GetCtrlVal(int panel, int control, unsigned int* value);
int GetCtrlVal(int panel, int control, int* value);
int GetCtrlVal(int panel, int control, std::string* value);
// Copies the text into buf, cut to size - 1 characters, always terminated.
int GetCtrlVal(int panel, int control, char* buf, std::size_t size);
template <std::size_t N>
int GetCtrlVal(int panel, int control, char (&buf)[N]) {
    return GetCtrlVal(panel, control, buf, N);
}

// Values written here raise no event. A numeric shows a value outside its
// range as the nearest end of the range. A ring or ring slide takes only one
// of its listed values: any other leaves it unchanged and gives
// UIE_OUT_OF_RANGE.
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, unsigned int value);
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, const char* value);
int SetCtrlVal(int panel, int control, const std::string& value);

int SetCtrlAttribute(int panel, int control, int attribute, int value);

// Modal file dialog. buttonLabel VAL_SAVE_BUTTON asks for a file to save,
// VAL_LOAD_BUTTON for an existing file. Returns VAL_NO_FILE_SELECTED when the
// operator cancels, else VAL_EXISTING_FILE_SELECTED or VAL_NEW_FILE_SELECTED
// with the full path in pathName. A path that does not fit pathName is never
// cut: the choice is refused (VAL_NO_FILE_SELECTED, one line on stderr).
// With restrictExtension, a name without one of the listed extensions gets
// the first one appended.
int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec,
                    const char* fileTypeList, const char* title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char* pathName, std::size_t size);
template <std::size_t N>
int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec,
                    const char* fileTypeList, const char* title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char (&pathName)[N]) {
    return FileSelectPopup(defaultDirectory, defaultFileSpec, fileTypeList, title, buttonLabel,
                           restrictDirectory, restrictExtension, allowCancel, allowMakeDirectory,
                           pathName, N);
}

int MessagePopup(const char* title, const char* message);

// Current working directory without a trailing separator. A directory that
// does not fit is never cut: the result is UIE_OUT_OF_RANGE and "" (and one
// line on stderr).
int GetDir(char* directory, std::size_t size);
template <std::size_t N>
int GetDir(char (&directory)[N]) {
    return GetDir(directory, N);
}

// Blocks for the time given and runs no callback; a panel displayed since
// the last event processing goes on screen during the wait.
void Delay(double seconds);
int ProcessSystemEvents(void);
// Suspensions nest; the run-time's own timer work (the busy LED's blink)
// pauses until every suspension is resumed.
int SuspendTimerCallbacks(void);
int ResumeTimerCallbacks(void);

// Formats into target. The format starts with "%s<" (write into the target
// string) followed by printf-style text. The result is cut to size - 1
// characters. Returns the number of characters written, or -1 for a format
// that does not start with "%s<".
int Fmt(char* target, std::size_t size, const char* format, ...);
template <std::size_t N, typename... Args>
int Fmt(char (&target)[N], const char* format, Args... args) {
    return Fmt(target, N, format, args...);
}

namespace kovra610::runtime {

// A commit delivered to a control's callback, after the callback returned.
struct CommitReport {
    int panel = 0;
    int control = 0;
    std::string caption;  // the control's caption (its label, or its name)
    int result = 0;       // the callback's result
};
using CommitHook = std::function<void(const CommitReport&)>;

// Runs after every commit delivered to a callback (an operator's action, or
// the panel operator's); an empty hook removes it.
void setCommitHook(CommitHook hook);

// Whether a commit is being delivered to a callback: an action whose
// outcome the commit hook reports once it ends.
bool actionUnderWay();

// Text without the blanks (spaces and tabs) around it: a caption as a
// message names it.
std::string trimmed(const std::string& text);

}  // namespace kovra610::runtime
