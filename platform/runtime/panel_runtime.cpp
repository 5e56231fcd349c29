// The run-time's tables, start-up, panels, control arrays, the event loop and
// commit delivery.
#include <dlfcn.h>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "commit_widgets.h"
#include "runtime_internal.h"

namespace kovra610::runtime::detail {
void installAccessibility();
}

using namespace kovra610::runtime::detail;

namespace {

struct State {
    std::map<int, std::unique_ptr<Panel>> panels;
    std::map<int, CtrlArray> arrays;
    std::map<std::string, CtrlCallbackPtr> callbacks;
    int nextPanel = 1;
    int nextArray = 1;
    CommitWatch* commitWatch = nullptr;  // innermost watch not yet given a commit
    int suspendDepth = 0;
    int popupsAttribute = 0;
    std::vector<QEventLoop*> loops;  // running RunUserInterface loops, innermost last
    int quitCode = 0;
    bool quitPending = false;
    std::set<int> awaitingScreen;  // displayed panels not yet put on screen
    int inputHeld = 0;             // live UserInputHeld
};

State& state() {
    static State s;
    return s;
}

// How long DisplayPanel waits at most for the window system to expose a
// panel's window (a window system that never does is not waited on longer).
constexpr std::chrono::milliseconds kExposeWaitLimit{1000};

// Argument vector handed to QApplication; both must outlive it.
int g_argc = 0;
char g_defaultName[] = "kovra610";
char* g_defaultArgv[] = {g_defaultName, nullptr};

// Qt's note that it made a runtime folder of its own (XDG_RUNTIME_DIR not
// set, as under sudo, cron or a bare CI shell) says nothing to a bench user;
// every other message goes out as Qt would print it.
QtMessageHandler g_qtDefaultHandler = nullptr;
void quietRuntimeDirNote(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    if (g_qtDefaultHandler != nullptr) g_qtDefaultHandler(type, context, text);
}

// Closing the panel window asks the event loop to end, as "Exit" does; the
// window itself stays until the program discards the panel. Typed text not
// yet committed is committed, or refused, first, as before "Exit": it is
// the operator's action, reported as any other, never sent unseen while
// the program ends.
class CloseToQuit : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            event->ignore();
            settlePendingEdits(nullptr);
            QuitUserInterface(0);
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

// A connection to the X display, made to see whether it can be reached
// before Qt is started (Qt ends the process when its platform cannot start).
// It stays open until Qt has connected: an X server that resets when its last
// client leaves (Xvfb's default) would otherwise be resetting just as Qt
// connects, and Qt would fail.
class DisplayProbe {
public:
    DisplayProbe() = default;
    DisplayProbe(const DisplayProbe&) = delete;
    DisplayProbe& operator=(const DisplayProbe&) = delete;
    ~DisplayProbe() {
        if (connection_) disconnect_(connection_);
        if (lib_) dlclose(lib_);
    }

    bool reachable(const char* display) {
        lib_ = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
        if (!lib_) return true;  // cannot probe: let Qt try
        using Connect = void* (*)(const char*, int*);
        using HasError = int (*)(void*);
        auto connect = reinterpret_cast<Connect>(dlsym(lib_, "xcb_connect"));
        auto hasError = reinterpret_cast<HasError>(dlsym(lib_, "xcb_connection_has_error"));
        disconnect_ = reinterpret_cast<Disconnect>(dlsym(lib_, "xcb_disconnect"));
        if (!connect || !hasError || !disconnect_) return true;
        connection_ = connect(display, nullptr);
        return connection_ && hasError(connection_) == 0;
    }

private:
    using Disconnect = void (*)(void*);
    void* lib_ = nullptr;
    void* connection_ = nullptr;
    Disconnect disconnect_ = nullptr;
};

bool platformCanStart(DisplayProbe& probe) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string name = platform ? platform : "";
    if (!name.empty() && name.rfind("xcb", 0) != 0) return true;  // offscreen, wayland, vnc ...
    const char* display = std::getenv("DISPLAY");
    const bool haveX = display && *display;
    if (name.empty() && !haveX) {
        // Without X, Qt starts on Wayland only when its Wayland plugin is there.
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                           QStringLiteral("/platforms"));
        if (wayland && *wayland &&
            !plugins.entryList({QStringLiteral("*wayland*")}, QDir::Files).isEmpty()) {
            qputenv("QT_QPA_PLATFORM", "wayland");
            return true;
        }
    }
    if (!haveX) {
        reportError("InitCVIRTE", "no display to show the panel on (DISPLAY is not set)");
        return false;
    }
    if (!probe.reachable(display)) {
        reportError("InitCVIRTE", std::string("cannot open display \"") + display + "\"");
        return false;
    }
    return true;
}

}  // namespace

