// What an operator types, steps, clicks and presses at the panel, through
// real key and mouse events on the panel's widgets, judged by what reaches
// the chip.
#include <qpa/qwindowsysteminterface.h>

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <cstdlib>
#include <set>

#include "platform/runtime/main_window.h"
#include "platform/runtime/runtime_internal.h"
#include "platform/runtime/status.h"
#include "program_fixture.h"
#include "ringslide.h"

namespace kovra610::testing {
namespace {

QWidget* widgetOf(int control) {
    return runtime::detail::findControl(panelHandle, control)->widget;
}
QWidget* level(int i) {
    return widgetOf(GetCtrlArrayItem(VoltDataCtrlArr, i));
}
QWidget* code(int i) {
    return widgetOf(GetCtrlArrayItem(HexDataCtrlArr, i));
}
std::string shown(QWidget* field) {
    return qobject_cast<QAbstractSpinBox*>(field)->text().toStdString();
}

// The panel's window active and the field focused, as after a click in it.
void focusField(QWidget* field) {
    QWidget* window = field->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    field->setFocus(Qt::MouseFocusReason);
}
void retype(QWidget* field, const char* text) {
    focusField(field);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
}

// A touchpad tap: press and release queued together by the window system,
// then handled.
void tap(QWidget* w, QPoint at) {
    // The operator first scrolls the control into view.
    for (QWidget* up = w->parentWidget(); up != nullptr; up = up->parentWidget())
        if (auto* scroll = qobject_cast<QScrollArea*>(up)) scroll->ensureWidgetVisible(w);
    QWindow* window = w->window()->windowHandle();
    const QPointF local = w->mapTo(w->window(), at);
    const QPointF global = w->mapToGlobal(at);
    using Queued = QWindowSystemInterface::AsynchronousDelivery;
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::LeftButton,
                                                     Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::NoButton,
                                                     Qt::LeftButton, QEvent::MouseButtonRelease);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Keys typed ahead: queued by the window system together, then handled.
void typeAhead(QWidget* w, std::initializer_list<std::pair<int, Qt::KeyboardModifiers>> keys) {
    for (const auto& [key, modifiers] : keys)
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
            QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::AsynchronousDelivery>(
                w->window()->windowHandle(), type, key, modifiers);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Notches of the mouse wheel over a control in view.
void wheel(QWidget* w, int notches) {
    runtime::window::mainWindow()->findChild<QScrollArea*>()->ensureWidgetVisible(w);
    const QPoint at = w->rect().center();
    QWindowSystemInterface::handleWheelEvent(w->window()->windowHandle(), w->mapTo(w->window(), at),
                                             w->mapToGlobal(at), QPoint(),
                                             QPoint(0, 120 * notches));
    QCoreApplication::processEvents();
}

// A click on a numeric's up arrow.
void tapUpArrow(QAbstractSpinBox* spin) {
    QStyleOptionSpinBox option;
    option.initFrom(spin);
    option.subControls = QStyle::SC_All;
    option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    const QRect up =
        spin->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, spin);
    tap(spin, up.center());
}

// A screen reader's "press" on an accessible object. A button pressed so
// shows itself down for a moment first: waits until its press is done.
void pressThroughAccessibility(QAccessibleInterface* object) {
    ASSERT_NE(object, nullptr);
    ASSERT_NE(object->actionInterface(), nullptr);
    auto* button = qobject_cast<QPushButton*>(object->object());
    if (button == nullptr) {
        object->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        return;
    }
    QSignalSpy clicked(button, &QPushButton::clicked);
    object->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(clicked.count() == 1 || clicked.wait(2000));
}

// Index of the last word the chip decoded for a register, or -1.
int lastWordIndex(const vboard::VirtualBoard& board, unsigned ch, unsigned addr) {
    int found = -1;
    const auto& words = board.chip().words();
    for (std::size_t k = 0; k < words.size(); ++k)
        if (words[k].ch == ch && words[k].addr == addr) found = static_cast<int>(k);
    return found;
}

// The single write's fields, set as the program would: no event.
void setSingleWrite(unsigned addr, unsigned data) {
    SetCtrlVal(panelHandle, CH, 1u);
    SetCtrlVal(panelHandle, REG, 1u);
    SetCtrlVal(panelHandle, ADDR, addr);
    SetCtrlVal(panelHandle, DATA_1, data);
}

class TypingTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        // Once the program runs: it shows status messages in its window.
        QTimer::singleShot(0, [this] {
            runtime::setStatusSink([this](const std::string& m) { status.push_back(m); });
        });
    }
    void TearDown() override {
        runtime::setStatusSink(nullptr);
        ProgramTest::TearDown();
    }
    std::string lastStatus() const { return status.empty() ? "" : status.back(); }
    std::vector<std::string> status;
};

