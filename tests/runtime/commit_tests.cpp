// Commits: through the test driver and through real key and mouse events on
// the widgets. One operator action commits once; a numeric never delivers a
// value outside its range; a ring slide delivers exactly its listed values.
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "ringslide.h"
#include "runtime_fixture.h"

namespace {
void leave(QWidget* w) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(w, &out);
}
void retype(QWidget* w, const char* text) {
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(w, text);
}
}  // namespace

TEST_F(RuntimeTest, CommitRunsTheCallbackWithControlIdAndEventOne) {
    EXPECT_EQ(rt::commit(panel, CODE, 123u), CODE * 10);
    ASSERT_EQ(delivered().size(), 1u);
    EXPECT_EQ(delivered()[0].panel, panel);
    EXPECT_EQ(delivered()[0].control, CODE);
    EXPECT_EQ(delivered()[0].event, EVENT_COMMIT);
    EXPECT_EQ(delivered()[0].value, 123.0);

    EXPECT_EQ(rt::commit(panel, VOLTS, -1.25), VOLTS * 10);
    EXPECT_EQ(deliveredValues(VOLTS), std::vector<double>{-1.25});
    EXPECT_EQ(rt::commit(panel, NAME, std::string("chan A")), NAME * 10);
    EXPECT_EQ(rt::shownText(panel, NAME), "chan A");
    EXPECT_EQ(rt::press(panel, GO), GO * 10);
    EXPECT_EQ(rt::commit(panel, CLC, 2), CLC * 10);
    EXPECT_EQ(deliveredValues(CLC), std::vector<double>{2});

    // Controls without a callback commit quietly; displays cannot be edited.
    EXPECT_EQ(rt::commit(panel, CLK, 20u), 0);
    EXPECT_EQ(rt::shownText(panel, CLK), "20");
    EXPECT_EQ(rt::commit(panel, LED, 1), UIE_INVALID_TYPE);
    EXPECT_EQ(rt::commit(panel, MSG, std::string("x")), UIE_INVALID_TYPE);
    EXPECT_EQ(rt::press(panel, CODE), UIE_INVALID_TYPE);
    EXPECT_EQ(rt::commit(panel, 99, 1), UIE_INVALID_CONTROL);
    EXPECT_EQ(delivered().size(), 5u);  // VOLTS, CODE, NAME, GO, CLC
}

TEST_F(RuntimeTest, NumericsNeverDeliverValuesOutsideTheirRange) {
    // Double numeric, -2.5 .. 7.5.
    for (double bad : {7.5001, 7.6, 100.0, -2.6, -1e300}) {
        EXPECT_EQ(rt::commit(panel, VOLTS, bad), UIE_OUT_OF_RANGE) << bad;
        EXPECT_EQ(rt::shownText(panel, VOLTS), "1.000") << bad;
    }
    EXPECT_EQ(rt::commit(panel, VOLTS, 7.5), VOLTS * 10);
    EXPECT_EQ(rt::commit(panel, VOLTS, -2.5), VOLTS * 10);
    EXPECT_EQ(deliveredValues(VOLTS), (std::vector<double>{7.5, -2.5}));

    // Unsigned numeric, 0 .. 65535, through every typed overload.
    EXPECT_EQ(rt::commit(panel, CODE, 65536u), UIE_OUT_OF_RANGE);
    EXPECT_EQ(rt::commit(panel, CODE, 4294967295u), UIE_OUT_OF_RANGE);
    EXPECT_EQ(rt::commit(panel, CODE, -1), UIE_OUT_OF_RANGE);
    EXPECT_EQ(rt::commit(panel, CODE, 3.5), UIE_OUT_OF_RANGE);  // not a whole number
    EXPECT_EQ(rt::commit(panel, CODE, std::string("70000")), UIE_OUT_OF_RANGE);
    EXPECT_EQ(rt::shownText(panel, CODE), "16384");
    EXPECT_EQ(rt::commit(panel, CODE, 65535u), CODE * 10);
    EXPECT_EQ(rt::commit(panel, CODE, 0), CODE * 10);
    EXPECT_EQ(deliveredValues(CODE), (std::vector<double>{65535, 0}));

    // Typed by keys: what is outside the range is refused whole, by Enter
    // and by leaving the field alike.
    const std::size_t committed = delivered().size();
    QWidget* code = widget(CODE);
    retype(code, "99999");
    QTest::keyClick(code, Qt::Key_Return);
    retype(code, "-4");
    leave(code);
    QWidget* volts = widget(VOLTS);
    retype(volts, "8");
    QTest::keyClick(volts, Qt::Key_Enter);
    retype(volts, "-3");
    leave(volts);
    EXPECT_EQ(delivered().size(), committed);
    EXPECT_EQ(rt::shownText(panel, CODE), "0");

    // Stepping past an end stops at the end and commits nothing more.
    SetCtrlVal(panel, CODE, 65535u);
    const std::size_t before = deliveredValues(CODE).size();
    QTest::keyClick(code, Qt::Key_Up);
    QTest::keyClick(code, Qt::Key_PageUp);
    EXPECT_EQ(deliveredValues(CODE).size(), before);
    for (const auto& d : delivered()) {
        if (d.control == CODE) {
            EXPECT_TRUE(d.value >= 0 && d.value <= 65535);
        }
        if (d.control == VOLTS) {
            EXPECT_TRUE(d.value >= -2.5 && d.value <= 7.5);
        }
    }
}