namespace kovra610::runtime::detail {

Panel* panelRecord(int handle) {
    auto it = state().panels.find(handle);
    if (it == state().panels.end()) return nullptr;
    Panel* p = it->second.get();
    // A made panel whose window was destroyed behind the run-time's back.
    return p->made && !p->widget ? nullptr : p;
}

Panel* findPanel(int handle) {
    Panel* p = panelRecord(handle);
    if (!p) return nullptr;
    if (!p->made) makePanel(*p);
    return p->widget ? p : nullptr;
}

void makeLoadedPanels() {
    std::vector<int> waiting;
    for (const auto& [handle, p] : state().panels)
        if (!p->made) waiting.push_back(handle);
    for (int handle : waiting)
        if (Panel* p = panelRecord(handle); p && !p->made) makePanel(*p);
}

void panelMade(Panel& p) {
    frameIfHeld(p);
    QWidget* window = windowOf(p);
    window->installEventFilter(new CloseToQuit(window));
    if (p.showWhenMade) window->show();
}

Control* findControl(int panel, int control) {
    Panel* p = findPanel(panel);
    if (!p) return nullptr;
    auto it = p->controls.find(control);
    if (it == p->controls.end() || !it->second.widget) return nullptr;
    return &it->second;
}

CtrlArray* findArray(int handle) {
    auto it = state().arrays.find(handle);
    if (it == state().arrays.end() || !panelRecord(it->second.panel)) return nullptr;
    return &it->second;
}

int addPanel(std::unique_ptr<Panel> panel, std::vector<std::pair<int, CtrlArray>> arrays) {
    State& s = state();
    const int handle = s.nextPanel++;
    panel->handle = handle;
    for (auto& [resourceId, a] : arrays) {
        const int arrayHandle = s.nextArray++;
        a.panel = handle;
        s.arrays[arrayHandle] = std::move(a);
        panel->arrayByResourceId[resourceId] = arrayHandle;
    }
    s.panels[handle] = std::move(panel);
    return handle;
}

CtrlCallbackPtr lookupCallback(const std::string& name) {
    auto it = state().callbacks.find(name);
    return it == state().callbacks.end() ? nullptr : it->second;
}

namespace {

// Every field of every panel with typed text not yet committed, but `acting`.
std::vector<QPointer<QWidget>> pendingEdits(const QWidget* acting) {
    std::vector<QPointer<QWidget>> found;
    for (const auto& [handle, p] : state().panels) {
        if (!p->made || !p->widget) continue;
        for (const auto& [id, c] : p->controls) {
            if (!c.widget || c.widget == acting) continue;
            const auto* edit = dynamic_cast<const PendingEdit*>(c.widget.data());
            if (edit && edit->editPending()) found.emplace_back(c.widget);
        }
    }
    return found;
}

}  // namespace

// Every control's commit passes deliverCommit, which calls this first:
// pending typed text elsewhere is committed or refused, so the control acts
// on what the operator typed and its redraw cannot overwrite it.
void settlePendingEdits(const QWidget* acting) {
    for (const QPointer<QWidget>& w : pendingEdits(acting)) {
        // An earlier field's callback may have discarded the panel.
        if (auto* edit = dynamic_cast<PendingEdit*>(w.data())) edit->settleEdit();
    }
}

int deliverCommit(int panel, int control) {
    Control* c = findControl(panel, control);
    if (!c) return UIE_INVALID_CONTROL;
    // The watch is for this control's commit, not for the settled fields'.
    CommitWatch* watch = std::exchange(state().commitWatch, nullptr);
    struct Action {
        Action() { actionBegins(); }
        ~Action() { actionEnds(); }
        Action(const Action&) = delete;
        Action& operator=(const Action&) = delete;
    } action;
    settlePendingEdits(c->widget);
    c = findControl(panel, control);
    if (!c) return UIE_INVALID_CONTROL;
    // An action runs to its end before the operator's next one: keys and
    // clicks that arrive while its callback runs (a transfer processes
    // events between its words) wait for it, so a read-back typed ahead
    // cannot take the place of an edit not yet sent. Posted events and
    // timers still run in between.
    const UserInputHeld held;
    // Copy what the call needs: the callback may discard the panel.
    const CtrlCallbackPtr cb = c->callback;
    CommitReport report{panel, control, {}, 0};
    if (cb && commitHookInstalled()) report.caption = c->widget->accessibleName().toStdString();
    const int result = cb ? cb(panel, control, EVENT_COMMIT, nullptr, 0, 0) : 0;
    if (watch) {
        watch->delivered = true;
        watch->result = result;
    }
    if (cb) {
        report.result = result;
        reportCommit(report);
    }
    return result;
}

CommitWatch::CommitWatch() : previous_(std::exchange(state().commitWatch, this)) {}

CommitWatch::~CommitWatch() {
    state().commitWatch = previous_;
}

UserInputHeld::UserInputHeld() {
    ++state().inputHeld;
}

UserInputHeld::~UserInputHeld() {
    --state().inputHeld;
}

bool userInputHeld() {
    return state().inputHeld > 0;
}

bool timerCallbacksSuspended() {
    return state().suspendDepth > 0;
}

void reportError(const char* context, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", context, message.c_str());
    std::fflush(stderr);
}

}  // namespace kovra610::runtime::detail

