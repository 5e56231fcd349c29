// Editable controls that commit the way an operator expects: once per
// operator action, never for values written by the program.
//
// Numerics take whatever is typed and judge it when it is committed: on
// Enter, on leaving the field after an edit, and before an arrow step. Text
// that is not a number, or a number outside the range, is refused whole: the
// field beeps, shows its previous value again, commits nothing, and the
// status line says why. So a numeric never delivers a value outside its
// range. In a level (a double field) a decimal comma reads as a decimal
// point. A whole-number field takes digits only, or 0x and hexadecimal
// digits: a comma, point or group separator in it is refused, never read as
// a fraction or a thousands mark. Arrow steps commit each step that changes
// the value. Escape abandons a numeric's typed text: its value shows again
// and nothing commits. String fields and text boxes commit on Enter
// (text boxes: on leaving) and on leaving the field after an edit. Command
// buttons are pressed by Space and by Enter.
//
// A commit runs with the operator's input held (see UserInputHeld): the
// click that took the focus away, or a key typed ahead, acts after the
// commit, not inside it.
//
// Text typed and not yet committed is pending (PendingEdit). Before any
// other control's commit is delivered, the run-time settles every pending
// edit: the text is committed, or refused, as leaving the field would do.
// So a ring chosen, a button pressed (by mouse, shortcut or screen reader)
// or another field stepped never acts with a field's typed text unjudged,
// and the redraw its callback makes cannot overwrite that text. A value the
// program writes into a numeric while an edit is pending (a callback's
// redraw while the operator types) leaves the typed text in the field.
#pragma once

#include <QApplication>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <cmath>
#include <functional>
#include <string>
#include <type_traits>

#include "platform/runtime/status.h"

namespace kovra610::runtime::detail {

// While one lives, event processing inside a callback (ProcessSystemEvents)
// leaves the operator's keys and clicks queued; they are handled once the
// outermost one is gone. Holds nest.
class UserInputHeld {
public:
    UserInputHeld();
    ~UserInputHeld();
    UserInputHeld(const UserInputHeld&) = delete;
    UserInputHeld& operator=(const UserInputHeld&) = delete;
};
bool userInputHeld();

// A number as an operator types it: decimal point or decimal comma, or the
// field's own locale; finite only.
inline bool readTypedNumber(const QString& typed, const QLocale& locale, double* out) {
    const QString text = typed.trimmed();
    bool ok = false;
    double v = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok) v = locale.toDouble(text, &ok);
    if (!ok || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// What a whole-number field takes: an optional sign and decimal digits, or
// 0x and hexadecimal digits. The value is exact up to 2^53 and beyond that
// large enough to be outside any field's range.
inline bool readTypedWhole(const QString& typed, double* out) {
    QString text = typed.trimmed();
    double sign = 1;
    if (text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+'))) {
        if (text.front() == QLatin1Char('-')) sign = -1;
        text.remove(0, 1);
    }
    int base = 10;
    if (text.size() > 2 && text.at(0) == QLatin1Char('0') &&
        (text.at(1) == QLatin1Char('x') || text.at(1) == QLatin1Char('X'))) {
        base = 16;
        text.remove(0, 2);
    }
    if (text.isEmpty()) return false;
    double v = 0;
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0) return false;
        v = v * base + digit;
    }
    *out = sign * v;
    return true;
}

