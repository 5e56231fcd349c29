// The table of control kinds and each kind's functions.
#include "control_kinds.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "commit_widgets.h"
#include "led.h"
#include "ringslide.h"

namespace kovra610::runtime::detail {
namespace {

// --- Shared by several kinds -------------------------------------------------

std::string noCheck(const FormWidget&, Control&) {
    return {};
}
void noSetUp(QWidget*, const Control&) {}
void notWired(QWidget*, const std::function<void()>&) {}
int noValue(const Control&, Value*) {
    return UIE_INVALID_TYPE;
}
int refuseNumber(Control&, double) {
    return UIE_INVALID_TYPE;
}
int refuseText(Control&, const QString&) {
    return UIE_INVALID_TYPE;
}

// Text written into a control that holds a number.
int setTextAsNumber(Control& c, const QString& text) {
    double v = 0;
    if (!parseNumber(text, &v)) return UIE_INVALID_TYPE;
    return setControlNumber(c, v);
}

// A number written into a control that holds text.
int setNumberAsText(Control& c, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    return controlKind(c.kind).setText(c, QString::fromUtf8(buf));
}

// The result of the commit an operator's action started, or `refused` when
// it started none.
template <typename Action>
int committed(Action action, int refused) {
    const CommitWatch watch;
    action();
    return watch.delivered ? watch.result : refused;
}

void pressEnter(QWidget* w) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &release);
}

void leaveField(QWidget* w) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(w, &out);
}

// A number an operator enters into a text field: typed as text.
int enterNumberAsText(Control& c, double value) {
    return controlKind(c.kind).enterText(c, QString::number(value, 'g', 15));
}

// "0,1,3,5,7" -> values; false when any item is not an integer.
bool parseValues(const QString& s, std::vector<int>* out) {
    out->clear();
    const QString trimmed = s.trimmed();
    if (trimmed.isEmpty()) return true;
    for (const QString& part : trimmed.split(QLatin1Char(','))) {
        bool ok = false;
        const int v = part.trimmed().toInt(&ok);
        if (!ok) return false;
        out->push_back(v);
    }
    return true;
}

int ringIndexOf(const Control& c, double value) {
    for (std::size_t i = 0; i < c.ringValues.size(); ++i) {
        if (c.ringValues[i] == value) return static_cast<int>(i);
    }
    return -1;
}

std::string countMismatch(const std::string& label, std::size_t values, std::size_t items) {
    return label + " lists " + std::to_string(values) + " ring values for " +
           std::to_string(items) + " items";
}

// A ring or ring slide only ever holds one of its listed values.
template <class Widget>
int setListed(Control& c, double value) {
    const int index = value == std::floor(value) ? ringIndexOf(c, value) : -1;
    if (index < 0) return UIE_OUT_OF_RANGE;
    qobject_cast<Widget*>(c.widget)->setCurrentIndex(index);
    return UIE_NO_ERROR;
}

void selectAsOperator(QComboBox* combo, int index) {
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}
void selectAsOperator(RingSlide* slide, int index) {
    slide->operatorSelect(index, true);
}

template <class Widget>
int enterListed(Control& c, double value) {
    const int index = ringIndexOf(c, value);
    if (index < 0) return UIE_OUT_OF_RANGE;
    auto* w = qobject_cast<Widget*>(c.widget);
    return committed([&] { selectAsOperator(w, index); }, UIE_INVALID_CONTROL);
}

// A ring's number entered as text ("3").
int enterRingText(Control& c, const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? controlKind(c.kind).enterNumber(c, v) : UIE_INVALID_TYPE;
}

// A wheel turned over a numeric or a ring that the operator is not in
// scrolls the panel instead: it changes no value, so scrolling past a
// control sends nothing to the chip. The control the operator clicked or
// tabbed into takes the wheel as a step.
class WheelOnlyWhenFocused : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel || static_cast<QWidget*>(watched)->hasFocus())
            return QObject::eventFilter(watched, event);
        event->ignore();  // on to the widgets around it: the panel's scroll area
        return true;
    }
};

void takeWheelOnlyWhenFocused(QWidget* w) {
    static auto* const guard = new WheelOnlyWhenFocused(QCoreApplication::instance());
    w->setFocusPolicy(Qt::StrongFocus);  // a wheel gives no focus
    w->installEventFilter(guard);
}

// --- Numeric -----------------------------------------------------------------

