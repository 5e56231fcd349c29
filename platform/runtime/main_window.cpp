// The main window around a held panel, the status it shows, and the console
// lines that reach its pane.
#include "platform/runtime/main_window.h"

#include <QDockWidget>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QToolButton>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "platform/runtime/console_pane.h"
#include "runtime_internal.h"

namespace kovra610::runtime::window {
namespace {

using detail::Panel;

constexpr int kMessageMs = 10000;
// Room the window system's frame takes around the window.
constexpr int kDecoration = 40;
// Lines kept for a window not made yet.
constexpr std::size_t kMaxPending = 10000;

// The panel at its own size; the window starts large enough to show it all.
class PanelScrollArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const int frame = 2 * frameWidth();
        return (widget() ? widget()->size() : QSize()) + QSize(frame, frame);
    }
};

struct Frame {
    QMainWindow* window = nullptr;
    QLabel* lastAction = nullptr;
    QLabel* board = nullptr;
    QLabel* link = nullptr;
    QDockWidget* consoleDock = nullptr;
    ConsolePane* console = nullptr;
};

struct State {
    int heldPanel = 0;
    QPointer<QMainWindow> window;
    Frame frame;
    std::string title, board, lastAction;
    LinkState link = LinkState::Down;
    std::unique_ptr<ConsoleCapture> capture;
    std::vector<ConsoleLine> pending;
    CommitHook commitHook;
    int actionDepth = 0;  // actions under way (actionBegins)
    // The operator's gesture: counted up at each key or button press, and
    // when an action ends; the message shown tells the gesture it came in.
    unsigned gesture = 0;
    unsigned messageGesture = 0;
    const QEvent* lastShortcutCheck = nullptr;
};

State& state() {
    static State s;
    return s;
}

// Counts the operator's presses as they arrive, before any widget acts on
// them (and so before the focus moves): a key or button press at the
// window, and the shortcut check that comes first for every key, seen once
// however far it propagates (the same event object, with no other event
// between).
class PressCounter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        const bool press = type == QEvent::MouseButtonPress ||
                           type == QEvent::MouseButtonDblClick || type == QEvent::KeyPress;
        const bool newCheck =
            type == QEvent::ShortcutOverride && event != state().lastShortcutCheck;
        if ((press && watched->isWindowType()) || newCheck) ++state().gesture;
        state().lastShortcutCheck = type == QEvent::ShortcutOverride ? event : nullptr;
        return QObject::eventFilter(watched, event);
    }
};

bool made() {
    return state().window != nullptr;
}

QString linkText(LinkState link) {
    switch (link) {
        case LinkState::Up:
            return QStringLiteral("link up");
        case LinkState::Lost:
            return QStringLiteral("link lost");
        case LinkState::Down:
            break;
    }
    return QStringLiteral("link down");
}

void showLink() {
    static const char* const colours[] = {"#606060", "#007000", "#C00000"};
    QLabel* label = state().frame.link;
    label->setText(linkText(state().link));
    label->setStyleSheet(QStringLiteral("color: %1; font-weight: bold")
                             .arg(QLatin1String(colours[static_cast<int>(state().link)])));
}

void showAll() {
    State& s = state();
    if (!s.title.empty()) s.window->setWindowTitle(QString::fromStdString(s.title));
    s.frame.board->setText(QString::fromStdString(s.board));
    s.frame.board->setVisible(!s.board.empty());
    s.frame.lastAction->setText(QString::fromStdString(s.lastAction));
    showLink();
}

QLabel* statusLabel(const char* name, QStatusBar* bar, bool permanent) {
    auto* label = new QLabel(bar);
    label->setObjectName(QLatin1String(name));
    if (permanent)
        bar->addPermanentWidget(label);
    else
        bar->addWidget(label, 1);
    return label;
}

// The dock with the console pane, and the status bar's button that shows
// and hides it.
void addConsole(Frame& f) {
    auto* dock = new QDockWidget(QStringLiteral("Console"), f.window);
    f.consoleDock = dock;
    dock->setObjectName(QStringLiteral("consoleDock"));
    dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                      QDockWidget::DockWidgetFloatable);
    f.console = new ConsolePane(dock);
    dock->setWidget(f.console);
    f.window->addDockWidget(Qt::RightDockWidgetArea, dock);
    QObject::connect(f.console, &ConsolePane::saved, f.window,
                     [](const QString& outcome) { setLastAction(outcome.toStdString()); });

    QAction* toggle = dock->toggleViewAction();
    toggle->setObjectName(QStringLiteral("consoleToggle"));
    toggle->setToolTip(QStringLiteral("Show or hide the console"));
    auto* button = new QToolButton(f.window->statusBar());
    button->setDefaultAction(toggle);
    button->setAutoRaise(true);
    f.window->statusBar()->addPermanentWidget(button);
}

