// LoadPanel: reads a panel resource (a Qt Designer form), checks it, builds
// the control table and the control arrays and binds the callbacks by name.
// The panel's widgets are made from the same text later (makePanel): in the
// first wait or event processing after LoadPanel, or when the panel or one
// of its controls is first used. Making the few hundred widgets of a large
// panel then uses time the program spends waiting anyway (at start-up, the
// link's settling wait) instead of coming before it.
#include <QBuffer>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUiLoader>
#include <QXmlStreamReader>
#include <algorithm>
#include <set>

#include "commit_widgets.h"
#include "led.h"
#include "ringslide.h"
#include "runtime_internal.h"

using namespace kovra610::runtime::detail;

namespace {

class PanelUiLoader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        QWidget* w = nullptr;
        if (className == QLatin1String("RingSlide"))
            w = new RingSlide(parent);
        else if (className == QLatin1String("Led"))
            w = new Led(parent);
        else if (className == QLatin1String("QSpinBox"))
            w = new CommitIntSpin(parent);
        else if (className == QLatin1String("QDoubleSpinBox"))
            w = new CommitDoubleSpin(parent);
        else if (className == QLatin1String("QLineEdit"))
            w = new CommitLineEdit(parent);
        else if (className == QLatin1String("QPlainTextEdit"))
            w = new CommitTextBox(parent);
        else
            return QUiLoader::createWidget(className, parent, name);
        w->setObjectName(name);
        return w;
    }
};

// Qt's own warnings while a form is read are collected, so a failed load
// ends in one line of our own.
QStringList* g_loadMessages = nullptr;

void collectMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    if (g_loadMessages) g_loadMessages->append(message);
}

const std::map<std::string, Kind>& kindNames() {
    static const std::map<std::string, Kind> names = {
        {"numeric", Kind::Numeric},     {"command", Kind::Command}, {"ring", Kind::Ring},
        {"ringslide", Kind::RingSlide}, {"string", Kind::String},   {"textbox", Kind::TextBox},
        {"textmsg", Kind::TextMsg},     {"led", Kind::Led},         {"picture", Kind::Picture},
        {"splitter", Kind::Splitter},
    };
    return names;
}

DataType defaultType(Kind kind, const QString& className) {
    switch (kind) {
        case Kind::Numeric:
            return className == QLatin1String("QDoubleSpinBox") ? DataType::Double : DataType::Int;
        case Kind::String:
        case Kind::TextBox:
        case Kind::TextMsg:
            return DataType::Text;
        default:
            return DataType::Int;
    }
}

bool parseType(const QString& s, DataType* out) {
    if (s == QLatin1String("double"))
        *out = DataType::Double;
    else if (s == QLatin1String("unsigned"))
        *out = DataType::Unsigned;
    else if (s == QLatin1String("int"))
        *out = DataType::Int;
    else if (s == QLatin1String("string"))
        *out = DataType::Text;
    else
        return false;
    return true;
}

// "0,1,3,5,7" -> values; false when any item is not an integer.
bool parseValues(const QString& s, std::vector<int>* out) {
    out->clear();
    const QString trimmed = s.trimmed();
    if (trimmed.isEmpty()) return true;
    for (const QString& part : trimmed.split(QLatin1Char(','))) {
        bool ok = false;
        const int v = part.trimmed().toInt(&ok);
        if (!ok) return false;
        out->push_back(v);
    }
    return true;
}

// What the panel file says about one widget: its class, its name, its
// properties (as Qt Designer's loader would set them) and, for a combo box,
// how many items it lists.
struct FormWidget {
    QString className;
    QString name;
    QVariantMap props;
    int items = 0;
};

struct Form {
    FormWidget panel;
    std::vector<FormWidget> children;  // the panel's direct children
};

