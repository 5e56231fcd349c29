// The tests' side of the panel driver: scripted popups and looks at what the
// panel shows.
#include "tests/runtime/test_driver.h"

#include <QPixmap>
#include <QPushButton>
#include <deque>

#include "platform/runtime/panel_runtime.h"
#include "platform/runtime/runtime_internal.h"

using namespace kovra610::runtime::detail;

namespace kovra610::runtime::testing {
namespace {

class ScriptedPopups : public PopupAnswers {
public:
    std::string chooseFile(const FilePopupRequest& request) override {
        calls.push_back(request);
        if (answers.empty()) return {};
        std::string answer = std::move(answers.front());
        answers.pop_front();
        return answer;
    }
    void acknowledge(const std::string& title, const std::string& message) override {
        shown.push_back({title, message});
    }

    std::deque<std::string> answers;
    std::vector<ShownPopup> shown;
    std::vector<FilePopupCall> calls;
};

ScriptedPopups& script() {
    static ScriptedPopups popups;
    return popups;
}

}  // namespace

void setScriptedPopups(bool on) {
    installPopupAnswers(on ? &script() : nullptr);
}

void answerNextFilePopup(const std::string& pathOrEmptyToCancel) {
    script().answers.push_back(pathOrEmptyToCancel);
}

std::vector<ShownPopup> shownMessagePopups() {
    return script().shown;
}
void clearShownMessagePopups() {
    script().shown.clear();
}
std::vector<FilePopupCall> filePopupCalls() {
    return script().calls;
}

std::string shownText(int panel, int control) {
    const Control* c = findControl(panel, control);
    if (!c) return {};
    if (c->kind == Kind::Command)
        return qobject_cast<QPushButton*>(c->widget)->text().toStdString();
    std::string text;
    return GetCtrlVal(panel, control, &text) < 0 ? std::string() : text;
}

int ledBusy(int panel, int control) {
    const Control* c = findControl(panel, control);
    return c && c->kind == Kind::Led ? c->busy : 0;
}

bool savePng(int panel, const std::string& path) {
    Panel* p = findPanel(panel);
    if (!p || path.empty()) return false;
    return p->widget->grab().save(QString::fromStdString(path), "PNG");
}

}  // namespace kovra610::runtime::testing
