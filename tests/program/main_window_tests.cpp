// The main window around the panel: title and status bar, the console pane
// beside stdout, the panel within reach on any screen, and the options that
// answer without starting anything.
#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>

#include "platform/runtime/main_window.h"
#include "platform/runtime/runtime_internal.h"
#include "program_fixture.h"
#include "recording_backend.h"
#include "watched_backend.h"

namespace kovra610::testing {
namespace {

namespace window = kovra610::runtime::window;

std::string statusText(const char* name) {
    auto* label = window::mainWindow()->findChild<QLabel*>(QLatin1String(name));
    return label ? label->text().toStdString() : "<none>";
}

std::string paneText() {
    return window::mainWindow()
        ->findChild<QPlainTextEdit*>("consoleText")
        ->toPlainText()
        .toStdString();
}

// The pane's lines without their time stamps; each must carry one.
std::string unstamped(const std::string& pane) {
    static const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  ");
    std::string out;
    for (const QString& line : QString::fromStdString(pane).split('\n')) {
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        out += line.mid(14).toStdString() + "\n";
    }
    return out;
}

TEST_F(ProgramTest, TheWindowSaysWhichBoardTheLinkStateAndTheLastAction) {
    runProgram([&] {
        QMainWindow* w = window::mainWindow();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->windowTitle().toStdString(), "KOVRA610 " KOVRA610_VERSION " (virtual board)");
        EXPECT_EQ(statusText("statusBoard"), "VIRTUAL");
        EXPECT_EQ(statusText("statusLink"), "link up");
        EXPECT_EQ(statusText("statusLastAction"), "Start-up: done");

        driver::press(panelHandle, ALL_2);
        EXPECT_EQ(statusText("statusLastAction"), "Read all Regs: done");
        driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 0), 3.3);
        EXPECT_EQ(statusText("statusLastAction"), "DVH_Ch0 VOLTAGE: done");

        // A refused entry says why in the status bar.
        EXPECT_EQ(
            driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 0), std::string("9.9")),
            UIE_OUT_OF_RANGE);
        EXPECT_EQ(w->statusBar()->currentMessage().toStdString(),
                  "DAC1_0: 9.9 is outside -2.5 .. 7.5; kept 3.300");
        // An edit that sends nothing says so.
        driver::commit(panelHandle, GetCtrlArrayItem(HexDataCtrlArr, 0), 40000u);
        EXPECT_EQ(statusText("statusLastAction"),
                  "DVH_Ch0 CODE: stored: sent with the next transfer");
        driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 30), 1.0);
        EXPECT_EQ(statusText("statusLastAction"), "DAC1_30: no DAC entry: nothing stored or sent");

        board->faults().pullCable();
        driver::press(panelHandle, ALL);
        EXPECT_EQ(statusText("statusLink"), "link lost");
        EXPECT_EQ(statusText("statusLastAction"), "Write All Reg: link lost");
    });
}

TEST_F(ProgramTest, TheConsolePaneShowsEachLineStampedAsPrintedAndSavesThem) {
    const std::string saved = (workDir / "console.log").string();
    std::string paneAtEnd;
    runProgram([&] {
        auto* dock = window::mainWindow()->findChild<QDockWidget*>("consoleDock");
        QAction* toggle = window::mainWindow()->findChild<QAction*>("consoleToggle");
        if (!dock->isVisible()) toggle->trigger();  // it starts hidden on a small screen
        ASSERT_TRUE(dock->isVisible());
        // A line is in the pane as soon as it is printed.
        driver::press(panelHandle, ALL_2);
        EXPECT_NE(paneText().find("  DVH_Ch0    ch=0x1 addr=0x0 rw=0x0 data="), std::string::npos);

        // Lines printed while it is hidden are there when it is shown again.
        toggle->trigger();
        EXPECT_FALSE(dock->isVisible());
        const std::size_t before = paneText().size();
        driver::press(panelHandle, ALL_2);
        toggle->trigger();
        EXPECT_TRUE(dock->isVisible());
        EXPECT_NE(paneText().find("  OVDL_Ch1   ch=0x2", before), std::string::npos);

        driver::answerNextFilePopup(saved);
        window::mainWindow()->findChild<QPushButton*>("consoleSave")->click();
        EXPECT_EQ(readFile(saved), paneText() + "\n");
        EXPECT_EQ(statusText("statusLastAction"), "Save Console: saved to console.log");
        paneAtEnd = paneText();
    });
    // Standard output got the same lines, unchanged.
    EXPECT_EQ(unstamped(paneAtEnd), console);
}