void RegisterCtrlCallback(const char* name, CtrlCallbackPtr function) {
    if (!name || !*name) return;
    if (function)
        state().callbacks[name] = function;
    else
        state().callbacks.erase(name);
}

int InitCVIRTE(void*, char* argv[], void*) {
    if (QApplication::instance()) {
        // A new session of the same process: a quit left over from the last
        // one (its main quits once more after its loop ended) does not end
        // this session's first loop.
        state().quitPending = false;
        return 1;
    }
    g_qtDefaultHandler = qInstallMessageHandler(quietRuntimeDirNote);
    DisplayProbe probe;  // until QApplication has its own connection
    if (!platformCanStart(probe)) return 0;
    char** args = argv && argv[0] ? argv : g_defaultArgv;
    g_argc = 0;
    while (args[g_argc]) ++g_argc;
    auto* app = new QApplication(g_argc, args);  // lives until the process ends
    app->setQuitOnLastWindowClosed(false);
    installAccessibility();
    return 1;
}

int SetSystemPopupsAttribute(int attribute, int value) {
    if (attribute != ATTR_SUPPRESS_EVENT_PROCESSING) return UIE_INVALID_TYPE;
    state().popupsAttribute = value;
    return UIE_NO_ERROR;
}

int DisplayPanel(int panel) {
    Panel* p = panelRecord(panel);
    if (!p) return UIE_INVALID_PANEL;
    if (p->made)
        windowOf(*p)->show();
    else
        p->showWhenMade = true;  // shown as soon as it is made
    // The panel is on screen (its widgets made, the window exposed and
    // painted) before the program goes on: at start-up the operator sees it
    // before the link is opened, however long that takes. No operator input
    // and no timer is handled meanwhile.
    state().awaitingScreen.insert(panel);
    finishPanelsWhileWaiting(std::chrono::steady_clock::now() + kExposeWaitLimit);
    return UIE_NO_ERROR;
}