// Positioned on the value element inside <property>.
QVariant readValue(QXmlStreamReader& xml) {
    const QStringView tag = xml.name();
    if (tag == u"number") {
        const QString text = xml.readElementText();
        bool ok = false;
        const int v = text.trimmed().toInt(&ok);
        return ok ? QVariant(v) : QVariant(text);
    }
    if (tag == u"double") {
        const QString text = xml.readElementText();
        bool ok = false;
        const double v = text.trimmed().toDouble(&ok);
        return ok ? QVariant(v) : QVariant(text);
    }
    if (tag == u"string" || tag == u"cstring" || tag == u"enum" || tag == u"set")
        return xml.readElementText();
    if (tag == u"bool") return xml.readElementText().trimmed() == QLatin1String("true");
    if (tag == u"stringlist") {
        QStringList list;
        while (xml.readNextStartElement()) {
            if (xml.name() == u"string")
                list << xml.readElementText();
            else
                xml.skipCurrentElement();
        }
        return list;
    }
    xml.skipCurrentElement();
    return {};
}

// Positioned on <property>.
void readProperty(QXmlStreamReader& xml, QVariantMap* into) {
    const QString name = xml.attributes().value(QLatin1String("name")).toString();
    QVariant value;
    bool first = true;
    while (xml.readNextStartElement()) {
        if (first)
            value = readValue(xml);
        else
            xml.skipCurrentElement();
        first = false;
    }
    if (!name.isEmpty() && value.isValid()) into->insert(name, value);
}

// Positioned on <widget>: its properties and items; deeper widgets are not
// controls of the panel and are left to the form loader.
void readWidget(QXmlStreamReader& xml, FormWidget* w, std::vector<FormWidget>* children) {
    w->className = xml.attributes().value(QLatin1String("class")).toString();
    w->name = xml.attributes().value(QLatin1String("name")).toString();
    while (xml.readNextStartElement()) {
        if (xml.name() == u"property") {
            readProperty(xml, &w->props);
        } else if (xml.name() == u"item") {
            ++w->items;
            xml.skipCurrentElement();
        } else if (xml.name() == u"widget" && children != nullptr) {
            FormWidget child;
            readWidget(xml, &child, nullptr);
            children->push_back(std::move(child));
        } else {
            xml.skipCurrentElement();
        }
    }
}

// Reads the form's panel and its direct children; false with the reason
// when the text is not a readable form.
bool readForm(const QByteArray& text, Form* form, QString* why) {
    QXmlStreamReader xml(text);
    if (!xml.readNextStartElement() || xml.name() != u"ui") {
        *why = xml.hasError() ? xml.errorString() : QStringLiteral("not a Qt Designer form");
        return false;
    }
    // The form loader reads forms of version 4 and later only.
    const QString version = xml.attributes().value(QLatin1String("version")).toString();
    if (version.section(QLatin1Char('.'), 0, 0).toInt() < 4) {
        *why =
            QStringLiteral("a form of version \"%1\"; version 4.0 or later is needed").arg(version);
        return false;
    }
    bool havePanel = false;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"widget" && !havePanel) {
            havePanel = true;
            readWidget(xml, &form->panel, &form->children);
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) {
        *why = QStringLiteral("%1 at line %2").arg(xml.errorString()).arg(xml.lineNumber());
        return false;
    }
    if (!havePanel) {
        *why = QStringLiteral("the form holds no widget");
        return false;
    }
    return true;
}

// The widget classes each kind may be made of, as the form names them.
bool classFits(Kind kind, const QString& className, const char** expected) {
    auto any = [&className](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (className == QLatin1String(n)) return true;
        return false;
    };
    switch (kind) {
        case Kind::Numeric:
            *expected = "QSpinBox or QDoubleSpinBox";
            return any({"QSpinBox", "QDoubleSpinBox"});
        case Kind::Command:
            *expected = "QPushButton";
            return any({"QPushButton", "QCommandLinkButton"});
        case Kind::Ring:
            *expected = "QComboBox";
            return any({"QComboBox", "QFontComboBox"});
        case Kind::RingSlide:
            *expected = "RingSlide";
            return any({"RingSlide"});
        case Kind::String:
            *expected = "QLineEdit";
            return any({"QLineEdit"});
        case Kind::TextBox:
            *expected = "QPlainTextEdit";
            return any({"QPlainTextEdit"});
        case Kind::TextMsg:
        case Kind::Picture:
            *expected = "QLabel";
            return any({"QLabel"});
        case Kind::Led:
            *expected = "Led";
            return any({"Led"});
        case Kind::Splitter:
            *expected = "QFrame";
            return any({"QFrame", "QLabel"});
    }
    return false;
}

