// The panel operator: edits, presses and commits through the widgets, the way
// an operator does.
#include "platform/runtime/panel_operator.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <cmath>

#include "commit_widgets.h"
#include "ringslide.h"
#include "runtime_internal.h"

using namespace kovra610::runtime::detail;

namespace kovra610::runtime::operate {
namespace {

// Result of the commit that an action started, or refusal when it started none.
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

int commitText(Control& c, const QString& text) {
    QWidget* w = c.widget;
    switch (c.kind) {
        case Kind::Numeric: {
            auto* entry = dynamic_cast<NumericEntry*>(w);
            return committed(
                [&] {
                    entry->typeText(text);
                    pressEnter(w);
                },
                UIE_OUT_OF_RANGE);
        }
        case Kind::String: {
            auto* edit = dynamic_cast<CommitLineEdit*>(w);
            return committed(
                [&] {
                    edit->setText(text);
                    edit->setModified(true);
                    pressEnter(w);
                },
                UIE_INVALID_CONTROL);
        }
        case Kind::TextBox: {
            auto* box = dynamic_cast<CommitTextBox*>(w);
            return committed(
                [&] {
                    box->setPlainText(text);
                    box->document()->setModified(true);
                    leaveField(w);
                },
                UIE_INVALID_CONTROL);
        }
        default:
            return UIE_INVALID_TYPE;
    }
}

int commitNumber(int panel, int control, double value) {
    Control* c = findControl(panel, control);
    if (!c) return findPanel(panel) ? UIE_INVALID_CONTROL : UIE_INVALID_PANEL;
    QWidget* w = c->widget;
    switch (c->kind) {
        case Kind::Numeric: {
            // The text an operator would type for the value.
            QString text;
            if (auto* d = qobject_cast<QDoubleSpinBox*>(w))
                text = d->locale().toString(value, 'g', 15);
            else if (value == std::floor(value) && std::fabs(value) < 1e18)
                text = QString::number(static_cast<qlonglong>(value),
                                       qobject_cast<QSpinBox*>(w)->displayIntegerBase());
            else
                text = QString::number(value, 'g', 17);
            return commitText(*c, text);
        }
        case Kind::Ring:
        case Kind::RingSlide: {
            int index = -1;
            for (std::size_t i = 0; i < c->ringValues.size(); ++i) {
                if (c->ringValues[i] == value) index = static_cast<int>(i);
            }
            if (index < 0) return UIE_OUT_OF_RANGE;
            if (auto* combo = qobject_cast<QComboBox*>(w)) {
                return committed(
                    [&] {
                        combo->setCurrentIndex(index);
                        emit combo->activated(index);
                    },
                    UIE_INVALID_CONTROL);
            }
            auto* slide = qobject_cast<RingSlide*>(w);
            return committed([&] { slide->operatorSelect(index, true); }, UIE_INVALID_CONTROL);
        }
        case Kind::Command:
            return press(panel, control);
        case Kind::String:
        case Kind::TextBox:
            return commitText(*c, QString::number(value, 'g', 15));
        default:
            return UIE_INVALID_TYPE;
    }
}

}  // namespace

int commit(int panel, int control, double value) {
    return commitNumber(panel, control, value);
}
int commit(int panel, int control, unsigned int value) {
    return commitNumber(panel, control, static_cast<double>(value));
}
int commit(int panel, int control, int value) {
    return commitNumber(panel, control, static_cast<double>(value));
}

int commit(int panel, int control, const std::string& text) {
    Control* c = findControl(panel, control);
    if (!c) return findPanel(panel) ? UIE_INVALID_CONTROL : UIE_INVALID_PANEL;
    if (c->kind == Kind::Ring || c->kind == Kind::RingSlide) {
        bool ok = false;
        const int v = QString::fromStdString(text).trimmed().toInt(&ok);
        return ok ? commitNumber(panel, control, v) : UIE_INVALID_TYPE;
    }
    return commitText(*c, QString::fromStdString(text));
}

int press(int panel, int control) {
    Control* c = findControl(panel, control);
    if (!c) return findPanel(panel) ? UIE_INVALID_CONTROL : UIE_INVALID_PANEL;
    auto* button = qobject_cast<QPushButton*>(c->widget);
    if (c->kind != Kind::Command || !button) return UIE_INVALID_TYPE;
    return committed([&] { button->click(); }, UIE_INVALID_CONTROL);
}

void postCommit(int panel, int control, int value) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app, [panel, control, value] { commit(panel, control, value); }, Qt::QueuedConnection);
}

}  // namespace kovra610::runtime::operate