// A number as text without any locale's separators: a whole number in plain
// digits, any other with a decimal point and as few digits as give it back
// exactly. Every numeric field reads it as that very value.
inline QString plainNumberText(double v) {
    if (std::isfinite(v) && v == std::floor(v)) return QString::number(v, 'f', 0);
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

// A field that can hold typed text not yet committed.
class PendingEdit {
public:
    virtual ~PendingEdit() = default;
    virtual bool editPending() const = 0;
    // Commits the pending text, or refuses it, as leaving the field does;
    // nothing when no edit is pending.
    virtual void settleEdit() = 0;
};

// Shared by the numeric kinds so the test driver and accessibility can enter
// values into either.
class NumericEntry : public PendingEdit {
public:
    // Puts text into the field as if the operator had typed it.
    virtual void typeText(const QString& text) = 0;
    // Judges what is typed and commits it, as Enter does.
    virtual void enterTyped() = 0;
    // The program writes a value (already within the range): shown, unless
    // an edit is pending, whose text then stays as typed.
    virtual void writeValue(double value) = 0;
    std::function<void()> onCommit;
};

template <class Base>
class CommitSpin : public Base, public NumericEntry {
public:
    using Number = std::remove_cvref_t<decltype(std::declval<Base>().value())>;

    explicit CommitSpin(QWidget* parent) : Base(parent) {
        this->setKeyboardTracking(false);
        this->setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
        QObject::connect(this->lineEdit(), &QLineEdit::textEdited, this,
                         [this] { edited_ = true; });
    }

    void typeText(const QString& text) override {
        this->lineEdit()->setText(text);
        edited_ = true;
    }
    void enterTyped() override {
        if (!takeText()) return;
        this->selectAll();
        commit();
    }
    bool editPending() const override { return edited_; }
    void settleEdit() override {
        if (!edited_ || !takeText()) return;
        const UserInputHeld held;
        commit();
    }
    void writeValue(double value) override {
        const Number v = static_cast<Number>(value);
        if (!edited_) {
            this->setValue(v);
            return;
        }
        QLineEdit* edit = this->lineEdit();
        const QString typed = edit->text();
        const int cursor = edit->cursorPosition();
        this->setValue(v);
        edit->setText(typed);
        edit->setCursorPosition(cursor);
    }

    // Every keystroke is kept; what is typed is judged when it is committed.
    QValidator::State validate(QString& input, int& pos) const override {
        const QValidator::State state = Base::validate(input, pos);
        return state == QValidator::Invalid ? QValidator::Intermediate : state;
    }

protected:
    // Typed text is judged first: refused, it is not stepped from.
    void stepBy(int steps) override {
        const Number before = this->value();
        if (edited_ && !takeText()) return;
        Base::stepBy(steps);
        settleStep();
        edited_ = false;
        if (this->value() != before) commit();
    }
    // Brings a stepped value onto the values the field holds.
    virtual void settleStep() {}

    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->accept();
            enterTyped();
            return;
        }
        if (event->key() == Qt::Key_Escape && edited_) {
            // The typed text is abandoned: the field shows its value again
            // and nothing commits, now or when another control acts.
            event->accept();
            edited_ = false;
            const QSignalBlocker block(this);
            this->lineEdit()->setText(this->textFromValue(this->value()));
            this->selectAll();
            return;
        }
        Base::keyPressEvent(event);
    }

    void focusOutEvent(QFocusEvent* event) override {
        const bool commits = edited_ && takeText();
        Base::focusOutEvent(event);
        if (!commits) return;
        const UserInputHeld held;
        commit();
    }

private:
    enum class Fault { NotANumber, NotWhole, Outside };

    // Takes the typed text as the new value when it is a number inside the
    // range; otherwise refuses it.
    bool takeText() {
        const QString typed = this->cleanText();
        double v = 0;
        bool number = false;
        bool whole = true;
        if constexpr (std::is_integral_v<Number>) {
            // Text that reads as a number in some other way ("30,000", "2.5",
            // "1e3") is not taken for a whole number.
            whole = readTypedWhole(typed, &v);
            number = whole || readTypedNumber(typed, this->locale(), &v);
        } else {
            number = readTypedNumber(typed, this->locale(), &v);
        }
        const bool inside = v >= this->minimum() && v <= this->maximum();
        edited_ = false;
        if (!number || !whole || !inside) {
            refuse(typed, !number ? Fault::NotANumber : !whole ? Fault::NotWhole : Fault::Outside);
            return false;
        }
        const QSignalBlocker block(this);
        this->setValue(static_cast<Number>(v == 0 ? 0 : v));  // no "-0"
        this->lineEdit()->setText(this->textFromValue(this->value()));
        return true;
    }

    // A beep, the previous value shown again, and the reason on the status
    // line: "DAC1_0: 9.9 is outside -2.5 .. 7.5; kept 3.300".
    void refuse(const QString& typed, Fault fault) {
        QApplication::beep();
        const QString kept = this->textFromValue(this->value());
        {
            const QSignalBlocker block(this);
            this->lineEdit()->setText(kept);
        }
        QLocale plain = this->locale();
        plain.setNumberOptions(QLocale::OmitGroupSeparator);
        const QString range = plain.toString(static_cast<double>(this->minimum()), 'g', 15) +
                              QStringLiteral(" .. ") +
                              plain.toString(static_cast<double>(this->maximum()), 'g', 15);
        QString why;
        if (fault == Fault::NotANumber)
            why = QStringLiteral("\"%1\" is not a number (%2)").arg(typed, range);
        else if (fault == Fault::NotWhole)
            why = QStringLiteral("%1 is not a whole number in digits (%2)").arg(typed, range);
        else
            why = QStringLiteral("%1 is outside %2").arg(typed, range);
        const QString name =
            this->objectName().isEmpty() ? QStringLiteral("value") : this->objectName();
        showStatus(QStringLiteral("%1: %2; kept %3").arg(name, why, kept).toStdString());
    }

    void commit() {
        if (onCommit) onCommit();
    }

    bool edited_ = false;
};

using CommitIntSpin = CommitSpin<QSpinBox>;
// A double numeric keeps the value the operator typed or the program wrote
// to kKeptDecimals decimals, while it shows as few as its resource asks for
// (trailing zeros beyond those are not shown): a level typed as 1.23456 is
// 1.23456, not the 1.235 a three-decimal field would round it to. Whatever
// it holds, it shows whole: a text wider than the field is drawn in a
// smaller font.
class CommitDoubleSpin : public CommitSpin<QDoubleSpinBox> {
public:
    static constexpr int kKeptDecimals = 6;