std::string checkNumeric(const FormWidget& w, Control& c) {
    const std::string label = "control " + c.name;
    const QVariant typeProp = w.props.value(QStringLiteral("dataType"));
    const bool isDouble = w.className == QLatin1String("QDoubleSpinBox");
    if (c.type == DataType::Text || isDouble != (c.type == DataType::Double))
        return label + " has data type \"" + typeProp.toString().toStdString() +
               "\", which its widget cannot hold";
    if (!isDouble && c.type == DataType::Unsigned &&
        w.props.value(QStringLiteral("minimum")).toInt() < 0)
        return label + " is unsigned but its minimum is negative";
    return {};
}

void setUpNumeric(QWidget* w, const Control&) {
    if (auto* level = dynamic_cast<CommitDoubleSpin*>(w)) level->keepPrecision();
    takeWheelOnlyWhenFocused(w);
}

void wireEntry(QWidget* w, const std::function<void()>& deliver) {
    dynamic_cast<NumericEntry*>(w)->onCommit = deliver;
}

int getNumeric(const Control& c, Value* out) {
    if (auto* d = qobject_cast<QDoubleSpinBox*>(c.widget))
        out->number = d->value();
    else
        out->number = qobject_cast<QSpinBox*>(c.widget)->value();
    return UIE_NO_ERROR;
}

// Outside the range, the nearest end of the range is shown.
int setNumeric(Control& c, double value) {
    double v = value;
    if (auto* d = qobject_cast<QDoubleSpinBox*>(c.widget)) {
        v = std::clamp(v, d->minimum(), d->maximum());
    } else {
        auto* s = qobject_cast<QSpinBox*>(c.widget);
        v = std::clamp(std::round(v), static_cast<double>(s->minimum()),
                       static_cast<double>(s->maximum()));
    }
    dynamic_cast<NumericEntry*>(c.widget.data())->writeValue(v);
    return UIE_NO_ERROR;
}

// The text an operator would type for the value, read the same in every
// locale.
int enterNumeric(Control& c, double value) {
    return controlKind(c.kind).enterText(c, plainNumberText(value));
}

int enterNumericText(Control& c, const QString& text) {
    auto* entry = dynamic_cast<NumericEntry*>(c.widget.data());
    return committed(
        [&] {
            entry->typeText(text);
            pressEnter(c.widget);
        },
        UIE_OUT_OF_RANGE);
}

// --- Command button ------------------------------------------------------------

void setUpCommand(QWidget* w, const Control& c) {
    if (!c.shortcut.empty()) attachShortcut(w, c.shortcut);
}

void wireCommand(QWidget* w, const std::function<void()>& deliver) {
    QObject::connect(qobject_cast<QPushButton*>(w), &QPushButton::clicked, w, deliver);
}

int getCommand(const Control&, Value* out) {
    out->number = 0;
    return UIE_NO_ERROR;
}

// Any number entered into a button presses it.
int pressCommand(Control& c, double) {
    auto* button = qobject_cast<QPushButton*>(c.widget);
    if (!button) return UIE_INVALID_TYPE;
    return committed([&] { button->click(); }, UIE_INVALID_CONTROL);
}

// --- Ring (a drop-down list) ---------------------------------------------------

std::string checkRing(const FormWidget& w, Control& c) {
    const std::string label = "control " + c.name;
    if (!parseValues(w.props.value(QStringLiteral("ringValues")).toString(), &c.ringValues))
        return label + " has ring values that are not whole numbers";
    const auto items = static_cast<std::size_t>(w.items.size());
    if (items == 0) return label + " is a ring without items";
    if (c.ringValues.empty()) {
        for (std::size_t i = 0; i < items; ++i) c.ringValues.push_back(static_cast<int>(i));
    }
    if (c.ringValues.size() != items) return countMismatch(label, c.ringValues.size(), items);
    return {};
}

void setUpRing(QWidget* w, const Control&) {
    auto* combo = qobject_cast<QComboBox*>(w);
    if (combo->currentIndex() < 0) combo->setCurrentIndex(0);
    takeWheelOnlyWhenFocused(w);
}

void wireRing(QWidget* w, const std::function<void()>& deliver) {
    QObject::connect(qobject_cast<QComboBox*>(w), &QComboBox::activated, w, deliver);
}

int getRing(const Control& c, Value* out) {
    const int index = qobject_cast<QComboBox*>(c.widget)->currentIndex();
    out->number = index < 0 || index >= static_cast<int>(c.ringValues.size())
                      ? 0
                      : c.ringValues[static_cast<std::size_t>(index)];
    return UIE_NO_ERROR;
}

// --- Ring slide (a list of captions beside a slide) ----------------------------

