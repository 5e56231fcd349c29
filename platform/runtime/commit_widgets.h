// Editable controls that commit the way an operator expects: once per
// operator action, never for values written by the program.
//
// Numerics commit on Enter, on leaving the field after an edit, and on each
// arrow step that changes the value. Typed text outside the range (or not a
// number) is refused: the field beeps, shows its previous value again, and
// nothing is committed. So a numeric never delivers a value outside its range.
// String fields and text boxes commit on Enter (text boxes: on leaving) and on
// leaving the field after an edit.
#pragma once

#include <QApplication>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <cmath>
#include <functional>
#include <type_traits>

namespace kovra610::runtime::detail {

// Shared by the numeric kinds so the test driver can type into either.
class NumericEntry {
public:
    virtual ~NumericEntry() = default;
    // Puts text into the field as if the operator had typed it.
    virtual void typeText(const QString& text) = 0;
    // Forgets an uncommitted edit (the program wrote a value).
    virtual void clearEdit() = 0;
    std::function<void()> onCommit;
};

template <class Base>
class CommitSpin : public Base, public NumericEntry {
public:
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
    void clearEdit() override { edited_ = false; }

protected:
    void stepBy(int steps) override {
        const auto before = this->value();
        Base::stepBy(steps);
        edited_ = false;
        if (this->value() != before) commit();
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->accept();
            if (!takeText()) return;
            this->selectAll();
            commit();
            return;
        }
        Base::keyPressEvent(event);
    }

    void focusOutEvent(QFocusEvent* event) override {
        const bool commits = edited_ && takeText();
        Base::focusOutEvent(event);
        if (commits) commit();
    }

private:
    // Takes the typed text as the new value when it is a number inside the
    // range; otherwise refuses it: a beep, and the previous value shown again.
    bool takeText() {
        const QString text = this->cleanText();
        bool ok = false;
        double v = 0;
        if constexpr (std::is_same_v<Base, QDoubleSpinBox>) {
            v = this->locale().toDouble(text, &ok);
            if (!ok) v = text.toDouble(&ok);
        } else {
            v = static_cast<double>(text.toLongLong(&ok, this->displayIntegerBase()));
        }
        const QSignalBlocker block(this);
        edited_ = false;
        if (ok && std::isfinite(v) && v >= this->minimum() && v <= this->maximum()) {
            this->setValue(static_cast<decltype(this->value())>(v));
            this->lineEdit()->setText(this->textFromValue(this->value()));
            return true;
        }
        QApplication::beep();
        this->lineEdit()->setText(this->textFromValue(this->value()));
        return false;
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
// 1.23456, not the 1.235 a three-decimal field would round it to.
class CommitDoubleSpin : public CommitSpin<QDoubleSpinBox> {
public:
    static constexpr int kKeptDecimals = 6;
    using CommitSpin<QDoubleSpinBox>::CommitSpin;

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
        QString text = locale().toString(v, 'f', decimals());
        const QChar point = locale().decimalPoint().at(0);
        const int pointAt = text.indexOf(point);
        if (pointAt < 0) return text;
        int keep = text.size();
        while (keep > pointAt + 1 + shownDecimals_ && text.at(keep - 1) == QLatin1Char('0')) --keep;
        if (keep == pointAt + 1) --keep;  // no decimals asked for: no point either
        text.truncate(keep);
        return text;
    }

private:
    int shownDecimals_ = 2;
};

class CommitLineEdit : public QLineEdit {
public:
    explicit CommitLineEdit(QWidget* parent) : QLineEdit(parent) {}
    std::function<void()> onCommit;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            QLineEdit::keyPressEvent(event);
            setModified(false);
            if (onCommit) onCommit();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        const bool edited = isModified();
        setModified(false);
        QLineEdit::focusOutEvent(event);
        if (edited && onCommit) onCommit();
    }
};

class CommitTextBox : public QPlainTextEdit {
public:
    explicit CommitTextBox(QWidget* parent) : QPlainTextEdit(parent) {}
    std::function<void()> onCommit;

protected:
    void focusOutEvent(QFocusEvent* event) override {
        const bool edited = document()->isModified();
        document()->setModified(false);
        QPlainTextEdit::focusOutEvent(event);
        if (edited && onCommit) onCommit();
    }
};

}  // namespace kovra610::runtime::detail
