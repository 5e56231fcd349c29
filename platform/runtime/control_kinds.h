// The control kinds of the run-time, one row each: the widget classes a kind
// is made of and the data type each gives, what the panel file must say
// about it, how its widget is set up and its commits wired, how its value
// is got and set, and how an operator enters a value into it. Adding a kind
// is adding a row (and its functions) here.
#pragma once

#include <QString>
#include <array>
#include <functional>
#include <string>

#include "platform/runtime/panel_file.h"
#include "runtime_internal.h"

namespace kovra610::runtime::detail {

// A control's value as its widget holds it.
struct Value {
    bool isText = false;
    double number = 0;
    QString text;
};

struct WidgetClass {
    const char* name = nullptr;  // as the panel file names it
    DataType type = DataType::Int;
};

struct ControlKind {
    Kind kind;
    const char* name;                    // as the panel file names it ("numeric")
    std::array<WidgetClass, 2> classes;  // the classes it may be made of
    const char* expected;                // the classes, as a refusal names them
    bool captioned;                      // its caption is drawn above it
    // What the file must say beyond the common properties; fills in the
    // kind's part of the control. Returns an error text or "".
    std::string (*check)(const FormWidget& w, Control& c);
    // Sets the widget up once the form loader made it.
    void (*setUp)(QWidget* w, const Control& c);
    // Connects the operator's commits to `deliver`.
    void (*wire)(QWidget* w, const std::function<void()>& deliver);
    int (*get)(const Control& c, Value* out);
    // Values written by the program (no event); the widget's signals are
    // blocked around setNumber.
    int (*setNumber)(Control& c, double value);
    int (*setText)(Control& c, const QString& text);
    // An operator's entry, committed as the operator would commit it: the
    // callback's result, or a negative error when nothing was committed.
    int (*enterNumber)(Control& c, double value);
    int (*enterText)(Control& c, const QString& text);
};

const ControlKind& controlKind(Kind kind);
// The kind the panel file names, or null.
const ControlKind* controlKindNamed(const std::string& name);

// A number as text: decimal, or 0x hexadecimal; finite only.
bool parseNumber(const QString& text, double* out);
// Shows the widget's new look at once when it is on screen.
void showNow(QWidget* w);

// Writes a number into the control as the program does: finite values only,
// no event.
int setControlNumber(Control& c, double value);

}  // namespace kovra610::runtime::detail