std::string checkRingSlide(const FormWidget& w, Control& c) {
    const std::string label = "control " + c.name;
    if (!parseValues(w.props.value(QStringLiteral("ringValues")).toString(), &c.ringValues))
        return label + " has ring values that are not whole numbers";
    const QStringList items = w.props.value(QStringLiteral("ringItems")).toStringList();
    if (items.isEmpty()) return label + " is a ring slide without items";
    if (c.ringValues.size() != static_cast<std::size_t>(items.size()))
        return countMismatch(label, c.ringValues.size(), static_cast<std::size_t>(items.size()));
    const QVariant initial = w.props.value(QStringLiteral("value"));
    if (initial.isValid() && ringIndexOf(c, initial.toInt()) < 0)
        return label + " starts at value " + initial.toString().toStdString() +
               ", which is not one of its items";
    return {};
}

void setUpRingSlide(QWidget* w, const Control& c) {
    auto* slide = qobject_cast<RingSlide*>(w);
    slide->setItems(w->property("ringItems").toStringList(), c.ringValues);
    const QVariant initial = w->property("value");
    const int index = slide->indexOfValue(initial.isValid() ? initial.toInt() : 0);
    slide->setCurrentIndex(std::max(index, 0));
}

void wireRingSlide(QWidget* w, const std::function<void()>& deliver) {
    QObject::connect(qobject_cast<RingSlide*>(w), &RingSlide::selectedByOperator, w, deliver);
}

int getRingSlide(const Control& c, Value* out) {
    out->number = qobject_cast<RingSlide*>(c.widget)->value();
    return UIE_NO_ERROR;
}

// --- String (one line of text) -------------------------------------------------

void wireString(QWidget* w, const std::function<void()>& deliver) {
    dynamic_cast<CommitLineEdit*>(w)->onCommit = deliver;
}

int getString(const Control& c, Value* out) {
    out->isText = true;
    out->text = qobject_cast<QLineEdit*>(c.widget)->text();
    return UIE_NO_ERROR;
}

int setString(Control& c, const QString& text) {
    const QSignalBlocker block(c.widget);
    dynamic_cast<CommitLineEdit*>(c.widget.data())->writeText(text);
    return UIE_NO_ERROR;
}

int enterString(Control& c, const QString& text) {
    auto* edit = dynamic_cast<CommitLineEdit*>(c.widget.data());
    return committed(
        [&] {
            edit->setText(text);
            edit->setModified(true);
            pressEnter(edit);
        },
        UIE_INVALID_CONTROL);
}

// --- Text box (lines of text) --------------------------------------------------

void wireTextBox(QWidget* w, const std::function<void()>& deliver) {
    dynamic_cast<CommitTextBox*>(w)->onCommit = deliver;
}

int getTextBox(const Control& c, Value* out) {
    out->isText = true;
    out->text = qobject_cast<QPlainTextEdit*>(c.widget)->toPlainText();
    return UIE_NO_ERROR;
}

int setTextBox(Control& c, const QString& text) {
    const QSignalBlocker block(c.widget);
    auto* e = qobject_cast<QPlainTextEdit*>(c.widget);
    e->setPlainText(text);
    e->document()->setModified(false);
    return UIE_NO_ERROR;
}

int enterTextBox(Control& c, const QString& text) {
    auto* box = dynamic_cast<CommitTextBox*>(c.widget.data());
    return committed(
        [&] {
            box->setPlainText(text);
            box->document()->setModified(true);
            leaveField(box);
        },
        UIE_INVALID_CONTROL);
}

// --- Text message (a label) ----------------------------------------------------

int getTextMsg(const Control& c, Value* out) {
    out->isText = true;
    out->text = qobject_cast<QLabel*>(c.widget)->text();
    return UIE_NO_ERROR;
}

int setTextMsg(Control& c, const QString& text) {
    qobject_cast<QLabel*>(c.widget)->setText(text);
    return UIE_NO_ERROR;
}

// --- LED -----------------------------------------------------------------------

std::string checkLed(const FormWidget& w, Control& c) {
    const QVariant color = w.props.value(QStringLiteral("onColor"));
    if (color.isValid() && !QColor::fromString(color.toString()).isValid())
        return "control " + c.name + " has an unreadable on colour \"" +
               color.toString().toStdString() + "\"";
    return {};
}

void setUpLed(QWidget* w, const Control&) {
    auto* led = qobject_cast<Led*>(w);
    led->setValue(w->property("value").toInt());
    const QVariant color = w->property("onColor");
    if (color.isValid()) led->setOnColor(QColor::fromString(color.toString()));
}

// An LED commits nothing; its busy blink pauses while timers are suspended.
void wireLed(QWidget* w, const std::function<void()>&) {
    qobject_cast<Led*>(w)->setBlinkGate([] { return !timerCallbacksSuspended(); });
}