TEST_F(TypingTest, TypedTextIsJudgedWholeWhenCommitted) {
    runProgram([&] {
        const unsigned before = board->chip().reg(0, 0);
        board->chip().clearLists();
        const char* refused[][2] = {
            {"9.9", "DAC1_0: 9.9 is outside -2.5 .. 7.5; kept 3.000"},
            {"7.6", "DAC1_0: 7.6 is outside -2.5 .. 7.5; kept 3.000"},
            {"1..2", "DAC1_0: \"1..2\" is not a number (-2.5 .. 7.5); kept 3.000"}};
        for (const auto& [typed, why] : refused) {
            retype(level(0), typed);
            QTest::keyClick(level(0), Qt::Key_Return);
            EXPECT_EQ(shown(level(0)), "3.000") << typed;
            EXPECT_EQ(lastStatus(), why);
        }
        retype(code(0), "70000");
        QTest::keyClick(code(0), Qt::Key_Tab);  // leaving judges it too
        EXPECT_EQ(lastStatus(), "ADDR_1: 70000 is outside 0 .. 65535; kept 36044");
        EXPECT_EQ(sbus_structure.data[0], 36044);
        EXPECT_TRUE(board->chip().words().empty());
        EXPECT_EQ(board->chip().reg(0, 0), before);

        retype(level(0), "1,2");  // a decimal comma
        QTest::keyClick(level(0), Qt::Key_Return);
        EXPECT_EQ(board->chip().reg(0, 0), 24248u);
        EXPECT_EQ(shown(code(0)), "24248");
    });
}

TEST_F(TypingTest, ArrowStepsLandWhereTypedLevelsDo) {
    runProgram([&] {
        retype(level(1), "1.6");
        QTest::keyClick(level(1), Qt::Key_Return);
        for (int k = 0; k < 16; ++k) QTest::keyClick(level(1), Qt::Key_Down);
        EXPECT_EQ(shown(level(1)), "0.000");
        EXPECT_EQ(board->chip().reg(0, 1), 16384u);

        retype(level(1), "5.0");
        QTest::keyClick(level(1), Qt::Key_Return);
        for (int k = 0; k < 10; ++k) QTest::keyClick(level(1), Qt::Key_Up);
        EXPECT_EQ(shown(level(1)), "6.000");
        EXPECT_EQ(board->chip().reg(0, 1), 55705u);

        // A level kept to six decimals is shown whole.
        retype(level(1), "-2.123456");
        QTest::keyClick(level(1), Qt::Key_Return);
        QLineEdit* edit = level(1)->findChild<QLineEdit*>();
        EXPECT_EQ(edit->text(), "-2.123456");
        EXPECT_LE(edit->fontMetrics().horizontalAdvance(edit->text()),
                  edit->contentsRect().width() - 4);
    });
}

TEST_F(TypingTest, AClickThatEndsAnEditActsAfterTheEditIsSent) {
    runProgram([&] {
        auto* slide = qobject_cast<RingSlide*>(widgetOf(DRVFORCE));
        board->chip().clearLists();
        retype(level(2), "2.0");
        tap(slide, slide->rowRect(3).center());
        EXPECT_EQ(board->chip().reg(0, 2), 29491u);
        EXPECT_EQ(slide->currentIndex(), 3);
        EXPECT_EQ(board->chip().reg(0, 0x19) >> 1 & 7, 5u) << "the ring slide's word";
        EXPECT_LT(lastWordIndex(*board, 1, 2), lastWordIndex(*board, 1, 0x19));

        setSingleWrite(0x12, 0xBEEF);
        board->chip().clearLists();
        retype(level(2), "-1.0");
        QWidget* button = widgetOf(COMMANDBUTTON);
        tap(button, button->rect().center());
        EXPECT_EQ(board->chip().reg(0, 2), 9830u);
        EXPECT_EQ(board->chip().reg(0, 0x12), 0xBEEFu);
        EXPECT_LT(lastWordIndex(*board, 1, 2), lastWordIndex(*board, 1, 0x12));
    });
}

