// Control values: typed conversions, writes that raise no event, rings that
// hold only their listed values, LEDs and their busy look.
#include <QAbstractSpinBox>
#include <QTest>

#include "led.h"
#include "runtime_fixture.h"

TEST_F(RuntimeTest, GetCtrlValConvertsToTheAskedType) {
    double d = 0;
    int i = 0;
    unsigned u = 0;
    std::string s;
    EXPECT_EQ(GetCtrlVal(panel, CODE, &d), UIE_NO_ERROR);  // unsigned numeric into double
    EXPECT_EQ(d, 16384.0);
    EXPECT_EQ(GetCtrlVal(panel, CODE, &i), UIE_NO_ERROR);
    EXPECT_EQ(i, 16384);
    EXPECT_EQ(GetCtrlVal(panel, CODE, &s), UIE_NO_ERROR);
    EXPECT_EQ(s, "16384");

    ASSERT_EQ(SetCtrlVal(panel, VOLTS, 2.4567), UIE_NO_ERROR);
    EXPECT_EQ(GetCtrlVal(panel, VOLTS, &s), UIE_NO_ERROR);
    EXPECT_EQ(s, "2.4567");  // kept as written, not rounded to the 3 decimals shown
    EXPECT_EQ(GetCtrlVal(panel, VOLTS, &d), UIE_NO_ERROR);
    EXPECT_EQ(d, 2.4567);
    ASSERT_EQ(SetCtrlVal(panel, VOLTS, 2.5), UIE_NO_ERROR);
    EXPECT_EQ(GetCtrlVal(panel, VOLTS, &s), UIE_NO_ERROR);
    EXPECT_EQ(s, "2.500");  // at least the 3 decimals the resource asks for
    ASSERT_EQ(SetCtrlVal(panel, VOLTS, 2.4567), UIE_NO_ERROR);
    EXPECT_EQ(GetCtrlVal(panel, VOLTS, &u), UIE_NO_ERROR);
    EXPECT_EQ(u, 2u);  // rounded to the nearest whole number

    // A value the target type cannot hold is refused and the target untouched.
    ASSERT_EQ(SetCtrlVal(panel, SIGNED, -5), UIE_NO_ERROR);
    u = 77;
    EXPECT_EQ(GetCtrlVal(panel, SIGNED, &u), UIE_OUT_OF_RANGE);
    EXPECT_EQ(u, 77u);
    EXPECT_EQ(GetCtrlVal(panel, SIGNED, &i), UIE_NO_ERROR);
    EXPECT_EQ(i, -5);

    // Text controls hold text; numbers in them convert, other text does not.
    ASSERT_EQ(SetCtrlVal(panel, NAME, "12.5"), UIE_NO_ERROR);
    EXPECT_EQ(GetCtrlVal(panel, NAME, &d), UIE_NO_ERROR);
    EXPECT_EQ(d, 12.5);
    ASSERT_EQ(SetCtrlVal(panel, NAME, std::string("DAC zero")), UIE_NO_ERROR);
    EXPECT_EQ(GetCtrlVal(panel, NAME, &d), UIE_INVALID_TYPE);
    EXPECT_EQ(GetCtrlVal(panel, NAME, &s), UIE_NO_ERROR);
    EXPECT_EQ(s, "DAC zero");

    // Text into a numeric: a number is taken, anything else refused.
    EXPECT_EQ(SetCtrlVal(panel, CODE, "0x10"), UIE_NO_ERROR);
    EXPECT_EQ(rt::shownText(panel, CODE), "16");
    EXPECT_EQ(SetCtrlVal(panel, CODE, "ten"), UIE_INVALID_TYPE);
    EXPECT_EQ(rt::shownText(panel, CODE), "16");
    EXPECT_EQ(SetCtrlVal(panel, CODE, static_cast<const char*>(nullptr)), UIE_INVALID_TYPE);

    EXPECT_EQ(GetCtrlVal(panel, SPLIT, &i), UIE_INVALID_TYPE);
    EXPECT_EQ(SetCtrlVal(panel, GO, 1), UIE_INVALID_TYPE);
}

TEST_F(RuntimeTest, TextIntoFixedBuffersIsCutAndTerminated) {
    char small[5];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(GetCtrlVal(panel, BOX, small), UIE_NO_ERROR);
    EXPECT_STREQ(small, "None");
    char exact[12];
    EXPECT_EQ(GetCtrlVal(panel, BOX, exact), UIE_NO_ERROR);
    EXPECT_STREQ(exact, "None Loaded");
    char one[1] = {'x'};
    EXPECT_EQ(GetCtrlVal(panel, BOX, one), UIE_NO_ERROR);
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(GetCtrlVal(panel, BOX, static_cast<char*>(nullptr), 0), UIE_OUT_OF_RANGE);
    char numeric[3];
    EXPECT_EQ(GetCtrlVal(panel, CODE, numeric), UIE_NO_ERROR);
    EXPECT_STREQ(numeric, "16");
}