Frame makeFrame(QWidget* panel) {
    Frame f;
    f.window = new QMainWindow;
    f.window->setObjectName(QStringLiteral("mainWindow"));
    f.window->setWindowTitle(panel->windowTitle());
    auto* scroll = new PanelScrollArea(f.window);
    scroll->setObjectName(QStringLiteral("panelScrollArea"));
    scroll->setWidgetResizable(false);
    scroll->setWidget(panel);
    f.window->setCentralWidget(scroll);
    QStatusBar* bar = f.window->statusBar();
    f.lastAction = statusLabel("statusLastAction", bar, false);
    f.board = statusLabel("statusBoard", bar, true);
    f.board->setStyleSheet(QStringLiteral("font-weight: bold"));
    f.link = statusLabel("statusLink", bar, true);
    addConsole(f);
    return f;
}

// The window opens showing the panel at its own size and the console beside
// it when the screen has the room. Else the console starts hidden, and the
// window takes what the screen offers, the panel scrolling within it.
void placeOnScreen(QMainWindow* window, QDockWidget* console) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QSize room = screen->availableGeometry().size() - QSize(0, kDecoration);
    if (window->sizeHint().boundedTo(room) == window->sizeHint()) {
        window->resize(window->sizeHint());
        return;
    }
    console->hide();
    if (window->sizeHint().boundedTo(room) == window->sizeHint()) {
        window->resize(window->sizeHint());
        return;
    }
    window->resize(room);
    window->setWindowState(Qt::WindowMaximized);
}

}  // namespace

int holdPanel(int panel) {
    Panel* p = detail::panelRecord(panel);
    if (p == nullptr || p->parentHandle != 0) return UIE_INVALID_PANEL;
    state().heldPanel = panel;
    return UIE_NO_ERROR;
}

void setTitle(const std::string& title) {
    state().title = title;
    if (made()) showAll();
}

void setBoard(const std::string& board) {
    if (state().board == board) return;
    state().board = board;
    if (made()) showAll();
}

void setLinkState(LinkState link) {
    state().link = link;
    if (made() && state().frame.link->text() != linkText(link)) showLink();
}

void setLastAction(const std::string& text) {
    state().lastAction = text;
    if (!made()) return;
    // Within an action a message is the action's own: it stays.
    QStatusBar* bar = state().window->statusBar();
    if (state().actionDepth == 0 && !bar->currentMessage().isEmpty()) bar->clearMessage();
    state().frame.lastAction->setText(QString::fromStdString(text));
}

void showMessage(const std::string& text) {
    state().messageGesture = state().gesture;
    if (made())
        state().window->statusBar()->showMessage(QString::fromStdString(text), kMessageMs);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

void startConsoleCapture() {
    State& s = state();
    if (s.capture) return;
    s.capture = std::make_unique<ConsoleCapture>([](const ConsoleLine& line) {
        State& st = state();
        if (made())
            st.frame.console->append(line);
        else if (st.pending.size() < kMaxPending)
            st.pending.push_back(line);
    });
}

void stopConsoleCapture() {
    state().capture.reset();
    state().pending.clear();
}

QMainWindow* mainWindow() {
    return state().window;
}

}  // namespace kovra610::runtime::window

namespace kovra610::runtime {

void setCommitHook(CommitHook hook) {
    window::state().commitHook = std::move(hook);
}

bool actionUnderWay() {
    return window::state().actionDepth > 0;
}

}  // namespace kovra610::runtime

namespace kovra610::runtime::detail {

void frameIfHeld(Panel& p) {
    using namespace window;
    State& s = state();
    if (p.handle != s.heldPanel || p.widget == nullptr || made()) return;
    s.frame = makeFrame(p.widget);
    s.window = s.frame.window;
    static bool counting = false;  // once for the application, which lives on
    if (!std::exchange(counting, true))
        QCoreApplication::instance()->installEventFilter(
            new PressCounter(QCoreApplication::instance()));
    showAll();
    for (const ConsoleLine& line : s.pending) s.frame.console->append(line);
    s.pending.clear();
    placeOnScreen(s.window, s.frame.consoleDock);
}

void completeMainWindow() {
    using namespace window;
    if (made()) state().frame.console->build();
}

QWidget* windowOf(const Panel& p) {
    using namespace window;
    if (p.handle == state().heldPanel && made()) return state().window;
    return p.widget;
}

void panelDiscarded(int panel) {
    using namespace window;
    State& s = state();
    if (panel != s.heldPanel) return;
    s.heldPanel = 0;
    if (s.window) {
        s.window->hide();
        s.window->deleteLater();  // a callback of the panel may still run
    }
    s.window = nullptr;
    s.frame = {};
}

bool commitHookInstalled() {
    return static_cast<bool>(window::state().commitHook);
}

void actionBegins() {
    using namespace window;
    // A message from an earlier gesture is stale; one from the press that
    // led to this action (a value refused as the click took the focus
    // away) is about it.
    State& s = state();
    if (s.actionDepth++ == 0 && made() && s.messageGesture != s.gesture)
        s.window->statusBar()->clearMessage();
}

void actionEnds() {
    using namespace window;
    State& s = state();
    if (s.actionDepth > 0 && --s.actionDepth == 0) ++s.gesture;  // the gesture is spent
}

void reportCommit(const CommitReport& report) {
    // A copy: the hook may replace itself.
    const CommitHook hook = window::state().commitHook;
    if (hook) hook(report);
}

}  // namespace kovra610::runtime::detail