// The locale ctest starts this run in (KOVRA610_TEST_LOCALE, also LC_ALL),
// or "" when the run names none. Empty `why` when the C library and Qt run
// in it.
std::string requestedLocale(std::string* why) {
    const char* wanted = std::getenv("KOVRA610_TEST_LOCALE");
    if (wanted == nullptr || *wanted == '\0') return {};
    const char* running = std::setlocale(LC_NUMERIC, nullptr);
    if (running == nullptr || std::string(running) != wanted)
        *why = std::string("locale ") + wanted + " is not available here (the C library runs in " +
               (running != nullptr ? running : "?") + ")";
    const QString language = QString::fromLatin1(wanted).section(QLatin1Char('.'), 0, 0);
    if (why->empty() && language != QLatin1String("C") && QLocale().name() != language)
        *why = "Qt runs in locale " + QLocale().name().toStdString() + ", not " + wanted;
    return wanted;
}

// A whole-number field takes digits (or 0x and hex digits) and nothing
// else; a level keeps its decimal comma; a screen reader's value is the
// value committed. The same in every locale ctest runs this in.
TEST_F(TypingTest, NumbersTypedOrSetMeanTheSameInEveryLocale) {
    std::string why;
    const std::string locale = requestedLocale(&why);
    if (!why.empty()) GTEST_SKIP() << why;
    runProgram([&] {
        board->chip().clearLists();
        for (const char* typed : {"30,000", "30.000", "3e4", "30000.0", "1,5"}) {
            retype(code(0), typed);
            QTest::keyClick(code(0), Qt::Key_Return);
            EXPECT_EQ(shown(code(0)), "36044") << typed;
            EXPECT_EQ(lastStatus(),
                      std::string("ADDR_1: ") + typed +
                          " is not a whole number in digits (0 .. 65535); kept 36044");
        }
        EXPECT_EQ(sbus_structure.data[0], 36044);
        EXPECT_EQ(sbus_structure.volts[0], 3.0);
        EXPECT_TRUE(board->chip().words().empty());
        retype(code(0), "30000");
        QTest::keyClick(code(0), Qt::Key_Return);
        EXPECT_EQ(sbus_structure.data[0], 30000);
        retype(code(0), "0x7531");
        QTest::keyClick(code(0), Qt::Key_Return);
        EXPECT_EQ(sbus_structure.data[0], 30001);

        QAccessibleInterface* codeField = QAccessible::queryAccessibleInterface(code(1));
        codeField->valueInterface()->setCurrentValue(20000);
        EXPECT_EQ(sbus_structure.data[1], 20000);
        codeField->valueInterface()->setCurrentValue(16385);
        EXPECT_EQ(sbus_structure.data[1], 16385);
        QAccessible::queryAccessibleInterface(level(2))->valueInterface()->setCurrentValue(1.25);
        EXPECT_EQ(board->chip().reg(0, 2), 24575u);  // 1.25 V

        retype(level(3), "1,2");
        QTest::keyClick(level(3), Qt::Key_Return);
        EXPECT_EQ(board->chip().reg(0, 3), 24248u);  // 1.2 V
        std::string text;                            // as a program reads it back
        GetCtrlVal(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 3), &text);
        EXPECT_EQ(text, "1.200");
    });
    if (!locale.empty()) RecordProperty("locale", locale);
}

TEST_F(TypingTest, TypedTextIsJudgedBeforeAnArrowStepsFromIt) {
    runProgram([&] {
        board->chip().clearLists();
        retype(level(4), "9.9");
        QTest::keyClick(level(4), Qt::Key_Up);
        EXPECT_EQ(lastStatus(), "DAC1_4: 9.9 is outside -2.5 .. 7.5; kept 1.400");
        EXPECT_EQ(shown(level(4)), "1.400");
        EXPECT_TRUE(board->chip().words().empty());

        retype(level(4), "2,5");
        QTest::keyClick(level(4), Qt::Key_Up);
        EXPECT_EQ(shown(level(4)), "2.600");
        ASSERT_EQ(board->chip().words().size(), 1u) << "one commit, one word";
        EXPECT_EQ(board->chip().reg(0, 4), 33423u);  // 2.6 V
    });
}