// Checks one control as the file describes it and fills in c; returns an
// error text or "".
std::string readControl(const FormWidget& w, Control& c) {
    const std::string label = "control " + c.name;
    const std::string kindText = w.props.value(QStringLiteral("ctrlKind")).toString().toStdString();
    auto k = kindNames().find(kindText);
    if (k == kindNames().end()) return label + " has unknown kind \"" + kindText + "\"";
    c.kind = k->second;
    const char* expected = "";
    if (!classFits(c.kind, w.className, &expected))
        return label + " is a " + w.className.toStdString() + ", its kind needs a " + expected;

    c.type = defaultType(c.kind, w.className);
    const QVariant typeProp = w.props.value(QStringLiteral("dataType"));
    if (typeProp.isValid() && !parseType(typeProp.toString(), &c.type))
        return label + " has unknown data type \"" + typeProp.toString().toStdString() + "\"";
    if (c.kind == Kind::Numeric) {
        const bool isDouble = w.className == QLatin1String("QDoubleSpinBox");
        if (c.type == DataType::Text || isDouble != (c.type == DataType::Double))
            return label + " has data type \"" + typeProp.toString().toStdString() +
                   "\", which its widget cannot hold";
        if (!isDouble && c.type == DataType::Unsigned &&
            w.props.value(QStringLiteral("minimum")).toInt() < 0)
            return label + " is unsigned but its minimum is negative";
    }

    if (c.kind == Kind::Ring || c.kind == Kind::RingSlide) {
        if (!parseValues(w.props.value(QStringLiteral("ringValues")).toString(), &c.ringValues))
            return label + " has ring values that are not whole numbers";
    }
    if (c.kind == Kind::Ring) {
        if (w.items == 0) return label + " is a ring without items";
        if (c.ringValues.empty()) {
            for (int i = 0; i < w.items; ++i) c.ringValues.push_back(i);
        }
        if (static_cast<int>(c.ringValues.size()) != w.items)
            return label + " lists " + std::to_string(c.ringValues.size()) + " ring values for " +
                   std::to_string(w.items) + " items";
    }
    if (c.kind == Kind::RingSlide) {
        const QStringList items = w.props.value(QStringLiteral("ringItems")).toStringList();
        if (items.isEmpty()) return label + " is a ring slide without items";
        if (c.ringValues.size() != static_cast<std::size_t>(items.size()))
            return label + " lists " + std::to_string(c.ringValues.size()) + " ring values for " +
                   std::to_string(items.size()) + " items";
        const QVariant initial = w.props.value(QStringLiteral("value"));
        if (initial.isValid() && std::find(c.ringValues.begin(), c.ringValues.end(),
                                           initial.toInt()) == c.ringValues.end())
            return label + " starts at value " + initial.toString().toStdString() +
                   ", which is not one of its items";
    }
    if (c.kind == Kind::Led) {
        const QVariant color = w.props.value(QStringLiteral("onColor"));
        if (color.isValid() && !QColor::fromString(color.toString()).isValid())
            return label + " has an unreadable on colour \"" + color.toString().toStdString() +
                   "\"";
    }
    return {};
}

// Sets up the widget the form loader made for a control as the control's
// kind needs. The file was checked when the panel was loaded, and the
// loader makes each class the check lets through as the class its kind needs.
void setUpWidget(QWidget* w, const Control& c) {
    if (auto* level = dynamic_cast<CommitDoubleSpin*>(w)) level->keepPrecision();
    if (auto* combo = qobject_cast<QComboBox*>(w); combo && c.kind == Kind::Ring) {
        if (combo->currentIndex() < 0) combo->setCurrentIndex(0);
    }
    if (auto* slide = qobject_cast<RingSlide*>(w)) {
        slide->setItems(w->property("ringItems").toStringList(), c.ringValues);
        const QVariant initial = w->property("value");
        const int index = slide->indexOfValue(initial.isValid() ? initial.toInt() : 0);
        slide->setCurrentIndex(std::max(index, 0));
    }
    if (auto* led = qobject_cast<Led*>(w)) {
        led->setValue(w->property("value").toInt());
        const QVariant color = w->property("onColor");
        if (color.isValid()) led->setOnColor(QColor::fromString(color.toString()));
    }
}