TEST_F(RuntimeTest, EachOperatorActionOnANumericCommitsOnce) {
    QWidget* code = widget(CODE);
    QTest::keyClick(code, Qt::Key_Up);  // arrow step
    EXPECT_EQ(deliveredValues(CODE), std::vector<double>{16385});
    QTest::keyClick(code, Qt::Key_Down);
    QTest::keyClick(code, Qt::Key_Down);
    EXPECT_EQ(deliveredValues(CODE), (std::vector<double>{16385, 16384, 16383}));

    delivered().clear();
    retype(code, "42");
    QTest::keyClick(code, Qt::Key_Return);  // Enter ...
    leave(code);                            // ... then leaving: still one commit
    EXPECT_EQ(deliveredValues(CODE), std::vector<double>{42});

    delivered().clear();
    retype(code, "43");
    leave(code);  // leaving after an edit
    leave(code);  // and again without one
    EXPECT_EQ(deliveredValues(CODE), std::vector<double>{43});

    delivered().clear();
    QTest::keyClick(code, Qt::Key_Return);  // Enter without an edit commits the shown value
    EXPECT_EQ(deliveredValues(CODE), std::vector<double>{43});

    delivered().clear();
    QWidget* volts = widget(VOLTS);
    QTest::keyClick(volts, Qt::Key_Up);  // one step of 0.1
    ASSERT_EQ(deliveredValues(VOLTS).size(), 1u);
    EXPECT_NEAR(deliveredValues(VOLTS)[0], 1.1, 1e-9);

    // An edit followed by an arrow step commits the stepped value once.
    delivered().clear();
    retype(code, "100");
    QTest::keyClick(code, Qt::Key_Up);
    EXPECT_EQ(deliveredValues(CODE), std::vector<double>{101});
    leave(code);
    EXPECT_EQ(deliveredValues(CODE).size(), 1u);
}

TEST_F(RuntimeTest, StringsCommitOnEnterAndOnLeavingAfterAnEdit) {
    QWidget* name = widget(NAME);
    QTest::keyClicks(name, "abc");
    QTest::keyClick(name, Qt::Key_Return);
    leave(name);
    ASSERT_EQ(delivered().size(), 1u);
    EXPECT_EQ(rt::shownText(panel, NAME), "abc");
    QTest::keyClicks(name, "d");
    leave(name);
    leave(name);
    EXPECT_EQ(delivered().size(), 2u);
    EXPECT_EQ(rt::shownText(panel, NAME), "abcd");
}