// Typed text not yet committed is committed before another control acts,
// whichever control and however it is reached: the chip gets the typed
// level first, then the other control's word, and the field keeps the level.
TEST_F(TypingTest, PendingTextIsCommittedBeforeAnyOtherControlActs) {
    runProgram([&] {
        auto* slide = qobject_cast<RingSlide*>(widgetOf(DRVFORCE));
        QWidget* button = widgetOf(COMMANDBUTTON);
        setSingleWrite(0x12, 0xBEEF);
        auto expectLevelFirst = [&](int row, const char* typed, unsigned code, unsigned otherAddr,
                                    const char* how) {
            EXPECT_EQ(board->chip().reg(0, static_cast<unsigned>(row)), code) << how;
            EXPECT_EQ(shown(level(row)), typed) << how;
            EXPECT_NE(lastWordIndex(*board, 1, otherAddr), -1) << how;
            EXPECT_LT(lastWordIndex(*board, 1, static_cast<unsigned>(row)),
                      lastWordIndex(*board, 1, otherAddr))
                << how;
        };

        // A ring chosen with the mouse: its list opens, an item is clicked.
        auto* ring = qobject_cast<QComboBox*>(widgetOf(DRVCLC));
        board->chip().clearLists();
        retype(level(5), "2.000");
        tap(ring, ring->rect().center());
        ASSERT_TRUE(ring->view()->isVisible());
        QAbstractItemView* list = ring->view();
        const int item = ring->currentIndex() == 0 ? 1 : 0;
        tap(list->viewport(), list->visualRect(ring->model()->index(item, 0)).center());
        EXPECT_EQ(ring->currentIndex(), item);
        expectLevelFirst(5, "2.000", 29491, 0x19, "ring");

        // Another numeric stepped by a click on its arrow.
        board->chip().clearLists();
        retype(level(6), "-1.000");
        tapUpArrow(qobject_cast<QAbstractSpinBox*>(level(7)));
        expectLevelFirst(6, "-1.000", 9830, 7, "numeric arrow");

        // "Write All Reg" by its shortcut, from inside the field.
        board->chip().clearLists();
        retype(level(8), "4.000");
        QTest::keyClick(level(8), Qt::Key_W, Qt::ControlModifier);
        EXPECT_EQ(board->chip().reg(0, 8), 42598u) << "shortcut";
        EXPECT_EQ(shown(level(8)), "4.000");

        // Tab on to the next control.
        board->chip().clearLists();
        retype(level(9), "0.000");
        QTest::keyClick(level(9), Qt::Key_Tab);
        EXPECT_EQ(board->chip().reg(0, 9), 16384u) << "Tab";

        // A screen reader presses a ring slide's item and a button: neither
        // takes the focus from the field.
        board->chip().clearLists();
        retype(level(10), "1.000");
        pressThroughAccessibility(QAccessible::queryAccessibleInterface(slide)->child(2));
        EXPECT_EQ(slide->currentIndex(), 2);
        expectLevelFirst(10, "1.000", 22937, 0x19, "screen reader on a ring slide");

        board->chip().clearLists();
        retype(level(11), "5.000");
        pressThroughAccessibility(QAccessible::queryAccessibleInterface(button));
        expectLevelFirst(11, "5.000", 49151, 0x12, "screen reader on a button");
        EXPECT_EQ(board->chip().reg(0, 0x12), 0xBEEFu);

        // Refused text is refused first; the other control still acts.
        board->chip().clearLists();
        retype(level(12), "9.9");
        pressThroughAccessibility(QAccessible::queryAccessibleInterface(button));
        EXPECT_EQ(lastStatus(), "DAC1_12: 9.9 is outside -2.5 .. 7.5; kept -1.000");
        EXPECT_EQ(lastWordIndex(*board, 1, 12), -1);
        EXPECT_NE(lastWordIndex(*board, 1, 0x12), -1);
    });
}

// A value refused as a click takes the focus away is still said once the
// clicked button has acted; the next click's action clears it.
TEST_F(ProgramTest, ARefusalOutlastsTheClickThatMadeIt) {
    runProgram([&] {
        QStatusBar* bar = runtime::window::mainWindow()->statusBar();
        QWidget* button = widgetOf(COMMANDBUTTON);
        retype(level(12), "9.9");
        tap(button, button->rect().center());
        EXPECT_EQ(bar->currentMessage(), "DAC1_12: 9.9 is outside -2.5 .. 7.5; kept -1.000");
        tap(button, button->rect().center());
        EXPECT_EQ(bar->currentMessage(), "");
    });
}

