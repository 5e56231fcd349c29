// Command button shortcuts: kept with the control, put on the button when
// its widget is made (or at once when it is there).
#include "platform/runtime/shortcuts.h"

#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>

#include "runtime_internal.h"

namespace kovra610::runtime {
namespace detail {

void attachShortcut(QWidget* widget, const std::string& keys) {
    auto* button = qobject_cast<QPushButton*>(widget);
    if (!button) return;
    for (QShortcut* old : button->findChildren<QShortcut*>(Qt::FindDirectChildrenOnly)) delete old;
    if (keys.empty()) return;
    const QKeySequence sequence(QString::fromStdString(keys), QKeySequence::PortableText);
    auto* shortcut = new QShortcut(sequence, button);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        button->setFocus(Qt::ShortcutFocusReason);
        button->click();
    });
    if (button->toolTip().isEmpty())
        button->setToolTip(button->text() + QStringLiteral(" (") +
                           sequence.toString(QKeySequence::NativeText) + QLatin1Char(')'));
}

}  // namespace detail

int setButtonShortcut(int panel, int control, const char* keys) {
    detail::Panel* p = detail::panelRecord(panel);
    if (!p) return UIE_INVALID_PANEL;
    auto it = p->controls.find(control);
    if (it == p->controls.end()) return UIE_INVALID_CONTROL;
    detail::Control& c = it->second;
    if (c.kind != detail::Kind::Command) return UIE_INVALID_TYPE;
    const std::string text = keys ? keys : "";
    const QKeySequence sequence(QString::fromStdString(text), QKeySequence::PortableText);
    if (!text.empty() && (sequence.count() != 1 || sequence[0].key() == Qt::Key_unknown))
        return UIE_INVALID_TYPE;
    c.shortcut = text;
    if (c.widget) detail::attachShortcut(c.widget, c.shortcut);
    return UIE_NO_ERROR;
}

}  // namespace kovra610::runtime