// The caption drawn just above a control, left-aligned, 16 px high.
void addCaption(QWidget* panel, Control& c, const QString& caption) {
    auto* label = new QLabel(caption, panel);
    const QRect g = c.widget->geometry();
    const int width = std::max(g.width(), label->fontMetrics().horizontalAdvance(caption) + 4);
    label->setGeometry(g.x(), g.y() - 18, width, 16);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setBuddy(c.widget);
    label->setAccessibleName(caption);
    c.captionLabel = label;
}

void describe(Control& c, const QString& caption) {
    QString name = caption;
    if (name.isEmpty()) {
        if (auto* b = qobject_cast<QPushButton*>(c.widget)) name = b->text();
        if (auto* l = qobject_cast<QLabel*>(c.widget); l && c.kind == Kind::TextMsg)
            name = l->text();
    }
    if (name.isEmpty()) name = QString::fromStdString(c.name);
    c.widget->setAccessibleName(name);
    c.widget->setAccessibleDescription(QString::fromStdString(c.name));
}

// Connects the operator's commits of a control to delivery.
void wire(int panel, Control& c) {
    const int id = c.id;
    QWidget* w = c.widget;
    auto deliver = [panel, id] { deliverCommit(panel, id); };
    switch (c.kind) {
        case Kind::Numeric:
            dynamic_cast<NumericEntry*>(w)->onCommit = deliver;
            break;
        case Kind::Command:
            QObject::connect(qobject_cast<QPushButton*>(w), &QPushButton::clicked, w, deliver);
            break;
        case Kind::Ring:
            QObject::connect(qobject_cast<QComboBox*>(w), &QComboBox::activated, w, deliver);
            break;
        case Kind::RingSlide:
            QObject::connect(qobject_cast<RingSlide*>(w), &RingSlide::selectedByOperator, w,
                             deliver);
            break;
        case Kind::String:
            dynamic_cast<CommitLineEdit*>(w)->onCommit = deliver;
            break;
        case Kind::TextBox:
            dynamic_cast<CommitTextBox*>(w)->onCommit = deliver;
            break;
        case Kind::Led:
            qobject_cast<Led*>(w)->setBlinkGate([] { return !timerCallbacksSuspended(); });
            break;
        default:
            break;
    }
}

// The panel's background style applies to the panel alone, not its controls.
void confineStyleSheet(QWidget* panel) {
    const QString sheet = panel->styleSheet().trimmed();
    if (sheet.isEmpty() || sheet.contains(QLatin1Char('{')) || panel->objectName().isEmpty())
        return;
    panel->setStyleSheet(QStringLiteral("#%1 { %2 }").arg(panel->objectName(), sheet));
}