// Typed text meets one fate: Escape abandons it (in a level and in a row's
// name alike); Enter sends it before a key typed ahead acts ("Read all
// Regs" then reads back the level sent); the close button, like "Exit",
// commits it first, an action reported as any.
TEST_F(TypingTest, TypedTextIsAbandonedByEscapeOrSentBeforeWhatFollows) {
    runProgram([&] {
        QWidget* name = widgetOf(GetCtrlArrayItem(LabelArr, 2));
        retype(name, "Renamed");
        QTest::keyClick(name, Qt::Key_Escape);
        QTest::keyClick(name, Qt::Key_W, Qt::ControlModifier);  // takes the names in
        EXPECT_STREQ(sbus_structure.name[2], "DVT_Ch0");
        const unsigned before = board->chip().reg(0, 7);
        retype(level(7), "2.0");
        QTest::keyClick(level(7), Qt::Key_Escape);
        EXPECT_EQ(shown(level(7)), "0.500");
        retype(level(3), "2.5");
        typeAhead(level(3), {{Qt::Key_Return, {}}, {Qt::Key_R, Qt::ControlModifier}});
        EXPECT_EQ(shown(level(3)), "2.500");
        retype(level(4), "2.5");
        level(4)->window()->close();
        EXPECT_EQ(board->chip().reg(0, 4), 32767u);
        EXPECT_EQ(board->chip().reg(0, 7), before);
        auto* action = runtime::window::mainWindow()->findChild<QLabel*>("statusLastAction");
        EXPECT_EQ(action->text().toStdString(), "CPL_Ch0 VOLTAGE: done");
    });
    EXPECT_NE(console.find("CPH_Ch0    ch=0x1 addr=0x3 rw=0x0 data=0x7FFF 32767\n"),
              std::string::npos);
}

// An action's outcome says what its words and reads came to: a word the
// link refused or a read it left unanswered while it stays up (the refused
// edit goes with the next), a code the transfer replaces by its level's, a
// data value cut to 16 bits. A pass refused outside an action, as at
// start-up, is no later action's outcome.
TEST_F(ProgramTest, AnActionsOutcomeSaysWhatItsWordsAndReadsCameTo) {
    runProgram([&] {
        auto outcome = [](int control, const char* typed = nullptr) {
            QWidget* w = widgetOf(control);
            if (typed != nullptr) retype(w, typed);
            if (typed != nullptr) QTest::keyClick(w, Qt::Key_Return);
            if (typed == nullptr) tap(w, w->rect().center());
            return runtime::window::mainWindow()->findChild<QLabel*>("statusLastAction")->text();
        };
        board->faults().shortenNextReply(2);  // while the link owes no earlier reply
        EXPECT_EQ(outcome(ALL_2),
                  "Read all Regs: 1 of 40 reads failed: their levels and codes kept");
        board->faults().failWrite(1);
        EXPECT_EQ(outcome(COMMANDBUTTON),
                  "Single Write To Part: not sent: the link refused the word");
        board->faults().failWrite(1);
        EXPECT_EQ(outcome(DAC1_0, "2.0"),
                  "DVH_Ch0 VOLTAGE: not all sent: the link refused the word of entry 0 "
                  "(DVH_Ch0); it and the changes after it go with the next transfer");
        EXPECT_EQ(outcome(DAC1_1, "2.0"), "DVL_Ch0 VOLTAGE: done");
        EXPECT_EQ(board->chip().reg(0, 0), 29491u);
        EXPECT_EQ(outcome(ADDR_9, "16385"),
                  "CLAMPH_Ch0 CODE: stored until the next transfer, which sends its level's code "
                  "16384");
        outcome(DAC1_2, "2.0");
        EXPECT_EQ(shown(code(8)), "16384");
        EXPECT_EQ(outcome(DATA_2, "70000"),
                  "DATA_2: the word carries 16 data bits: 70000 is kept as 4464");
        board->faults().failWrite(1);
        sbus_structure.data[3] = 1;
        sbus_structure_write_to_testequip();
        EXPECT_EQ(outcome(SINGLEREAD), "Single Read from Part: done");
    });
}