TEST_F(RuntimeTest, RingSlideWithGapsDeliversExactlyItsListedValues) {
    for (int v : {7, 0, 5, 1, 3}) EXPECT_EQ(rt::commit(panel, FORCE, v), FORCE * 10) << v;
    EXPECT_EQ(deliveredValues(FORCE), (std::vector<double>{7, 0, 5, 1, 3}));
    for (int v : {2, 4, 6, -1, 8}) EXPECT_EQ(rt::commit(panel, FORCE, v), UIE_OUT_OF_RANGE) << v;
    EXPECT_EQ(rt::shownText(panel, FORCE), "3");

    // Keys walk the items in the order shown.
    delivered().clear();
    auto* slide = qobject_cast<RingSlide*>(widget(FORCE));
    ASSERT_NE(slide, nullptr);
    QTest::keyClick(slide, Qt::Key_Home);
    for (int i = 0; i < 5; ++i) QTest::keyClick(slide, Qt::Key_Down);  // last one stays put
    QTest::keyClick(slide, Qt::Key_Up);
    EXPECT_EQ(deliveredValues(FORCE), (std::vector<double>{0, 1, 3, 5, 7, 5}));

    // A click on a caption row selects it; a drag commits once, on release.
    delivered().clear();
    const auto rowCentre = [slide](int row) {
        return QPoint(40, RingSlide::kMargin + row * RingSlide::kRowHeight + 8);
    };
    QTest::mouseClick(slide, Qt::LeftButton, Qt::NoModifier, rowCentre(1));
    EXPECT_EQ(deliveredValues(FORCE), std::vector<double>{1});
    QTest::mousePress(slide, Qt::LeftButton, Qt::NoModifier, rowCentre(1));
    QTest::mouseMove(slide, rowCentre(2));
    QTest::mouseMove(slide, rowCentre(4));
    QTest::mouseRelease(slide, Qt::LeftButton, Qt::NoModifier, rowCentre(4));
    EXPECT_EQ(deliveredValues(FORCE), (std::vector<double>{1, 7}));
    QTest::mouseClick(slide, Qt::LeftButton, Qt::NoModifier, rowCentre(4));  // no move
    EXPECT_EQ(deliveredValues(FORCE).size(), 2u);

    // Items listed in falling order deliver their own values too.
    delivered().clear();
    auto* ranges = widget(RANGES);
    QTest::keyClick(ranges, Qt::Key_Home);
    QTest::keyClick(ranges, Qt::Key_End);
    EXPECT_EQ(deliveredValues(RANGES), (std::vector<double>{7, 0}));
}

TEST_F(RuntimeTest, PostedCommitRunsNestedInsideACallbackThatProcessesEvents) {
    std::vector<std::string> order;
    inCallback() = [&](int control) {
        if (control != GO) {
            order.push_back("commit " + std::to_string(control));
            return;
        }
        order.push_back("go begins");
        rt::postCommit(panel, CODE, 7);
        order.push_back(delivered().size() == 1 ? "not yet" : "too early");
        ProcessSystemEvents();
        order.push_back("go ends");
    };
    EXPECT_EQ(rt::press(panel, GO), GO * 10);  // the outer result, not the nested one
    EXPECT_EQ(order, (std::vector<std::string>{"go begins", "not yet", "commit 3", "go ends"}));
    EXPECT_EQ(deliveredValues(CODE), std::vector<double>{7});
}

TEST_F(RuntimeTest, EventLoopReturnsTheQuitCode) {
    inCallback() = [](int control) {
        if (control == GO) QuitUserInterface(3);
    };
    rt::postCommit(panel, GO, 0);
    EXPECT_EQ(RunUserInterface(), 3);
    // A quit asked for before the loop runs ends the next loop at once.
    QuitUserInterface(4);
    EXPECT_EQ(RunUserInterface(), 4);

    // Closing the panel's window asks to quit with 0 and keeps the panel.
    DisplayPanel(panel);
    QWidget* window = widget(GO)->window();
    QTimer::singleShot(0, window, [window] { window->close(); });
    EXPECT_EQ(RunUserInterface(), 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(rt::press(panel, GO), GO * 10);
}