// The window opens at the panel's size when the screen has the room (the
// suite also runs this on screens of 1366x768 and 1920x1080), else within
// the screen; either way every control can be scrolled into view.
TEST_F(ProgramTest, TheWindowFitsTheScreenAndEveryControlCanBeScrolledTo) {
    runProgram([&] {
        QMainWindow* w = window::mainWindow();
        auto* scroll = w->findChild<QScrollArea*>("panelScrollArea");
        ASSERT_NE(scroll, nullptr);
        const QRect room = w->screen()->availableGeometry();
        EXPECT_LE(w->width(), room.width());
        EXPECT_LE(w->height(), room.height());
        const QWidget* panel = scroll->widget();
        EXPECT_EQ(panel->size(), QSize(1271, 932));
        if (room.width() >= 1920 && room.height() >= 1080) {
            EXPECT_EQ(scroll->viewport()->size(), panel->size());
            EXPECT_TRUE(w->findChild<QDockWidget*>("consoleDock")->isVisible());
        }
        int controls = 0;
        for (QWidget* control : panel->findChildren<QWidget*>()) {
            // A control's accessible description is its constant name.
            if (control->accessibleDescription().isEmpty()) continue;
            ++controls;
            // Scrolled to, its middle is within the view, where a click reaches it.
            const QPoint inPanel = control->mapTo(panel, control->rect().center());
            scroll->ensureVisible(inPanel.x(), inPanel.y(), 10, 10);
            const QPoint middle = control->mapTo(scroll->viewport(), control->rect().center());
            EXPECT_TRUE(scroll->viewport()->rect().contains(middle))
                << control->objectName().toStdString();
        }
        EXPECT_EQ(controls, 171);
    });
}

// An action that did not do all its caption names says what became of it;
// a message shown while it ran (a refusal, a path not taken) outlasts it.
TEST_F(ProgramTest, AnActionThatDidNothingSaysSoNotDone) {
    runProgram([&] {
        auto click = [](int control) {
            QTest::mouseClick(runtime::detail::findControl(panelHandle, control)->widget,
                              Qt::LeftButton);
            return statusText("statusLastAction");
        };
        auto message = [] { return window::mainWindow()->statusBar()->currentMessage(); };
        const std::string box = driver::shownText(panelHandle, DAC1TEXTBOX);
        EXPECT_EQ(click(SBUSSEL), "Load Setup: no file chosen: nothing loaded");  // cancelled
        driver::answerNextFilePopup(writeSetupFile("notes.sbus", "not a setup"));
        EXPECT_EQ(click(SBUSSEL).rfind("Load Setup: not loaded: not a setup file", 0), 0u);
        EXPECT_EQ(driver::shownText(panelHandle, DAC1TEXTBOX), box);
        driver::answerNextFilePopup(
            writeSetupFile("two.sbus", "A ,1.0 ,0,1,1,0,B ,2.0 ,1,1,1,0,C"));
        EXPECT_EQ(click(SBUSSEL),
                  "Load Setup: 2 records loaded: entries 2..39 keep what they held");
        driver::answerNextFilePopup(workDir.string() + "/" + std::string(300, 'x') + ".sbus");
        EXPECT_EQ(click(SBUSLRN), "Save Setup: no file chosen: nothing saved");
        EXPECT_TRUE(message().startsWith("Save As: the chosen path is longer than 259 characters"));
        driver::answerNextFilePopup("/nonexistent/x.sbus");
        EXPECT_EQ(click(SBUSLRN), "Save Setup: the file could not be written: nothing saved");
        QWidget* level = runtime::detail::findControl(panelHandle, DAC1_3)->widget;
        QTest::keyClick(level, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(level, "9.9");
        EXPECT_EQ(click(ALL), "Write All Reg: done");
        EXPECT_EQ(message().toStdString(), "DAC1_3: 9.9 is outside -2.5 .. 7.5; kept 1.600");
    });
}

TEST_F(ProgramTest, AStartUpWithoutItsWholeSetupSaysWhatWasNotSent) {
    removeDefaultSetupFile();
    runProgram([&] {
        EXPECT_EQ(statusText("statusLastAction"),
                  "Start-up: default setup not loaded: nothing sent");
    });
    writeSetupFile("kovra610_defaults.sbus", "A ,1.0 ,0,1,1,0,B ,2.0 ,1,1,1,0,C ,3.0");
    runProgram([&] {
        EXPECT_EQ(
            statusText("statusLastAction"),
            "Start-up: default setup incomplete: entries it holds no record for are not sent");
        driver::answerNextFilePopup((setupDir / "saved.sbus").string());
        driver::press(panelHandle, SBUSLRN);
        EXPECT_EQ(statusText("statusLastAction"),
                  "Save Setup: 2 records saved: entries 2..39 hold no setup");
    });
    EXPECT_NE(console.find("kovra610_defaults.sbus holds 2 records: entries 2..39 hold no setup "
                           "and are not sent\n"),
              std::string::npos);
}

TEST_F(ProgramTest, HelpAndVersionAnswerWithoutTouchingTheLink) {
    std::vector<std::string> calls;
    d2xx::installBackend(std::make_shared<WatchedBackend>(
        board, [&](const char* call) { calls.emplace_back(call); }));
    for (const char* option : {"--version", "--help"}) {
        static char arg0[] = "kovra610";
        char* argv[] = {arg0, const_cast<char*>(option), nullptr};
        StdoutCapture capture;
        EXPECT_EQ(kovra610_main(2, argv), 0);
        console += capture.text();
    }
    EXPECT_EQ(console.substr(0, console.find("Usage: kovra610")),
              "kovra610 " KOVRA610_VERSION "\n");
    EXPECT_TRUE(calls.empty());
}

}  // namespace
}  // namespace kovra610::testing