// The wheel over a numeric or a ring the operator is not in scrolls the
// panel and changes nothing; in the field the operator is in, it steps.
TEST_F(ProgramTest, AWheelOverAControlNotInUseScrollsThePanelAndSendsNothing) {
    runProgram([&] {
        QScrollBar* bar =
            runtime::window::mainWindow()->findChild<QScrollArea*>()->verticalScrollBar();
        focusField(level(0));
        board->chip().clearLists();
        for (QWidget* w : {level(5), widgetOf(DRVCLC)}) {
            const int scrolled = bar->value();
            wheel(w, bar->value() > 0 ? 1 : -1);
            EXPECT_NE(bar->value(), scrolled) << w->objectName().toStdString();
        }
        EXPECT_TRUE(board->chip().words().empty());
        focusField(level(5));
        wheel(level(5), 1);
        EXPECT_EQ(board->chip().reg(0, 5), 26869u);  // 1.5 V a step up
    });
}

TEST_F(TypingTest, AccessibilityActionsStepAndEnterAsTheKeyboardDoes) {
    runProgram([&] {
        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(level(3));
        ASSERT_NE(field->actionInterface(), nullptr);
        ASSERT_NE(field->valueInterface(), nullptr);
        field->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
        EXPECT_EQ(shown(level(3)), "1.700");  // 1.6 + one step of 0.1
        EXPECT_EQ(shown(code(3)), "27524");
        EXPECT_EQ(board->chip().reg(0, 3), 27524u);
        field->actionInterface()->doAction(QAccessibleActionInterface::decreaseAction());
        EXPECT_EQ(board->chip().reg(0, 3), 26869u);

        field->valueInterface()->setCurrentValue(2.0);
        EXPECT_EQ(board->chip().reg(0, 3), 29491u);
        field->valueInterface()->setCurrentValue(9.9);
        EXPECT_EQ(board->chip().reg(0, 3), 29491u);
        EXPECT_EQ(lastStatus(), "DAC1_3: 9.9 is outside -2.5 .. 7.5; kept 2.000");
    });
}

TEST_F(TypingTest, TabWalksEveryControlAndKeysPressButtons) {
    runProgram([&] {
        QWidget* panel = widgetOf(DAC1TEXTBOX)->parentWidget();
        std::set<QWidget*> expected;
        for (QWidget* w : panel->findChildren<QWidget*>())
            if (w->focusPolicy() & Qt::TabFocus && !w->focusProxy() && w->isVisibleTo(panel))
                expected.insert(w);
        focusField(level(0));
        std::set<QWidget*> visited;
        for (int k = 0; k < 1000 && (k == 0 || QApplication::focusWidget() != level(0)); ++k) {
            visited.insert(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        EXPECT_EQ(QApplication::focusWidget(), level(0)) << "Tab wraps";
        for (QWidget* w : expected) EXPECT_TRUE(visited.count(w)) << w->objectName().toStdString();
        EXPECT_FALSE(qobject_cast<QPlainTextEdit*>(widgetOf(DAC1TEXTBOX))
                         ->toPlainText()
                         .contains(QLatin1Char('\t')));

        // Enter presses a focused button; Ctrl+W is "Write All Reg".
        setSingleWrite(0x12, 0x1234);
        widgetOf(COMMANDBUTTON)->setFocus();
        QTest::keyClick(widgetOf(COMMANDBUTTON), Qt::Key_Return);
        EXPECT_EQ(board->chip().reg(0, 0x12), 0x1234u);
        board->chip().clearLists();
        QTest::keyClick(level(0), Qt::Key_W, Qt::ControlModifier);
        EXPECT_EQ(board->chip().words().size(),
                  static_cast<std::size_t>(sbus_structure.number_registers));

        const std::pair<int, Qt::Key> shortcuts[] = {{SBUSSEL, Qt::Key_O},
                                                     {SBUSLRN, Qt::Key_S},
                                                     {ALL_2, Qt::Key_R},
                                                     {COMMANDBUTTON_7, Qt::Key_Q}};
        for (const auto& [control, key] : shortcuts) {
            QSignalSpy clicked(qobject_cast<QPushButton*>(widgetOf(control)),
                               &QPushButton::clicked);
            QTest::keyClick(level(0), key, Qt::ControlModifier);
            EXPECT_EQ(clicked.count(), 1) << control;
        }
    });
}

}  // namespace
}  // namespace kovra610::testing