int load(int parentPanel, const char* fileName, int panelResourceId, std::string* where) {
    if (!QCoreApplication::instance()) {
        reportError("LoadPanel", "the run-time is not initialised (InitCVIRTE)");
        return UIE_NOT_INITIALISED;
    }
    if (!fileName || !*fileName) {
        reportError("LoadPanel", "no panel file name given");
        return UIE_FILE_ERROR;
    }
    QString path = QString::fromLocal8Bit(fileName);
    if (QFileInfo(path).isRelative())
        path = QDir(QCoreApplication::applicationDirPath()).filePath(path);
    *where = "LoadPanel: \"" + path.toStdString() + "\"";
    auto fail = [&](int code, const std::string& text) {
        reportError(where->c_str(), text);
        return code;
    };

    if (parentPanel != 0 && !panelRecord(parentPanel))
        return fail(UIE_INVALID_PANEL, "parent panel handle is not valid");

    QFile file(path);
    if (!QFileInfo(path).isFile()) return fail(UIE_FILE_ERROR, "file not found");
    if (!file.open(QIODevice::ReadOnly))
        return fail(UIE_FILE_ERROR,
                    "cannot open the file (" + file.errorString().toStdString() + ")");
    QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(UIE_FILE_ERROR,
                    "cannot read the file (" + file.errorString().toStdString() + ")");

    Form form;
    QString why;
    if (!readForm(text, &form, &why))
        return fail(UIE_FILE_ERROR,
                    "not a readable panel resource (" + why.simplified().toStdString() + ")");

    const QString& panelClass = form.panel.className;
    if (panelClass != QLatin1String("QWidget") && panelClass != QLatin1String("QDialog") &&
        panelClass != QLatin1String("QFrame"))
        return fail(UIE_INVALID_PANEL, "the panel is a " + panelClass.toStdString() +
                                           ", not a QWidget, QDialog or QFrame");
    const QVariant idProp = form.panel.props.value(QStringLiteral("panelResourceId"));
    bool idOk = false;
    const int fileId = idProp.toInt(&idOk);
    if (!idProp.isValid() || !idOk)
        return fail(UIE_INVALID_PANEL, "the panel has no panel resource ID");
    if (fileId != panelResourceId)
        return fail(UIE_INVALID_PANEL,
                    "no panel with resource ID " + std::to_string(panelResourceId) +
                        " (the file holds panel " + form.panel.name.toStdString() + " with ID " +
                        std::to_string(fileId) + ")");

    auto panel = std::make_unique<Panel>();
    panel->resourceId = fileId;
    panel->name = form.panel.name.toStdString();
    panel->file = path.toStdString();

    // Control arrays declared by the panel: "1:ALARMREG;2:CMPREG".
    std::map<std::string, int> arrayIds;
    std::set<int> usedArrayIds;
    const QString arraysText =
        form.panel.props.value(QStringLiteral("ctrlArrays")).toString().trimmed();
    for (const QString& pair : arraysText.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList parts = pair.split(QLatin1Char(':'));
        bool ok = false;
        const int id = parts.size() == 2 ? parts[0].trimmed().toInt(&ok) : 0;
        const std::string name = parts.size() == 2 ? parts[1].trimmed().toStdString() : "";
        if (!ok || id <= 0 || name.empty())
            return fail(UIE_INVALID_ARRAY,
                        "control array entry \"" + pair.toStdString() + "\" is not ID:NAME");
        if (arrayIds.count(name) || !usedArrayIds.insert(id).second)
            return fail(UIE_INVALID_ARRAY,
                        "control array \"" + pair.toStdString() + "\" is declared twice");
        arrayIds[name] = id;
    }
    std::map<std::string, std::map<int, int>> members;  // array -> index -> control ID

    for (const FormWidget& w : form.children) {
        const QVariant idValue = w.props.value(QStringLiteral("ctrlId"));
        if (!idValue.isValid()) continue;
        Control c;
        c.name = w.name.toStdString();
        bool ok = false;
        c.id = idValue.toInt(&ok);
        if (!ok || c.id <= 0)
            return fail(UIE_INVALID_CONTROL, "control " + c.name + " has an invalid control ID");
        if (panel->controls.count(c.id))
            return fail(UIE_INVALID_CONTROL, "control ID " + std::to_string(c.id) + " is used by " +
                                                 panel->controls[c.id].name + " and " + c.name);
        if (std::string err = readControl(w, c); !err.empty())
            return fail(UIE_INVALID_CONTROL, err);

        c.callbackName =
            w.props.value(QStringLiteral("callback")).toString().trimmed().toStdString();
        if (!c.callbackName.empty()) {
            c.callback = lookupCallback(c.callbackName);
            if (!c.callback)
                return fail(UIE_CALLBACK_NOT_FOUND, "control " + c.name + " names callback \"" +
                                                        c.callbackName +
                                                        "\", which is not registered");
        }

        const std::string array =
            w.props.value(QStringLiteral("ctrlArray")).toString().trimmed().toStdString();
        if (!array.empty()) {
            if (!arrayIds.count(array))
                return fail(UIE_INVALID_ARRAY, "control " + c.name +
                                                   " belongs to control array \"" + array +
                                                   "\", which the panel does not declare");
            bool indexOk = false;
            const int index = w.props.value(QStringLiteral("ctrlArrayIndex")).toInt(&indexOk);
            if (!indexOk || index < 0)
                return fail(UIE_INVALID_INDEX,
                            "control " + c.name + " has no valid index in array " + array);
            if (!members[array].emplace(index, c.id).second)
                return fail(
                    UIE_INVALID_INDEX,
                    "control array " + array + " has two items at index " + std::to_string(index));
        }
        panel->controls[c.id] = std::move(c);
    }

    std::vector<std::pair<int, CtrlArray>> arrays;
    for (const auto& [name, id] : arrayIds) {
        CtrlArray a;
        a.name = name;
        int expected = 0;
        for (const auto& [index, control] : members[name]) {
            if (index != expected++)
                return fail(UIE_INVALID_INDEX, "control array " + name + " has no item at index " +
                                                   std::to_string(expected - 1));
            a.controls.push_back(control);
        }
        arrays.emplace_back(id, std::move(a));
    }

    // Checked: the widgets are made later, from this text.
    panel->made = false;
    panel->source = std::move(text);
    panel->parentHandle = parentPanel;
    return addPanel(std::move(panel), std::move(arrays));
}

}  // namespace