int getLed(const Control& c, Value* out) {
    out->number = qobject_cast<Led*>(c.widget)->value();
    return UIE_NO_ERROR;
}

int setLed(Control& c, double value) {
    qobject_cast<Led*>(c.widget)->setValue(value != 0 ? 1 : 0);
    showNow(c.widget);
    return UIE_NO_ERROR;
}

// --- The table -----------------------------------------------------------------

constexpr DataType kInt = DataType::Int;
constexpr DataType kText = DataType::Text;

// One row per kind: kind, name in the file, widget classes with their data
// types, the classes a refusal names, captioned; then check, set-up, wiring,
// get, set a number, set text, an operator's number, an operator's text.
// clang-format off
const ControlKind kKinds[] = {
    {Kind::Numeric, "numeric", {{{"QSpinBox", kInt}, {"QDoubleSpinBox", DataType::Double}}},
     "QSpinBox or QDoubleSpinBox", true,
     checkNumeric, setUpNumeric, wireEntry, getNumeric,
     setNumeric, setTextAsNumber, enterNumeric, enterNumericText},
    {Kind::Command, "command", {{{"QPushButton", kInt}, {"QCommandLinkButton", kInt}}},
     "QPushButton", false,
     noCheck, setUpCommand, wireCommand, getCommand,
     refuseNumber, refuseText, pressCommand, refuseText},
    {Kind::Ring, "ring", {{{"QComboBox", kInt}, {"QFontComboBox", kInt}}},
     "QComboBox", true,
     checkRing, setUpRing, wireRing, getRing,
     setListed<QComboBox>, setTextAsNumber, enterListed<QComboBox>, enterRingText},
    {Kind::RingSlide, "ringslide", {{{"RingSlide", kInt}, {}}},
     "RingSlide", true,
     checkRingSlide, setUpRingSlide, wireRingSlide, getRingSlide,
     setListed<RingSlide>, setTextAsNumber, enterListed<RingSlide>, enterRingText},
    {Kind::String, "string", {{{"QLineEdit", kText}, {}}},
     "QLineEdit", true,
     noCheck, noSetUp, wireString, getString,
     setNumberAsText, setString, enterNumberAsText, enterString},
    {Kind::TextBox, "textbox", {{{"QPlainTextEdit", kText}, {}}},
     "QPlainTextEdit", true,
     noCheck, noSetUp, wireTextBox, getTextBox,
     setNumberAsText, setTextBox, enterNumberAsText, enterTextBox},
    {Kind::TextMsg, "textmsg", {{{"QLabel", kText}, {}}},
     "QLabel", false,
     noCheck, noSetUp, notWired, getTextMsg,
     setNumberAsText, setTextMsg, refuseNumber, refuseText},
    {Kind::Led, "led", {{{"Led", kInt}, {}}},
     "Led", true,
     checkLed, setUpLed, wireLed, getLed,
     setLed, setTextAsNumber, refuseNumber, refuseText},
    {Kind::Picture, "picture", {{{"QLabel", kInt}, {}}},
     "QLabel", true,
     noCheck, noSetUp, notWired, noValue,
     refuseNumber, refuseText, refuseNumber, refuseText},
    {Kind::Splitter, "splitter", {{{"QFrame", kInt}, {"QLabel", kInt}}},
     "QFrame", true,
     noCheck, noSetUp, notWired, noValue,
     refuseNumber, refuseText, refuseNumber, refuseText},
};
// clang-format on

}  // namespace

const ControlKind& controlKind(Kind kind) {
    for (const ControlKind& k : kKinds) {
        if (k.kind == kind) return k;
    }
    return kKinds[0];  // every kind has its row
}

const ControlKind* controlKindNamed(const std::string& name) {
    for (const ControlKind& k : kKinds) {
        if (name == k.name) return &k;
    }
    return nullptr;
}

bool parseNumber(const QString& text, double* out) {
    bool ok = false;
    const QString t = text.trimmed();
    double v = t.toDouble(&ok);
    if (!ok) {
        const qlonglong n = t.toLongLong(&ok, 0);  // 0x.. hexadecimal too
        v = static_cast<double>(n);
    }
    if (!ok || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

void showNow(QWidget* w) {
    if (w->isVisible())
        w->repaint();
    else
        w->update();
}

int setControlNumber(Control& c, double value) {
    if (!std::isfinite(value)) return UIE_OUT_OF_RANGE;
    const QSignalBlocker block(c.widget);
    return controlKind(c.kind).setNumber(c, value);
}

}  // namespace kovra610::runtime::detail
