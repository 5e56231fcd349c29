// Loads the real panel through the run-time, the way the program does, and
// checks what the program relies on: the control arrays, initial values,
// ring values, numeric ranges. Also saves a picture of the panel.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "control_table.h"
#include "kovra610 evaluation board uir.h"
#include "platform/runtime/panel_runtime.h"
#include "tests/runtime/test_driver.h"

namespace {

namespace drv = kovra610::runtime::testing;
using panel_resource::ExpectedControl;

struct NamedConstant {
    const char* name;
    int value;
};
#include "panel_constants.inc"
#define KOVRA610_NAMED(c) {#c, c},
constexpr NamedConstant kControlConstants[] = {KOVRA610_PANEL_CONTROL_CONSTANTS(KOVRA610_NAMED)};
#undef KOVRA610_NAMED

int constantOf(const std::string& name) {
    for (const NamedConstant& k : kControlConstants)
        if (name == k.name) return k.value;
    ADD_FAILURE() << "no constant " << name;
    return -1;
}

int noAction(int, int, int, void*, int, int) {
    return 0;
}

class PanelLoad : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static char name[] = "panel_load_tests";
        static char* argv[] = {name, nullptr};
        ASSERT_EQ(InitCVIRTE(nullptr, argv, nullptr), 1);
        drv::setScriptedPopups(true);
        std::set<std::string> callbacks;
        for (const ExpectedControl& e : panel_resource::expectedControls())
            if (!e.callback.empty()) callbacks.insert(e.callback);
        for (const std::string& cb : callbacks) RegisterCtrlCallback(cb.c_str(), noAction);
        panel_ = LoadPanel(0, "kovra610 evaluation board uir.uir", SBUS_1);
    }
    static void TearDownTestSuite() {
        if (panel_ > 0) DiscardPanel(panel_);
        panel_ = 0;
    }
    void SetUp() override { ASSERT_GT(panel_, 0) << "LoadPanel failed"; }

    static int panel_;
};
int PanelLoad::panel_ = 0;

TEST_F(PanelLoad, OnlyItsOwnResourceIdLoads) {
    EXPECT_LT(LoadPanel(0, "kovra610 evaluation board uir.uir", SBUS_1 + 1), 0);
}

TEST_F(PanelLoad, ControlArraysByResourceId) {
    for (const auto& a : panel_resource::expectedArrays()) {
        SCOPED_TRACE(a.name);
        const int array = GetCtrlArrayFromResourceID(panel_, a.resourceId);
        ASSERT_GT(array, 0);
        int count = 0;
        ASSERT_EQ(GetNumCtrlArrayItems(array, &count), 0);
        ASSERT_EQ(count, int(a.members.size()));
        for (int i = 0; i < count; ++i) {
            const int control = GetCtrlArrayItem(array, i);
            EXPECT_EQ(control, constantOf(a.members[size_t(i)])) << "item " << i;
            int index = -1;
            EXPECT_EQ(GetCtrlArrayIndex(array, panel_, control, &index), 0);
            EXPECT_EQ(index, i);
        }
    }
    EXPECT_LT(GetCtrlArrayFromResourceID(panel_, 8), 0);
}

TEST_F(PanelLoad, InitialValues) {
    const std::map<int, unsigned> numerics{{CLKFREQ, 15}, {ADDR, 127}, {REG, 1},   {CH, 1},
                                           {ADDR2, 1},    {RW2, 0},    {CH2, 1},   {DATA_1, 0},
                                           {DATA_2, 0},   {DAT2, 0},   {DATA1, 0}, {DATA2, 0}};
    for (const auto& [control, expected] : numerics) {
        unsigned value = 99999;
        EXPECT_EQ(GetCtrlVal(panel_, control, &value), 0) << control;
        EXPECT_EQ(value, expected) << control;
    }
    std::string text;
    EXPECT_EQ(GetCtrlVal(panel_, DAC1TEXTBOX, &text), 0);
    EXPECT_EQ(text, "None Loaded");
    double volts = 1.0;
    EXPECT_EQ(GetCtrlVal(panel_, DAC1_0, &volts), 0);
    EXPECT_EQ(volts, 0.0);
    for (int control : {LED, LED_2, PMURANGES, PMUINPUT, MODECHSEL, LOAD, DRVFORCE}) {
        int value = -1;
        EXPECT_EQ(GetCtrlVal(panel_, control, &value), 0) << control;
        EXPECT_EQ(value, 0) << control;
    }
}

// Every ring and ring slide takes each of its listed values, and only those.
TEST_F(PanelLoad, RingsDeliverTheirListedValues) {
    for (const ExpectedControl& e : panel_resource::expectedControls()) {
        if (e.kind != "ring" && e.kind != "ringslide") continue;
        SCOPED_TRACE(e.name);
        for (const auto& item : e.items) {
            EXPECT_GE(drv::commit(panel_, e.id, item.value), 0);
            int value = -1;
            EXPECT_EQ(GetCtrlVal(panel_, e.id, &value), 0);
            EXPECT_EQ(value, item.value);
        }
        ASSERT_EQ(SetCtrlVal(panel_, e.id, 0), 0);
    }
}

TEST_F(PanelLoad, NumericsStayInTheirRanges) {
    drv::commit(panel_, DAC1_7, 9.0);
    double volts = 0;
    GetCtrlVal(panel_, DAC1_7, &volts);
    EXPECT_LE(volts, 7.5);
    drv::commit(panel_, DAC1_7, -3.0);
    GetCtrlVal(panel_, DAC1_7, &volts);
    EXPECT_GE(volts, -2.5);
    unsigned divider = 0;
    drv::commit(panel_, CLKFREQ, 60u);
    GetCtrlVal(panel_, CLKFREQ, &divider);
    EXPECT_LE(divider, 59u);
    SetCtrlVal(panel_, DAC1_7, 0.0);
    SetCtrlVal(panel_, CLKFREQ, 15u);
}

TEST_F(PanelLoad, Picture) {
    const char* env = std::getenv("KOVRA610_PANEL_SCREENSHOT");
    const std::string path = env && *env ? env : KOVRA610_PANEL_SCREENSHOT;
    DisplayPanel(panel_);
    ProcessSystemEvents();
    ASSERT_TRUE(drv::savePng(panel_, path)) << path;
    const QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width() / image.devicePixelRatio(), 1271);
    EXPECT_EQ(image.height() / image.devicePixelRatio(), 932);
    // Bottom-left corner, below the DAC rows: panel background.
    EXPECT_EQ(image.pixelColor(4, image.height() - 4).name(), "#c0c0c0");
}

}  // namespace