TEST_F(RuntimeTest, SetCtrlValRaisesNoEvent) {
    EXPECT_EQ(SetCtrlVal(panel, VOLTS, 3.3), UIE_NO_ERROR);
    EXPECT_EQ(SetCtrlVal(panel, CODE, 100u), UIE_NO_ERROR);
    EXPECT_EQ(SetCtrlVal(panel, FORCE, 7), UIE_NO_ERROR);
    EXPECT_EQ(SetCtrlVal(panel, RANGES, 0), UIE_NO_ERROR);
    EXPECT_EQ(SetCtrlVal(panel, CLC, 2), UIE_NO_ERROR);
    EXPECT_EQ(SetCtrlVal(panel, NAME, "x"), UIE_NO_ERROR);
    ProcessSystemEvents();
    EXPECT_TRUE(delivered().empty());

    // A value written while the operator is still typing in the field
    // (a callback's redraw) leaves the typed text: the field holds the
    // written value until the edit is committed, and leaving commits it.
    QWidget* code = widget(CODE);
    QTest::keyClick(code, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(code, "123");
    EXPECT_EQ(SetCtrlVal(panel, CODE, 5u), UIE_NO_ERROR);
    EXPECT_EQ(qobject_cast<QAbstractSpinBox*>(code)->text(), "123");
    unsigned held = 0;
    GetCtrlVal(panel, CODE, &held);
    EXPECT_EQ(held, 5u);
    EXPECT_TRUE(delivered().empty());
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(code, &out);
    ASSERT_EQ(delivered().size(), 1u);
    GetCtrlVal(panel, CODE, &held);
    EXPECT_EQ(held, 123u);
}

TEST_F(RuntimeTest, NumericWritesOutsideTheRangeShowTheNearestEnd) {
    EXPECT_EQ(SetCtrlVal(panel, CODE, 70000u), UIE_NO_ERROR);
    EXPECT_EQ(rt::shownText(panel, CODE), "65535");
    EXPECT_EQ(SetCtrlVal(panel, CODE, -3), UIE_NO_ERROR);
    EXPECT_EQ(rt::shownText(panel, CODE), "0");
    EXPECT_EQ(SetCtrlVal(panel, CODE, 4294967295u), UIE_NO_ERROR);
    EXPECT_EQ(rt::shownText(panel, CODE), "65535");
    EXPECT_EQ(SetCtrlVal(panel, VOLTS, 9.0), UIE_NO_ERROR);
    EXPECT_EQ(rt::shownText(panel, VOLTS), "7.500");
    EXPECT_EQ(SetCtrlVal(panel, VOLTS, std::numeric_limits<double>::quiet_NaN()), UIE_OUT_OF_RANGE);
    EXPECT_EQ(rt::shownText(panel, VOLTS), "7.500");
}

TEST_F(RuntimeTest, RingsHoldOnlyTheirListedValues) {
    EXPECT_EQ(SetCtrlVal(panel, FORCE, 5), UIE_NO_ERROR);
    EXPECT_EQ(rt::shownText(panel, FORCE), "5");
    for (int unlisted : {2, 4, 6, 8, -1}) {
        EXPECT_EQ(SetCtrlVal(panel, FORCE, unlisted), UIE_OUT_OF_RANGE) << unlisted;
        EXPECT_EQ(rt::shownText(panel, FORCE), "5");
    }
    EXPECT_EQ(SetCtrlVal(panel, FORCE, 3.5), UIE_OUT_OF_RANGE);
    EXPECT_EQ(SetCtrlVal(panel, FORCE, 3.0), UIE_NO_ERROR);
    EXPECT_EQ(rt::shownText(panel, FORCE), "3");

    EXPECT_EQ(SetCtrlVal(panel, CLC, 3), UIE_OUT_OF_RANGE);
    EXPECT_EQ(SetCtrlVal(panel, CLC, 1u), UIE_NO_ERROR);
    int v = -1;
    EXPECT_EQ(GetCtrlVal(panel, CLC, &v), UIE_NO_ERROR);
    EXPECT_EQ(v, 1);
}

TEST_F(RuntimeTest, LedValueAndBusyLook) {
    EXPECT_EQ(SetCtrlVal(panel, LED, 1), UIE_NO_ERROR);
    EXPECT_EQ(rt::shownText(panel, LED), "1");
    EXPECT_EQ(SetCtrlVal(panel, LED, 7), UIE_NO_ERROR);  // any non-zero is lit
    EXPECT_EQ(rt::shownText(panel, LED), "1");
    EXPECT_EQ(SetCtrlVal(panel, LED, 0), UIE_NO_ERROR);
    EXPECT_EQ(rt::shownText(panel, LED), "0");

    EXPECT_EQ(SetCtrlAttribute(panel, LED, ATTR_LED_BUSY, 1), UIE_NO_ERROR);
    EXPECT_EQ(rt::ledBusy(panel, LED), 1);
    EXPECT_EQ(SetCtrlAttribute(panel, CODE, ATTR_LED_BUSY, 1), UIE_INVALID_TYPE);
    EXPECT_EQ(SetCtrlAttribute(panel, LED, 12345, 1), UIE_INVALID_TYPE);

    // While busy the lamp blinks; the blink is a timer callback of the
    // run-time and stands still while timer callbacks are suspended.
    auto* led = qobject_cast<Led*>(widget(LED));
    ASSERT_NE(led, nullptr);
    EXPECT_TRUE(led->busy());
    SuspendTimerCallbacks();
    SuspendTimerCallbacks();  // nested
    const bool phase = led->blinkPhase();
    QTest::qWait(Led::kBlinkMs * 2 + 100);
    EXPECT_EQ(led->blinkPhase(), phase);
    ResumeTimerCallbacks();
    QTest::qWait(Led::kBlinkMs * 2 + 100);
    EXPECT_EQ(led->blinkPhase(), phase);  // still suspended once
    ResumeTimerCallbacks();
    bool changed = false;
    for (int i = 0; i < 10 && !changed; ++i) {
        QTest::qWait(Led::kBlinkMs / 2);
        changed = led->blinkPhase() != phase;
    }
    EXPECT_TRUE(changed);
    ResumeTimerCallbacks();  // more resumes than suspends are harmless

    EXPECT_EQ(SetCtrlAttribute(panel, LED, ATTR_LED_BUSY, 0), UIE_NO_ERROR);
    EXPECT_EQ(rt::ledBusy(panel, LED), 0);
    EXPECT_FALSE(led->busy());
    EXPECT_FALSE(led->blinkPhase());
}
