// Loading panels: controls, captions, accessible texts, control arrays, and
// every way a panel file can be wrong.
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "runtime_fixture.h"

namespace {

QByteArray testPanelText() {
    QFile f(KOVRA610_RUNTIME_TEST_PANEL);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

std::string writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& data) {
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    return path.toStdString();
}

struct Failed {
    int result;
    std::string err;
};

Failed loadCapturing(const std::string& path, int id) {
    ::testing::internal::CaptureStderr();
    const int result = LoadPanel(0, path.c_str(), id);
    std::string err = ::testing::internal::GetCapturedStderr();
    if (result > 0) DiscardPanel(result);
    return {result, err};
}

void expectOneLine(const Failed& f, const std::string& path, const std::string& problem) {
    EXPECT_LT(f.result, 0);
    EXPECT_EQ(std::count(f.err.begin(), f.err.end(), '\n'), 1) << f.err;
    EXPECT_NE(f.err.find(path), std::string::npos) << f.err;
    EXPECT_NE(f.err.find(problem), std::string::npos) << f.err;
}

}  // namespace

TEST_F(RuntimeTest, LoadsControlsWithTheirInitialValues) {
    unsigned clk = 0;
    EXPECT_EQ(GetCtrlVal(panel, CLK, &clk), UIE_NO_ERROR);
    EXPECT_EQ(clk, 15u);
    EXPECT_EQ(rt::shownText(panel, VOLTS), "1.000");
    EXPECT_EQ(rt::shownText(panel, RANGES), "4");
    EXPECT_EQ(rt::shownText(panel, FORCE), "0");
    EXPECT_EQ(rt::shownText(panel, BOX), "None Loaded");
    EXPECT_EQ(rt::shownText(panel, GO), "Go");
    EXPECT_EQ(rt::shownText(panel, LED), "0");
    int v = 0;
    EXPECT_EQ(GetCtrlVal(panel, 99, &v), UIE_INVALID_CONTROL);
    EXPECT_EQ(GetCtrlVal(12345, CLK, &v), UIE_INVALID_PANEL);
}

