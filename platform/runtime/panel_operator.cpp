// The panel operator: edits, presses and commits through the widgets, the way
// an operator does. What an entry is for each kind of control is in the
// table of control kinds.
#include "platform/runtime/panel_operator.h"

#include <QCoreApplication>

#include "control_kinds.h"
#include "runtime_internal.h"

using namespace kovra610::runtime::detail;

namespace kovra610::runtime::operate {
namespace {

// The control, or the error for a call on one that is not there.
Control* operated(int panel, int control, int* error) {
    Control* c = findControl(panel, control);
    if (!c) *error = findPanel(panel) ? UIE_INVALID_CONTROL : UIE_INVALID_PANEL;
    return c;
}

int enterNumber(int panel, int control, double value) {
    int error = 0;
    Control* c = operated(panel, control, &error);
    return c ? controlKind(c->kind).enterNumber(*c, value) : error;
}

}  // namespace

int commit(int panel, int control, double value) {
    return enterNumber(panel, control, value);
}
int commit(int panel, int control, unsigned int value) {
    return enterNumber(panel, control, static_cast<double>(value));
}
int commit(int panel, int control, int value) {
    return enterNumber(panel, control, static_cast<double>(value));
}

int commit(int panel, int control, const std::string& text) {
    int error = 0;
    Control* c = operated(panel, control, &error);
    return c ? controlKind(c->kind).enterText(*c, QString::fromStdString(text)) : error;
}

int press(int panel, int control) {
    int error = 0;
    Control* c = operated(panel, control, &error);
    if (!c) return error;
    if (c->kind != Kind::Command) return UIE_INVALID_TYPE;
    return controlKind(Kind::Command).enterNumber(*c, 0);
}

void postCommit(int panel, int control, int value) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app, [panel, control, value] { commit(panel, control, value); }, Qt::QueuedConnection);
}

}  // namespace kovra610::runtime::operate
