// Shared by the run-time suites: a recording callback and a fixture that
// loads the test panel.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <functional>
#include <string>
#include <vector>

#include "platform/runtime/panel_runtime.h"
#include "tests/runtime/test_driver.h"
#include "runtime_internal.h"

namespace rt = kovra610::runtime::testing;

// Control IDs of panels/test_panel.uir.
enum {
    VOLTS = 2,    // numeric double, -2.5 .. 7.5, 3 decimals, callback
    CODE = 3,     // numeric unsigned, 0 .. 65535, starts at 16384, callback
    CLK = 4,      // numeric unsigned, 0 .. 59, starts at 15, no callback
    FORCE = 5,    // ring slide 0,1,3,5,7, callback
    RANGES = 6,   // ring slide 7,6,5,4,0, starts at 4, callback
    CLC = 7,      // ring 0,1,2, callback
    NAME = 8,     // string, callback
    BOX = 9,      // text box "None Loaded"
    MSG = 10,     // text message "Hello"
    GO = 11,      // command "Go", callback
    LED = 12,     // LED
    SIGNED = 13,  // numeric int, -10 .. 10
    SPLIT = 14,   // splitter
};
constexpr int kTestPanelId = 5;

struct Delivered {
    int panel;
    int control;
    int event;
    double value;  // the control's value as the callback saw it
};

inline std::vector<Delivered>& delivered() {
    static std::vector<Delivered> list;
    return list;
}
// Extra work a test wants done inside the callback.
inline std::function<void(int control)>& inCallback() {
    static std::function<void(int)> hook;
    return hook;
}

// Returns control * 10, so results can be told apart.
inline int recordCommit(int panel, int control, int event, void* data, int d1, int d2) {
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(d1, 0);
    EXPECT_EQ(d2, 0);
    double v = 0;
    GetCtrlVal(panel, control, &v);
    delivered().push_back({panel, control, event, v});
    if (inCallback()) inCallback()(control);
    return control * 10;
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterCtrlCallback("on_commit", recordCommit);
        delivered().clear();
        inCallback() = nullptr;
        rt::setScriptedPopups(true);
        panel = LoadPanel(0, KOVRA610_RUNTIME_TEST_PANEL, kTestPanelId);
        ASSERT_GT(panel, 0);
    }
    void TearDown() override {
        inCallback() = nullptr;
        DiscardPanel(panel);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QWidget* widget(int control) {
        auto* c = kovra610::runtime::detail::findControl(panel, control);
        return c ? c->widget.data() : nullptr;
    }
    std::vector<double> deliveredValues(int control) {
        std::vector<double> out;
        for (const auto& d : delivered())
            if (d.control == control) out.push_back(d.value);
        return out;
    }
    int panel = 0;
};