namespace kovra610::runtime::detail {

bool makePanel(Panel& p) {
    if (p.made) return p.widget != nullptr;
    p.made = true;
    const QByteArray source = std::move(p.source);
    p.source.clear();
    const std::string where = "LoadPanel: \"" + p.file + "\"";

    QWidget* parentWidget = nullptr;
    if (p.parentHandle != 0) {
        Panel* parent = findPanel(p.parentHandle);
        if (!parent) {
            reportError(where.c_str(), "its parent panel is gone");
            return false;
        }
        parentWidget = parent->widget;
    }

    QBuffer buffer;
    buffer.setData(source);
    buffer.open(QIODevice::ReadOnly);
    // No plugin is needed while the form is read. The panel's custom widgets
    // are made here, and its pictures are PNG, which Qt reads itself.
    // Loading Qt Designer's widget plugins (which a form loader does as it
    // is made, from the library paths) and trying every image-format plugin
    // on the pictures would only cost start-up time. Plugins stay available
    // for what comes later (the file dialog's icons).
    const QStringList libraryPaths = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths({});
    PanelUiLoader loader;
    loader.clearPluginPaths();
    loader.setWorkingDirectory(QFileInfo(QString::fromStdString(p.file)).absoluteDir());
    QStringList messages;
    g_loadMessages = &messages;
    const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
    std::unique_ptr<QWidget> panelWidget(loader.load(&buffer, parentWidget));
    QCoreApplication::setLibraryPaths(libraryPaths);
    qInstallMessageHandler(previous);
    g_loadMessages = nullptr;

    if (!panelWidget) {
        QString why = loader.errorString();
        if (why.isEmpty() && !messages.isEmpty()) why = messages.first();
        reportError(where.c_str(),
                    "not a readable panel resource (" + why.simplified().toStdString() + ")");
        return false;
    }

    std::map<QString, QWidget*> byName;
    for (QObject* child : panelWidget->children())
        if (auto* w = qobject_cast<QWidget*>(child)) byName.emplace(w->objectName(), w);
    for (auto& [id, c] : p.controls) {
        auto it = byName.find(QString::fromStdString(c.name));
        if (it == byName.end()) {
            // Left without a widget: calls on it fail as on an unknown control.
            reportError(where.c_str(), "control " + c.name + " was not made");
            continue;
        }
        setUpWidget(it->second, c);
        c.widget = it->second;
    }
    for (auto& [id, c] : p.controls) {
        if (!c.widget) continue;
        const QString caption = c.widget->property("caption").toString();
        if (!caption.isEmpty() && c.kind != Kind::Command && c.kind != Kind::TextMsg)
            addCaption(panelWidget.get(), c, caption);
        describe(c, caption);
    }
    confineStyleSheet(panelWidget.get());
    // Qt's remarks on the form, if it had any.
    for (const QString& m : messages) reportError(where.c_str(), m.toStdString());

    p.widget = panelWidget.release();
    for (auto& [id, c] : p.controls)
        if (c.widget) wire(p.handle, c);
    panelMade(p);
    return true;
}

}  // namespace kovra610::runtime::detail

int LoadPanel(int parentPanel, const char* fileName, int panelResourceId) {
    std::string where;
    return load(parentPanel, fileName, panelResourceId, &where);
}
