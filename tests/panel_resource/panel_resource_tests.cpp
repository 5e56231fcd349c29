// Checks the panel resource against the control table, the constants header
// against the resource, and the layout for overlaps and legible widths.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <map>
#include <set>

#include "control_table.h"
#include "kovra610 evaluation board uir.h"
#include "platform/runtime/panel_file.h"

using kovra610::runtime::Form;
using kovra610::runtime::FormWidget;
using panel_resource::ExpectedControl;

namespace {

constexpr int kCaptionBand = 18;
constexpr int kCaptionMargin = 4;  // the caption label is a little wider than its text

const QString kUirPath = QStringLiteral(KOVRA610_PANEL_UIR);

// The panel file, read by the run-time's own reader.
const Form& resource() {
    static const Form form = [] {
        Form f;
        QFile file(kUirPath);
        QString error = QStringLiteral("cannot open the file");
        if (!file.open(QIODevice::ReadOnly) ||
            !kovra610::runtime::readForm(file.readAll(), &f, &error))
            ADD_FAILURE() << error.toStdString();
        return f;
    }();
    return form;
}

const FormWidget* findControl(const std::string& name) {
    for (const FormWidget& c : resource().children)
        if (c.name.toStdString() == name) return &c;
    return nullptr;
}

QRect geometry(const FormWidget& c) {
    return c.props.value("geometry").toRect();
}

std::string str(const QVariant& v) {
    return v.toString().toStdString();
}

QString expectedClass(const ExpectedControl& e) {
    static const std::map<std::string, QString> byKind{{"command", "QPushButton"},
                                                       {"ring", "QComboBox"},
                                                       {"ringslide", "RingSlide"},
                                                       {"string", "QLineEdit"},
                                                       {"textbox", "QPlainTextEdit"},
                                                       {"textmsg", "QLabel"},
                                                       {"led", "Led"},
                                                       {"picture", "QLabel"},
                                                       {"splitter", "QFrame"}};
    if (e.kind == "numeric") return e.dataType == "double" ? "QDoubleSpinBox" : "QSpinBox";
    return byKind.at(e.kind);
}

TEST(PanelResource, PanelItself) {
    const FormWidget& p = resource().panel;
    EXPECT_EQ(p.className, "QWidget");
    EXPECT_EQ(p.name, "SBUS_1");
    EXPECT_EQ(p.props.value("panelResourceId").toInt(), 2);
    EXPECT_EQ(str(p.props.value("windowTitle")), "KOVRA610");
    EXPECT_EQ(geometry(p), QRect(9, 21, 1271, 932));
    // The grey background (checked on the rendered panel) is the panel's
    // palette: no style sheet, which would put every control through Qt's
    // slow style-sheet engine at start-up.
    EXPECT_FALSE(p.props.contains("styleSheet"));
    EXPECT_TRUE(p.props.value("autoFillBackground").toBool());
    EXPECT_TRUE(p.props.contains("palette"));
    EXPECT_EQ(str(p.props.value("ctrlArrays")),
              "1:ALARMREG;2:CMPREG;3:DRVREG;4:HEXARR;5:LABARR;6:PMUREG;7:VOLTARR");
    EXPECT_EQ(resource().customWidgetBase.value("RingSlide"), "QWidget");
    EXPECT_EQ(resource().customWidgetBase.value("Led"), "QWidget");
}

TEST(PanelResource, IdsRunFromTwoInListOrderWithoutGaps) {
    const auto& controls = resource().children;
    ASSERT_EQ(controls.size(), 171u);
    std::set<QString> names;
    for (size_t i = 0; i < controls.size(); ++i) {
        EXPECT_EQ(controls[i].props.value("ctrlId").toInt(), int(i) + 2)
            << controls[i].name.toStdString();
        EXPECT_TRUE(names.insert(controls[i].name).second)
            << "duplicate " << controls[i].name.toStdString();
        EXPECT_EQ(controls[i].nestedWidgets, 0) << controls[i].name.toStdString();
    }
}

TEST(PanelResource, KindCounts) {
    std::map<std::string, int> counts;
    for (const FormWidget& c : resource().children) ++counts[str(c.props.value("ctrlKind"))];
    const std::map<std::string, int> expected{
        {"numeric", 76}, {"command", 12}, {"ring", 7}, {"ringslide", 18}, {"string", 32},
        {"textbox", 1},  {"textmsg", 15}, {"led", 2},  {"picture", 1},    {"splitter", 7}};
    EXPECT_EQ(counts, expected);
}

// What every control says about itself: ID, kind, class, type, caption,
// callback, array place.
void expectCommonProperties(const FormWidget& c, const ExpectedControl& e) {
    EXPECT_EQ(c.props.value("ctrlId").toInt(), e.id);
    EXPECT_EQ(str(c.props.value("ctrlKind")), e.kind);
    EXPECT_EQ(c.className, expectedClass(e));
    EXPECT_EQ(str(c.props.value("dataType")), e.dataType);
    EXPECT_EQ(str(c.props.value("caption")), e.caption);
    EXPECT_EQ(c.props.contains("callback"), !e.callback.empty());
    EXPECT_EQ(str(c.props.value("callback")), e.callback);
    EXPECT_EQ(c.props.contains("ctrlArray"), !e.array.empty());
    EXPECT_EQ(str(c.props.value("ctrlArray")), e.array);
    if (!e.array.empty()) {
        EXPECT_EQ(c.props.value("ctrlArrayIndex").toInt(), e.arrayIndex);
    }
}

// Ranges, initial values and texts.
void expectValues(const FormWidget& c, const ExpectedControl& e) {
    const auto& p = c.props;
    if (e.kind == "numeric") {
        EXPECT_DOUBLE_EQ(p.value("minimum").toDouble(), e.minimum);
        EXPECT_DOUBLE_EQ(p.value("maximum").toDouble(), e.maximum);
        EXPECT_DOUBLE_EQ(p.value("singleStep").toDouble(), e.step);
        EXPECT_DOUBLE_EQ(p.value("value").toDouble(), e.initial);
        if (e.dataType == "double") {
            EXPECT_EQ(p.value("decimals").toInt(), 3);
        }
    }
    if (e.kind == "command" || e.kind == "textmsg") {
        EXPECT_EQ(str(p.value("text")), e.caption);
    }
    if (e.kind == "string") {
        EXPECT_EQ(str(p.value("text")), e.initialText);
    }
    if (e.kind == "textbox") {
        EXPECT_EQ(str(p.value("plainText")), e.initialText);
    }
    if (e.kind == "led") {
        EXPECT_EQ(p.value("value").toInt(), int(e.initial));
    }
}

// A ring's or ring slide's values and captions, and its initial item.
void expectRingItems(const FormWidget& c, const ExpectedControl& e) {
    QStringList values, texts;
    for (const auto& item : e.items) {
        values << QString::number(item.value);
        texts << QString::fromStdString(item.text);
    }
    EXPECT_EQ(str(c.props.value("ringValues")), values.join(',').toStdString());
    const QStringList shown =
        e.kind == "ring" ? c.items : c.props.value("ringItems").toStringList();
    EXPECT_EQ(shown, texts);
    // The initial value is one of the items; a ring shows it as its current item.
    const int initialIndex = int(values.indexOf(QString::number(int(e.initial))));
    ASSERT_GE(initialIndex, 0);
    if (e.kind == "ring") {
        EXPECT_EQ(c.props.value("currentIndex").toInt(), initialIndex);
    } else {
        EXPECT_EQ(c.props.value("value").toInt(), int(e.initial));
    }
}

void expectLooks(const FormWidget& c, const ExpectedControl& e) {
    if (e.kind == "picture") {
        const QString file = c.props.value("pixmap").toString();
        EXPECT_FALSE(file.isEmpty());
        EXPECT_TRUE(QFileInfo(QFileInfo(kUirPath).dir(), file).isFile())
            << file.toStdString() << " beside the resource";
    }
    if (e.kind == "splitter") {
        const QRect g = geometry(c);
        EXPECT_EQ(str(c.props.value("frameShape")),
                  g.height() > g.width() ? "QFrame::VLine" : "QFrame::HLine");
    }
}

TEST(PanelResource, EveryControlMatchesTheTable) {
    const auto& table = panel_resource::expectedControls();
    ASSERT_EQ(table.size(), 171u);
    for (const ExpectedControl& e : table) {
        SCOPED_TRACE(e.name);
        const FormWidget* c = findControl(e.name);
        ASSERT_NE(c, nullptr);
        expectCommonProperties(*c, e);
        expectValues(*c, e);
        if (e.kind == "ring" || e.kind == "ringslide") expectRingItems(*c, e);
        expectLooks(*c, e);
    }
}

TEST(PanelResource, ControlArraysHoldTheirMembersInOrder) {
    std::map<std::string, std::map<int, std::string>> members;
    for (const FormWidget& c : resource().children) {
        if (!c.props.contains("ctrlArray")) continue;
        auto& byIndex = members[str(c.props.value("ctrlArray"))];
        const int index = c.props.value("ctrlArrayIndex").toInt();
        EXPECT_TRUE(byIndex.emplace(index, c.name.toStdString()).second)
            << "two controls at item " << index << " of " << str(c.props.value("ctrlArray"));
    }
    std::map<int, std::string> declared;
    for (const QString& pair : resource().panel.props.value("ctrlArrays").toString().split(';')) {
        const QStringList parts = pair.split(':');
        ASSERT_EQ(parts.size(), 2) << pair.toStdString();
        declared[parts[0].toInt()] = parts[1].toStdString();
    }
    const auto& arrays = panel_resource::expectedArrays();
    ASSERT_EQ(declared.size(), arrays.size());
    ASSERT_EQ(members.size(), arrays.size());
    for (const auto& a : arrays) {
        SCOPED_TRACE(a.name);
        EXPECT_EQ(declared[a.resourceId], a.name);
        std::vector<std::string> inOrder;
        int next = 0;
        for (const auto& [index, name] : members[a.name]) {
            EXPECT_EQ(index, next++);
            inOrder.push_back(name);
        }
        EXPECT_EQ(inOrder, a.members);
    }
}

// Same DAC row i in the three row arrays means the same screen row.
TEST(PanelResource, DacRowsLineUp) {
    for (int row = 0; row < 32; ++row) {
        const FormWidget* name = findControl("LAB_" + std::to_string(row));
        const FormWidget* volts = findControl("DAC1_" + std::to_string(row));
        const FormWidget* code = findControl("ADDR_" + std::to_string(row + 1));
        ASSERT_TRUE(name && volts && code);
        EXPECT_EQ(geometry(*name).y(), geometry(*volts).y()) << row;
        EXPECT_EQ(geometry(*volts).y(), geometry(*code).y()) << row;
        EXPECT_LT(geometry(*name).right(), geometry(*volts).left()) << row;
        EXPECT_LT(geometry(*volts).right(), geometry(*code).left()) << row;
    }
}

// Header constants, listed by name.
struct NamedConstant {
    const char* name;
    int value;
};
#include "panel_constants.inc"
#define KOVRA610_NAMED(c) {#c, c},
constexpr NamedConstant kControlConstants[] = {KOVRA610_PANEL_CONTROL_CONSTANTS(KOVRA610_NAMED)};
constexpr NamedConstant kArrayConstants[] = {KOVRA610_PANEL_ARRAY_CONSTANTS(KOVRA610_NAMED)};
#undef KOVRA610_NAMED

TEST(PanelHeader, ControlConstantsAgreeWithResourceAndTable) {
    EXPECT_EQ(SBUS_1, resource().panel.props.value("panelResourceId").toInt());
    ASSERT_EQ(std::size(kControlConstants), 171u);
    std::set<std::string> seen;
    for (const NamedConstant& k : kControlConstants) {
        SCOPED_TRACE(k.name);
        seen.insert(k.name);
        const FormWidget* c = findControl(k.name);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(k.value, c->props.value("ctrlId").toInt());
    }
    for (const ExpectedControl& e : panel_resource::expectedControls()) {
        EXPECT_TRUE(seen.count(e.name)) << e.name << " has no constant";
        for (const NamedConstant& k : kControlConstants)
            if (e.name == k.name) {
                EXPECT_EQ(k.value, e.id) << e.name;
            }
    }
    // Constants the rest of the system addresses directly.
    EXPECT_EQ(CLKFREQ, 22);
    EXPECT_EQ(DAC1TEXTBOX, 127);
    EXPECT_EQ(LED_2, 142);
    EXPECT_EQ(LED, 143);
    EXPECT_EQ(LOAD, 145);
    EXPECT_EQ(MODECHSEL, 170);
}

TEST(PanelHeader, ArrayConstantsAgreeWithResource) {
    const auto& arrays = panel_resource::expectedArrays();
    ASSERT_EQ(std::size(kArrayConstants), arrays.size());
    const QString declared = resource().panel.props.value("ctrlArrays").toString();
    for (const NamedConstant& k : kArrayConstants) {
        SCOPED_TRACE(k.name);
        EXPECT_TRUE(declared.split(';').contains(QString("%1:%2").arg(k.value).arg(k.name)));
        const auto it = std::find_if(arrays.begin(), arrays.end(),
                                     [&](const auto& a) { return a.name == k.name; });
        ASSERT_NE(it, arrays.end());
        EXPECT_EQ(k.value, it->resourceId);
    }
}

// The keyboard walks the DAC rows from row 0, then every other control that
// takes input, each once.
TEST(PanelLayout, TabOrder) {
    const QStringList& order = resource().tabStops;
    ASSERT_GE(order.size(), 3);
    EXPECT_EQ(order.mid(0, 3), (QStringList{"LAB_0", "DAC1_0", "ADDR_1"}));
    std::multiset<QString> listed(order.begin(), order.end());
    for (const FormWidget& c : resource().children) {
        const std::string kind = str(c.props.value("ctrlKind"));
        const bool takesInput =
            kind != "textmsg" && kind != "picture" && kind != "splitter" && kind != "led";
        EXPECT_EQ(listed.count(c.name), takesInput ? 1u : 0u) << c.name.toStdString();
    }
    EXPECT_EQ(listed.size(), 171u - 15 - 1 - 7 - 2);
}

// --- layout ---------------------------------------------------------------

bool drawsCaptionAbove(const FormWidget& c) {
    const std::string kind = str(c.props.value("ctrlKind"));
    return kind != "command" && kind != "textmsg" && !str(c.props.value("caption")).empty();
}

// The control with the band its caption is drawn in, as wide as the text.
QRect footprint(const FormWidget& c) {
    QRect r = geometry(c);
    if (drawsCaptionAbove(c)) {
        const QFontMetrics fm(QApplication::font());
        const int textWidth =
            fm.horizontalAdvance(c.props.value("caption").toString()) + kCaptionMargin;
        r = r.united(
            QRect(r.x(), r.y() - kCaptionBand, std::max(r.width(), textWidth), kCaptionBand));
    }
    return r;
}

TEST(PanelLayout, EverythingInsideThePanel) {
    const QRect area(0, 0, 1271, 932);
    for (const FormWidget& c : resource().children)
        EXPECT_TRUE(area.contains(footprint(c))) << c.name.toStdString();
}

TEST(PanelLayout, NothingOverlaps) {
    const auto& controls = resource().children;
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(footprint(controls[i]).intersects(footprint(controls[j])))
                << controls[i].name.toStdString() << " and " << controls[j].name.toStdString();
}

TEST(PanelLayout, TextsFitTheirControls) {
    const QFontMetrics fm(QApplication::font());
    for (const FormWidget& c : resource().children) {
        SCOPED_TRACE(c.name.toStdString());
        const std::string kind = str(c.props.value("ctrlKind"));
        const auto& p = c.props;
        const QRect g = geometry(c);
        EXPECT_GE(g.height(), kind == "splitter" ? 1 : fm.height()) << "too low to read";
        if (kind == "numeric") {
            if (c.className == "QDoubleSpinBox") {
                QDoubleSpinBox box;
                box.setDecimals(p.value("decimals").toInt());
                box.setRange(p.value("minimum").toDouble(), p.value("maximum").toDouble());
                EXPECT_GE(g.width(), box.sizeHint().width());
            } else {
                QSpinBox box;
                box.setRange(p.value("minimum").toInt(), p.value("maximum").toInt());
                EXPECT_GE(g.width(), box.sizeHint().width());
            }
        } else if (kind == "command") {
            QPushButton button(p.value("text").toString());
            EXPECT_GE(g.width(), button.sizeHint().width());
        } else if (kind == "ring") {
            QComboBox box;
            box.addItems(c.items);
            EXPECT_GE(g.width(), box.sizeHint().width());
        } else if (kind == "ringslide") {
            const QStringList items = c.props.value("ringItems").toStringList();
            // The selected item is drawn in bold: every item must fit in bold.
            QFont bold = QApplication::font();
            bold.setBold(true);
            const QFontMetrics boldMetrics(bold);
            int widest = 0;
            for (const QString& s : items)
                widest = std::max(widest, boldMetrics.horizontalAdvance(s));
            EXPECT_GE(g.width(), widest + 24);
            EXPECT_EQ(g.height(), 16 * int(items.size()) + 6);
        } else if (kind == "textmsg") {
            EXPECT_GE(g.width(), fm.horizontalAdvance(p.value("text").toString()));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Headless unless told otherwise (test discovery runs without the test's environment).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