TEST_F(RuntimeTest, CaptionsDrawnAboveControlsAndAccessibleTexts) {
    QWidget* volts = widget(VOLTS);
    ASSERT_NE(volts, nullptr);
    QLabel* caption = nullptr;
    for (auto* label : volts->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (label->buddy() == volts) caption = label;
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->text(), "Volts");
    EXPECT_EQ(caption->geometry().bottom() + 1, volts->geometry().top() - 2);
    EXPECT_EQ(caption->x(), volts->x());
    EXPECT_EQ(caption->height(), 16);

    EXPECT_EQ(volts->accessibleName(), "Volts");
    EXPECT_EQ(volts->accessibleDescription(), "VOLTS");
    EXPECT_EQ(widget(NAME)->accessibleName(), "NAME");  // no caption
    EXPECT_EQ(widget(GO)->accessibleName(), "Go");
    EXPECT_EQ(widget(CLC)->accessibleName(), "Drv CLC ");  // exactly as written

    // A numeric tells its value; a ring slide lists its items.
    QAccessibleInterface* code = QAccessible::queryAccessibleInterface(widget(CODE));
    ASSERT_NE(code, nullptr);
    ASSERT_NE(code->valueInterface(), nullptr);
    EXPECT_EQ(code->valueInterface()->currentValue().toInt(), 16384);
    QAccessibleInterface* slide = QAccessible::queryAccessibleInterface(widget(FORCE));
    ASSERT_NE(slide, nullptr);
    EXPECT_EQ(slide->role(), QAccessible::List);
    ASSERT_EQ(slide->childCount(), 5);
    EXPECT_EQ(slide->child(2)->text(QAccessible::Name), "Vh");
    EXPECT_EQ(slide->child(2)->text(QAccessible::Value), "3");
    EXPECT_TRUE(slide->child(0)->state().selected);
    EXPECT_EQ(slide->indexOfChild(slide->child(4)), 4);
    // Pressing an item through accessibility selects and commits it.
    slide->child(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(deliveredValues(FORCE), std::vector<double>{5});
    EXPECT_EQ(slide->text(QAccessible::Value), "HiZ");
}

// The widgets are made from the file's text without the run-time's own
// properties (which LoadPanel has read): cut out where the reader found
// them, also when text beyond ASCII (one and two UTF-16 units a character)
// comes before them, and nothing else of the text with them.
TEST_F(RuntimeTest, TextBeyondAsciiBeforeTheRunTimesPropertiesLeavesThePanelWhole) {
    QByteArray text = testPanelText();
    text.replace("<string>Run-time test panel</string>",
                 "<string>Pr\xC3\xBC"
                 "fpanel \xF0\x9D\x84\x9E test</string>");
    text.replace("<string>Volts</string>", "<string>Spannung \xC2\xB5V</string>");
    text.replace("<widget class=\"QSpinBox\" name=\"CODE\">",
                 "<!-- \xE2\x80\x93 <property name=\"ctrlId\" stdset=\"0\"> -->\n"
                 "  <widget class=\"QSpinBox\" name=\"CODE\">");
    QTemporaryDir dir;
    const std::string path = writeFile(dir, "beyond_ascii.uir", text);
    const int other = LoadPanel(0, path.c_str(), kTestPanelId);
    ASSERT_GT(other, 0);
    const auto control = [other](int id) {
        auto* c = kovra610::runtime::detail::findControl(other, id);
        return c ? c->widget.data() : nullptr;
    };
    ASSERT_NE(control(VOLTS), nullptr);
    EXPECT_EQ(kovra610::runtime::detail::findPanel(other)->widget->windowTitle(),
              QString::fromUtf8("Pr\xC3\xBC"
                                "fpanel \xF0\x9D\x84\x9E test"));
    EXPECT_EQ(control(VOLTS)->accessibleName(), QString::fromUtf8("Spannung \xC2\xB5V"));
    EXPECT_EQ(rt::shownText(other, VOLTS), "1.000");
    EXPECT_EQ(rt::shownText(other, CODE), "16384");
    EXPECT_EQ(rt::shownText(other, CLK), "15");
    EXPECT_EQ(rt::shownText(other, GO), "Go");
    EXPECT_EQ(control(CLC)->accessibleName(), "Drv CLC ");
    for (int id : {VOLTS, CODE, CLK, GO, FORCE, LED}) {
        ASSERT_NE(control(id), nullptr) << id;
        EXPECT_FALSE(control(id)->property("ctrlId").isValid()) << id;
        EXPECT_FALSE(control(id)->property("callback").isValid()) << id;
    }
    DiscardPanel(other);
}

TEST_F(RuntimeTest, RelativeNameIsFoundBesideTheProgramNotInTheWorkingDirectory) {
    QTemporaryDir elsewhere;
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    const int second = LoadPanel(0, "runtime_test_panel.uir", kTestPanelId);
    QDir::setCurrent(old);
    EXPECT_GT(second, 0);
    EXPECT_NE(second, panel);
    DiscardPanel(second);
}

TEST_F(RuntimeTest, BadPanelFilesFailWithOneClearLine) {
    QTemporaryDir dir;
    const QByteArray good = testPanelText();

    const std::string missing = dir.filePath("absent.uir").toStdString();
    Failed f = loadCapturing(missing, kTestPanelId);
    expectOneLine(f, missing, "file not found");
    EXPECT_EQ(f.result, UIE_FILE_ERROR);

    const std::string garbage = writeFile(dir, "garbage.uir", QByteArray("\x01\x02 not a panel"));
    expectOneLine(loadCapturing(garbage, kTestPanelId), garbage, "not a readable panel resource");

    const std::string cut = writeFile(dir, "cut.uir", good.left(good.size() / 2));
    expectOneLine(loadCapturing(cut, kTestPanelId), cut, "not a readable panel resource");

    const std::string path = writeFile(dir, "good.uir", good);
    f = loadCapturing(path, 9);
    expectOneLine(f, path, "no panel with resource ID 9");
    EXPECT_EQ(f.result, UIE_INVALID_PANEL);

    QByteArray unknown = good;
    unknown.replace("<string>on_commit</string>", "<string>no_such_callback</string>");
    const std::string unknownPath = writeFile(dir, "unknown.uir", unknown);
    f = loadCapturing(unknownPath, kTestPanelId);
    expectOneLine(f, unknownPath, "\"no_such_callback\", which is not registered");
    EXPECT_EQ(f.result, UIE_CALLBACK_NOT_FOUND);

    // The test panel with one piece of text replaced is refused with `problem`.
    auto expectRefused = [&](const char* name, const char* from, const char* to,
                             const std::string& problem) {
        QByteArray changed = good;
        changed.replace(from, to);
        ASSERT_NE(changed, good) << name;
        const std::string changedPath = writeFile(dir, name, changed);
        expectOneLine(loadCapturing(changedPath, kTestPanelId), changedPath, problem);
    };
    expectRefused("version.uir", "<ui version=\"4.0\">", "<ui>",
                  "not a readable panel resource (a form of version \"\"");
    expectRefused("twice.uir", "<number>13</number>", "<number>2</number>",
                  "control ID 2 is used by");
    expectRefused("unlisted.uir", "<string>7,6,5,4,0</string>", "<string>7,6,5,3,0</string>",
                  "starts at value 4, which is not one of its items");
    expectRefused("gap.uir", "\"ctrlArrayIndex\" stdset=\"0\"><number>2<",
                  "\"ctrlArrayIndex\" stdset=\"0\"><number>5<",
                  "control array NUMS has no item at index 2");
    expectRefused("notapanel.uir", "<widget class=\"QWidget\" name=\"TESTPANEL\">",
                  "<widget class=\"NoSuchWidget\" name=\"TESTPANEL\">",
                  "the panel is a NoSuchWidget");
    expectRefused("wrongclass.uir", "<widget class=\"QSpinBox\" name=\"CLK\">",
                  "<widget class=\"QLineEdit\" name=\"CLK\">",
                  "control CLK is a QLineEdit, its kind needs a QSpinBox or QDoubleSpinBox");

    // The good file still loads afterwards.
    f = loadCapturing(path, kTestPanelId);
    EXPECT_GT(f.result, 0);
}

TEST_F(RuntimeTest, UnregisteredCallbackIsAnErrorNotASilentNoOp) {
    RegisterCtrlCallback("on_commit", nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(LoadPanel(0, KOVRA610_RUNTIME_TEST_PANEL, kTestPanelId), UIE_CALLBACK_NOT_FOUND);
    ::testing::internal::GetCapturedStderr();
}

TEST_F(RuntimeTest, ControlArraysKeepItemOrder) {
    const int nums = GetCtrlArrayFromResourceID(panel, 1);
    const int rings = GetCtrlArrayFromResourceID(panel, 2);
    ASSERT_GT(nums, 0);
    ASSERT_GT(rings, 0);
    EXPECT_NE(nums, rings);
    EXPECT_EQ(GetCtrlArrayFromResourceID(panel, 1), nums);
    EXPECT_EQ(GetCtrlArrayFromResourceID(panel, 3), UIE_INVALID_ARRAY);

    int n = 0;
    ASSERT_EQ(GetNumCtrlArrayItems(nums, &n), UIE_NO_ERROR);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(GetCtrlArrayItem(nums, 0), CODE);
    EXPECT_EQ(GetCtrlArrayItem(nums, 1), VOLTS);
    EXPECT_EQ(GetCtrlArrayItem(nums, 2), NAME);
    EXPECT_EQ(GetCtrlArrayItem(nums, 3), UIE_INVALID_INDEX);
    EXPECT_EQ(GetCtrlArrayItem(nums, -1), UIE_INVALID_INDEX);
    EXPECT_EQ(GetCtrlArrayItem(rings, 0), FORCE);
    EXPECT_EQ(GetCtrlArrayItem(rings, 1), CLC);
    EXPECT_EQ(GetCtrlArrayItem(rings, 2), RANGES);

    int index = 99;
    EXPECT_EQ(GetCtrlArrayIndex(rings, panel, RANGES, &index), UIE_NO_ERROR);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(GetCtrlArrayIndex(rings, panel, CODE, &index), UIE_INVALID_CONTROL);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(GetCtrlArrayIndex(rings, panel, CLC, nullptr), UIE_INVALID_INDEX);

    // Arrays of a second panel are its own; a discarded panel's arrays are gone.
    const int other = LoadPanel(0, KOVRA610_RUNTIME_TEST_PANEL, kTestPanelId);
    ASSERT_GT(other, 0);
    const int otherNums = GetCtrlArrayFromResourceID(other, 1);
    EXPECT_NE(otherNums, nums);
    EXPECT_EQ(GetCtrlArrayIndex(otherNums, panel, CODE, &index), UIE_INVALID_PANEL);
    EXPECT_EQ(DiscardPanel(other), UIE_NO_ERROR);
    EXPECT_EQ(GetNumCtrlArrayItems(otherNums, &n), UIE_INVALID_ARRAY);
    EXPECT_EQ(GetCtrlArrayItem(otherNums, 0), UIE_INVALID_ARRAY);
    EXPECT_EQ(DiscardPanel(other), UIE_INVALID_PANEL);
    EXPECT_EQ(SetCtrlVal(other, CODE, 1u), UIE_INVALID_PANEL);
}

// A displayed panel is on screen when DisplayPanel returns, and no timer
// ran meanwhile; a wait blocks as long as asked and runs no timer (the
// run-time's timer work included); a wait with nothing to show runs no event
// at all.
TEST_F(RuntimeTest, ADisplayedPanelIsOnScreenWhenDisplayPanelReturns) {
    QWidget* w = kovra610::runtime::detail::findPanel(panel)->widget;
    ASSERT_FALSE(w->isVisible());
    bool timerRan = false;
    QTimer::singleShot(1, [&] { timerRan = true; });
    ASSERT_EQ(DisplayPanel(panel), UIE_NO_ERROR);
    EXPECT_TRUE(w->isVisible());
    ASSERT_NE(w->windowHandle(), nullptr);
    EXPECT_TRUE(w->windowHandle()->isExposed());
    EXPECT_FALSE(timerRan);

    QElapsedTimer waited;
    waited.start();
    Delay(0.05);
    EXPECT_GE(waited.elapsed(), 49);
    EXPECT_FALSE(timerRan);

    bool posted = false;
    QMetaObject::invokeMethod(
        w, [&] { posted = true; }, Qt::QueuedConnection);
    Delay(0.001);
    EXPECT_FALSE(posted);
    QCoreApplication::processEvents();
    EXPECT_TRUE(posted);
    EXPECT_TRUE(timerRan);
}

// LoadPanel checks the file and builds the control table; the widgets are
// made when the panel is displayed, in the first wait after it or at first
// use.
TEST_F(RuntimeTest, APanelsWidgetsAreMadeWhenDisplayedOrInTheFirstWaitAfterLoading) {
    const qsizetype before = QApplication::allWidgets().size();
    const int again = LoadPanel(0, KOVRA610_RUNTIME_TEST_PANEL, kTestPanelId);
    ASSERT_GT(again, 0);
    EXPECT_EQ(QApplication::allWidgets().size(), before);

    // Its control arrays answer from the control table.
    const int nums = GetCtrlArrayFromResourceID(again, 1);
    int count = 0;
    EXPECT_EQ(GetNumCtrlArrayItems(nums, &count), UIE_NO_ERROR);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(GetCtrlArrayItem(nums, 0), CODE);
    EXPECT_EQ(GetCtrlArrayItem(nums, 2), NAME);
    EXPECT_EQ(DisplayPanel(again), UIE_NO_ERROR);
    EXPECT_GT(QApplication::allWidgets().size(), before + 10);
    const auto* made = kovra610::runtime::detail::findPanel(again);
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->widget->isVisible());
    ASSERT_NE(made->widget->windowHandle(), nullptr);
    EXPECT_TRUE(made->widget->windowHandle()->isExposed());
    unsigned clk = 0;
    EXPECT_EQ(GetCtrlVal(again, CLK, &clk), UIE_NO_ERROR);
    EXPECT_EQ(clk, 15u);
    EXPECT_EQ(DiscardPanel(again), UIE_NO_ERROR);

    // Not displayed, a panel's widgets are made in the first wait.
    const int hidden = LoadPanel(0, KOVRA610_RUNTIME_TEST_PANEL, kTestPanelId);
    ASSERT_GT(hidden, 0);
    const qsizetype unmade = QApplication::allWidgets().size();
    Delay(0.001);
    EXPECT_GT(QApplication::allWidgets().size(), unmade + 10);
    EXPECT_FALSE(kovra610::runtime::detail::findPanel(hidden)->widget->isVisible());
    EXPECT_EQ(DiscardPanel(hidden), UIE_NO_ERROR);

    // First use makes them too, and a panel discarded unmade never is.
    const int used = LoadPanel(0, KOVRA610_RUNTIME_TEST_PANEL, kTestPanelId);
    ASSERT_GT(used, 0);
    EXPECT_EQ(rt::shownText(used, VOLTS), "1.000");
    EXPECT_EQ(DiscardPanel(used), UIE_NO_ERROR);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const qsizetype settled = QApplication::allWidgets().size();
    const int unused = LoadPanel(0, KOVRA610_RUNTIME_TEST_PANEL, kTestPanelId);
    ASSERT_GT(unused, 0);
    EXPECT_EQ(DiscardPanel(unused), UIE_NO_ERROR);
    Delay(0.001);
    EXPECT_EQ(QApplication::allWidgets().size(), settled);
}

// Reading a panel makes its own widgets: no Qt Designer widget plugin (some
// pull in a whole QML engine) is loaded on the way, and the library paths
// that later dialogs use come back unchanged.
TEST_F(RuntimeTest, ReadingAPanelLoadsNoDesignerPlugin) {
    const QStringList before = QCoreApplication::libraryPaths();
    bool pluginsPresent = false;
    for (const QString& dir : before)
        pluginsPresent |= !QDir(dir + QStringLiteral("/designer")).entryList(QDir::Files).isEmpty();
    if (!pluginsPresent) GTEST_SKIP() << "no Qt Designer plugins installed here";

    const int again = LoadPanel(0, KOVRA610_RUNTIME_TEST_PANEL, kTestPanelId);
    ASSERT_GT(again, 0);
    ASSERT_NE(kovra610::runtime::detail::findPanel(again), nullptr);  // its widgets made
    DiscardPanel(again);
    EXPECT_EQ(QCoreApplication::libraryPaths(), before);
    QFile maps(QStringLiteral("/proc/self/maps"));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    EXPECT_FALSE(maps.readAll().contains("/designer/")) << "a Qt Designer plugin was loaded";
}