namespace kovra610::runtime::detail {

void finishPanelsWhileWaiting(std::chrono::steady_clock::time_point deadline) {
    State& s = state();
    if (!QApplication::instance()) return;
    makeLoadedPanels();
    if (s.awaitingScreen.empty()) return;
    auto stillHidden = [&s] {
        for (int handle : s.awaitingScreen) {
            const Panel* p = findPanel(handle);
            const QWidget* window = p != nullptr && p->widget != nullptr ? windowOf(*p) : nullptr;
            if (window != nullptr && window->isVisible() && window->windowHandle() != nullptr &&
                !window->windowHandle()->isExposed())
                return true;
        }
        return false;
    };
    // Only the window system's events and posted events: no operator
    // input and no timer, so no callback runs inside a wait.
    constexpr auto kFlags = QEventLoop::ExcludeUserInputEvents | QEventLoop::X11ExcludeTimers;
    while (stillHidden()) {
        QCoreApplication::processEvents(kFlags);
        if (!stillHidden() || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    s.awaitingScreen.clear();
}

}  // namespace kovra610::runtime::detail

int DiscardPanel(int panel) {
    State& s = state();
    auto it = s.panels.find(panel);
    if (it == s.panels.end()) return UIE_INVALID_PANEL;
    if (QWidget* w = it->second->widget) {
        w->hide();
        // Later, not now: a callback of this very panel may still be running.
        w->deleteLater();
    }
    panelDiscarded(panel);
    for (auto a = s.arrays.begin(); a != s.arrays.end();) {
        a = a->second.panel == panel ? s.arrays.erase(a) : std::next(a);
    }
    s.awaitingScreen.erase(panel);
    s.panels.erase(it);
    return UIE_NO_ERROR;
}

int GetCtrlArrayFromResourceID(int panel, int resourceId) {
    Panel* p = panelRecord(panel);
    if (!p) return UIE_INVALID_PANEL;
    auto it = p->arrayByResourceId.find(resourceId);
    return it == p->arrayByResourceId.end() ? UIE_INVALID_ARRAY : it->second;
}

int GetCtrlArrayItem(int ctrlArray, int index) {
    CtrlArray* a = findArray(ctrlArray);
    if (!a) return UIE_INVALID_ARRAY;
    if (index < 0 || index >= static_cast<int>(a->controls.size())) return UIE_INVALID_INDEX;
    return a->controls[static_cast<std::size_t>(index)];
}

int GetCtrlArrayIndex(int ctrlArray, int panel, int control, int* index) {
    if (!index) return UIE_INVALID_INDEX;
    *index = -1;
    CtrlArray* a = findArray(ctrlArray);
    if (!a) return UIE_INVALID_ARRAY;
    if (a->panel != panel) return UIE_INVALID_PANEL;
    for (std::size_t i = 0; i < a->controls.size(); ++i) {
        if (a->controls[i] == control) {
            *index = static_cast<int>(i);
            return UIE_NO_ERROR;
        }
    }
    return UIE_INVALID_CONTROL;
}

int GetNumCtrlArrayItems(int ctrlArray, int* numberOfItems) {
    if (!numberOfItems) return UIE_INVALID_INDEX;
    CtrlArray* a = findArray(ctrlArray);
    if (!a) return UIE_INVALID_ARRAY;
    *numberOfItems = static_cast<int>(a->controls.size());
    return UIE_NO_ERROR;
}

int RunUserInterface(void) {
    if (!QApplication::instance()) return UIE_NOT_INITIALISED;
    State& s = state();
    if (s.quitPending) {
        // Quit was asked before the loop ran (e.g. during start-up).
        s.quitPending = false;
        return s.quitCode;
    }
    makeLoadedPanels();
    completeMainWindow();
    s.awaitingScreen.clear();  // the loop puts them on screen
    QEventLoop loop;
    s.loops.push_back(&loop);
    loop.exec();
    s.loops.pop_back();
    s.quitPending = false;
    return s.quitCode;
}

int QuitUserInterface(int returnCode) {
    State& s = state();
    s.quitCode = returnCode;
    if (s.loops.empty()) {
        s.quitPending = true;
    } else {
        s.loops.back()->exit(returnCode);
    }
    return UIE_NO_ERROR;
}

int ProcessSystemEvents(void) {
    if (!QApplication::instance()) return UIE_NOT_INITIALISED;
    makeLoadedPanels();
    completeMainWindow();
    state().awaitingScreen.clear();  // put on screen here
    QCoreApplication::sendPostedEvents();
    // While a field's commit runs because the operator clicked elsewhere,
    // the click waits (in the queue) until the commit is done.
    QCoreApplication::processEvents(userInputHeld() ? QEventLoop::ExcludeUserInputEvents
                                                    : QEventLoop::AllEvents);
    return UIE_NO_ERROR;
}

int SuspendTimerCallbacks(void) {
    ++state().suspendDepth;
    return UIE_NO_ERROR;
}

int ResumeTimerCallbacks(void) {
    if (state().suspendDepth > 0) --state().suspendDepth;
    return UIE_NO_ERROR;
}