    explicit CommitDoubleSpin(QWidget* parent) : CommitSpin(parent) {
        QObject::connect(lineEdit(), &QLineEdit::textChanged, this, [this] { fitText(); });
    }

    // Called once the resource's properties are applied.
    void keepPrecision() {
        shownDecimals_ = decimals();
        if (decimals() < kKeptDecimals) {
            const double v = value();
            setDecimals(kKeptDecimals);
            const QSignalBlocker block(this);
            setValue(v);
        }
    }
    int shownDecimals() const { return shownDecimals_; }

    QString textFromValue(double v) const override {
        QString text = locale().toString(v == 0 ? 0.0 : v, 'f', decimals());
        const QChar point = locale().decimalPoint().at(0);
        const int pointAt = text.indexOf(point);
        if (pointAt < 0) return text;
        int keep = text.size();
        while (keep > pointAt + 1 + shownDecimals_ && text.at(keep - 1) == QLatin1Char('0')) --keep;
        if (keep == pointAt + 1) --keep;  // no decimals asked for: no point either
        text.truncate(keep);
        return text;
    }

protected:
    // Steps of 0.1 add up to 0.9999999999999999 and the like: the value is
    // rounded to the decimals the field holds, so a level stepped to is the
    // level typed.
    void settleStep() override {
        const QSignalBlocker block(this);
        setValue(value());
        if (value() == 0) setValue(0.0);
    }

    void resizeEvent(QResizeEvent* event) override {
        CommitSpin::resizeEvent(event);
        fitText();
    }

private:
    static constexpr double kSmallestPoints = 6;

    // The edit's room for text: its width less the text margins, its own
    // margins (2 px a side) and the cursor, with a pixel or two to spare.
    void fitText() {
        QLineEdit* edit = lineEdit();
        const QMargins margins = edit->textMargins();
        const int room = edit->contentsRect().width() - margins.left() - margins.right() - 8;
        QFont f = font();
        if (f.pointSizeF() <= 0 || room <= 0) return;
        const QString text = edit->text();
        while (QFontMetrics(f).horizontalAdvance(text) > room && f.pointSizeF() > kSmallestPoints)
            f.setPointSizeF(f.pointSizeF() - 0.5);
        if (edit->font() != f) edit->setFont(f);
    }

    int shownDecimals_ = 2;
};

class CommitLineEdit : public QLineEdit, public PendingEdit {
public:
    explicit CommitLineEdit(QWidget* parent) : QLineEdit(parent) {}
    std::function<void()> onCommit;

    // The program writes the text: shown, and kept as the field's text.
    void writeText(const QString& text) {
        setText(text);
        keepTyped();
    }

    bool editPending() const override { return isModified(); }
    void settleEdit() override {
        if (!isModified()) return;
        keepTyped();
        if (!onCommit) return;
        const UserInputHeld held;
        onCommit();
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (!isModified()) kept_ = text();  // what an edit starting here leaves
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            QLineEdit::keyPressEvent(event);
            keepTyped();
            if (onCommit) onCommit();
            return;
        }
        if (event->key() == Qt::Key_Escape && isModified()) {
            // The typed text is abandoned, as in a numeric: the field shows
            // the text it held, and no later action takes what was typed.
            event->accept();
            setText(kept_);
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        const bool edited = isModified();
        keepTyped();
        QLineEdit::focusOutEvent(event);
        if (!edited || !onCommit) return;
        const UserInputHeld held;
        onCommit();
    }

private:
    void keepTyped() {
        setModified(false);
        kept_ = text();
    }

    QString kept_;
};

// Tab moves on to the next control rather than going into the text.
class CommitTextBox : public QPlainTextEdit, public PendingEdit {
public:
    explicit CommitTextBox(QWidget* parent) : QPlainTextEdit(parent) { setTabChangesFocus(true); }
    std::function<void()> onCommit;

    bool editPending() const override { return document()->isModified(); }
    void settleEdit() override {
        if (!document()->isModified()) return;
        document()->setModified(false);
        if (!onCommit) return;
        const UserInputHeld held;
        onCommit();
    }

protected:
    void focusOutEvent(QFocusEvent* event) override {
        const bool edited = document()->isModified();
        document()->setModified(false);
        QPlainTextEdit::focusOutEvent(event);
        if (!edited || !onCommit) return;
        const UserInputHeld held;
        onCommit();
    }
};

// A command button that Enter presses as Space does.
class CommitButton : public QPushButton {
public:
    explicit CommitButton(QWidget* parent) : QPushButton(parent) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (!enter || event->modifiers() & ~Qt::KeypadModifier) {
            QPushButton::keyPressEvent(event);
            return;
        }
        event->accept();
        if (!event->isAutoRepeat()) click();
    }
};

}  // namespace kovra610::runtime::detail
