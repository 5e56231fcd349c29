// LoadPanel: reads a panel resource (a Qt Designer form), checks it, builds
// the control table and the control arrays and binds the callbacks by name.
// The panel's widgets are made from the same text later (makePanel): when
// the panel is displayed, in the first wait or event processing after
// LoadPanel, or when the panel or one of its controls is first used. A
// program that loads a panel it does not show yet pays for the few hundred
// widgets of a large panel in time it spends waiting anyway.
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QUiLoader>
#include <algorithm>
#include <set>

#include "commit_widgets.h"
#include "control_kinds.h"
#include "led.h"
#include "platform/runtime/panel_file.h"
#include "ringslide.h"
#include "runtime_internal.h"

using kovra610::runtime::Form;
using kovra610::runtime::FormWidget;
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
        else if (className == QLatin1String("QPushButton"))
            w = new CommitButton(parent);
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

// A step of loading that refuses the panel: the run-time error and the
// reason. code 0: no refusal.
struct Refusal {
    int code = 0;
    std::string why;
};

Refusal refuse(int code, std::string why) {
    return {code, std::move(why)};
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

// The row of a widget class among the classes a kind may be made of.
const WidgetClass* classOf(const ControlKind& kind, const QString& className) {
    for (const WidgetClass& wc : kind.classes) {
        if (wc.name != nullptr && className == QLatin1String(wc.name)) return &wc;
    }
    return nullptr;
}

// Checks one control as the file describes it and fills in its kind, data
// type and the kind's part; returns an error text or "".
std::string readControl(const FormWidget& w, Control& c) {
    const std::string label = "control " + c.name;
    const std::string kindText = w.props.value(QStringLiteral("ctrlKind")).toString().toStdString();
    const ControlKind* kind = controlKindNamed(kindText);
    if (kind == nullptr) return label + " has unknown kind \"" + kindText + "\"";
    c.kind = kind->kind;
    const WidgetClass* widgetClass = classOf(*kind, w.className);
    if (widgetClass == nullptr)
        return label + " is a " + w.className.toStdString() + ", its kind needs a " +
               kind->expected;
    c.type = widgetClass->type;
    const QVariant typeProp = w.props.value(QStringLiteral("dataType"));
    if (typeProp.isValid() && !parseType(typeProp.toString(), &c.type))
        return label + " has unknown data type \"" + typeProp.toString().toStdString() + "\"";
    return kind->check(w, c);
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
    controlKind(c.kind).wire(c.widget, [panel, id] { deliverCommit(panel, id); });
}

// The panel's background style applies to the panel alone, not its controls.
void confineStyleSheet(QWidget* panel) {
    const QString sheet = panel->styleSheet().trimmed();
    if (sheet.isEmpty() || sheet.contains(QLatin1Char('{')) || panel->objectName().isEmpty())
        return;
    panel->setStyleSheet(QStringLiteral("#%1 { %2 }").arg(panel->objectName(), sheet));
}

// The panel file's full path: a relative name is looked up beside the
// running program.
QString panelPath(const char* fileName) {
    QString path = QString::fromLocal8Bit(fileName);
    if (QFileInfo(path).isRelative())
        path = QDir(QCoreApplication::applicationDirPath()).filePath(path);
    return path;
}

Refusal readPanelFile(const QString& path, QByteArray* text) {
    QFile file(path);
    if (!QFileInfo(path).isFile()) return refuse(UIE_FILE_ERROR, "file not found");
    if (!file.open(QIODevice::ReadOnly))
        return refuse(UIE_FILE_ERROR,
                      "cannot open the file (" + file.errorString().toStdString() + ")");
    *text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return refuse(UIE_FILE_ERROR,
                      "cannot read the file (" + file.errorString().toStdString() + ")");
    return {};
}

// The panel widget: a window class, and the resource ID asked for.
Refusal checkPanelWidget(const FormWidget& panel, int panelResourceId) {
    const QString& panelClass = panel.className;
    if (panelClass != QLatin1String("QWidget") && panelClass != QLatin1String("QDialog") &&
        panelClass != QLatin1String("QFrame"))
        return refuse(UIE_INVALID_PANEL, "the panel is a " + panelClass.toStdString() +
                                             ", not a QWidget, QDialog or QFrame");
    const QVariant idProp = panel.props.value(QStringLiteral("panelResourceId"));
    bool idOk = false;
    const int fileId = idProp.toInt(&idOk);
    if (!idProp.isValid() || !idOk)
        return refuse(UIE_INVALID_PANEL, "the panel has no panel resource ID");
    if (fileId != panelResourceId)
        return refuse(UIE_INVALID_PANEL, "no panel with resource ID " +
                                             std::to_string(panelResourceId) +
                                             " (the file holds panel " + panel.name.toStdString() +
                                             " with ID " + std::to_string(fileId) + ")");
    return {};
}

// Control arrays declared by the panel: "1:ALARMREG;2:CMPREG" -> name -> ID.
Refusal readArrayDeclarations(const FormWidget& panel, std::map<std::string, int>* arrayIds) {
    std::set<int> usedIds;
    const QString text = panel.props.value(QStringLiteral("ctrlArrays")).toString().trimmed();
    for (const QString& pair : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList parts = pair.split(QLatin1Char(':'));
        bool ok = false;
        const int id = parts.size() == 2 ? parts[0].trimmed().toInt(&ok) : 0;
        const std::string name = parts.size() == 2 ? parts[1].trimmed().toStdString() : "";
        if (!ok || id <= 0 || name.empty())
            return refuse(UIE_INVALID_ARRAY,
                          "control array entry \"" + pair.toStdString() + "\" is not ID:NAME");
        if (arrayIds->count(name) || !usedIds.insert(id).second)
            return refuse(UIE_INVALID_ARRAY,
                          "control array \"" + pair.toStdString() + "\" is declared twice");
        (*arrayIds)[name] = id;
    }
    return {};
}

// The controls of a panel being loaded and their places in its arrays.
struct LoadedControls {
    std::map<std::string, int> arrayIds;                // array name -> resource ID
    std::map<std::string, std::map<int, int>> members;  // array -> index -> control ID
};

Refusal bindCallback(const FormWidget& w, Control& c) {
    c.callbackName = w.props.value(QStringLiteral("callback")).toString().trimmed().toStdString();
    if (c.callbackName.empty()) return {};
    c.callback = lookupCallback(c.callbackName);
    if (c.callback) return {};
    return refuse(UIE_CALLBACK_NOT_FOUND, "control " + c.name + " names callback \"" +
                                              c.callbackName + "\", which is not registered");
}

Refusal placeInArray(const FormWidget& w, const Control& c, LoadedControls& loaded) {
    const std::string array =
        w.props.value(QStringLiteral("ctrlArray")).toString().trimmed().toStdString();
    if (array.empty()) return {};
    if (!loaded.arrayIds.count(array))
        return refuse(UIE_INVALID_ARRAY, "control " + c.name + " belongs to control array \"" +
                                             array + "\", which the panel does not declare");
    bool indexOk = false;
    const int index = w.props.value(QStringLiteral("ctrlArrayIndex")).toInt(&indexOk);
    if (!indexOk || index < 0)
        return refuse(UIE_INVALID_INDEX,
                      "control " + c.name + " has no valid index in array " + array);
    if (!loaded.members[array].emplace(index, c.id).second)
        return refuse(UIE_INVALID_INDEX, "control array " + array + " has two items at index " +
                                             std::to_string(index));
    return {};
}

// The run-time's own properties, which it reads from the file as the panel
// is loaded.
bool isRuntimeProperty(const QString& name) {
    static const QStringList names = {
        QStringLiteral("ctrlId"),         QStringLiteral("ctrlKind"),
        QStringLiteral("dataType"),       QStringLiteral("caption"),
        QStringLiteral("callback"),       QStringLiteral("ctrlArray"),
        QStringLiteral("ctrlArrayIndex"), QStringLiteral("ringValues"),
        QStringLiteral("ctrlArrays"),     QStringLiteral("panelResourceId"),
    };
    return names.contains(name);
}

// The text the form loader makes the widgets from: the file's, without the
// run-time's own properties. The loader would set each of them on its widget
// as a dynamic property, with an event of its own, a thousand of them on a
// large panel, for nothing: the run-time has read them. The file's text is
// used as it is when a property is not found where the reader placed it.
QByteArray loaderText(const QByteArray& text, const Form& form) {
    std::vector<std::pair<qint64, qint64>> spans;
    const auto collect = [&spans](const FormWidget& w) {
        for (auto it = w.dynamicSpans.begin(); it != w.dynamicSpans.end(); ++it)
            if (isRuntimeProperty(it.key())) spans.push_back(it.value());
    };
    collect(form.panel);
    for (const FormWidget& w : form.children) collect(w);
    if (spans.empty()) return text;
    std::sort(spans.begin(), spans.end());
    // The reader counts characters (UTF-16 units); the text is UTF-8.
    qint64 byte = 0, unit = 0;
    const auto byteAt = [&text, &byte, &unit](qint64 character) -> qint64 {
        const auto at = [&text](qint64 i) { return static_cast<unsigned char>(text[i]); };
        while (unit < character && byte < text.size()) {
            unit += at(byte) >= 0xF0 ? 2 : 1;
            ++byte;
            while (byte < text.size() && (at(byte) & 0xC0) == 0x80) ++byte;
        }
        return unit == character ? byte : -1;
    };
    QByteArray out;
    out.reserve(text.size());
    qint64 kept = 0;
    for (const auto& [from, to] : spans) {
        qint64 begin = byteAt(from);
        const qint64 end = byteAt(to);
        // The reader may have taken the tag's '<' already, to end the text
        // before it.
        if (begin > 0 && begin < text.size() && text[begin] != '<' && text[begin - 1] == '<')
            --begin;
        if (begin < kept || end <= begin ||
            !QByteArrayView(text).sliced(begin).startsWith("<property") || text[end - 1] != '>')
            return text;
        out.append(text.constData() + kept, begin - kept);
        kept = end;
    }
    out.append(text.constData() + kept, text.size() - kept);
    return out;
}

// One child of the panel that carries a control ID becomes a control.
Refusal readControlEntry(const FormWidget& w, Panel& panel, LoadedControls& loaded) {
    Control c;
    c.name = w.name.toStdString();
    bool ok = false;
    c.id = w.props.value(QStringLiteral("ctrlId")).toInt(&ok);
    if (!ok || c.id <= 0)
        return refuse(UIE_INVALID_CONTROL, "control " + c.name + " has an invalid control ID");
    if (panel.controls.count(c.id))
        return refuse(UIE_INVALID_CONTROL, "control ID " + std::to_string(c.id) + " is used by " +
                                               panel.controls[c.id].name + " and " + c.name);
    if (std::string err = readControl(w, c); !err.empty()) return refuse(UIE_INVALID_CONTROL, err);
    c.caption = w.props.value(QStringLiteral("caption")).toString();
    if (Refusal r = bindCallback(w, c); r.code != 0) return r;
    if (Refusal r = placeInArray(w, c, loaded); r.code != 0) return r;
    panel.controls[c.id] = std::move(c);
    return {};
}

// Each declared array's members in item order, without gaps.
Refusal buildArrays(LoadedControls& loaded, std::vector<std::pair<int, CtrlArray>>* arrays) {
    for (const auto& [name, id] : loaded.arrayIds) {
        CtrlArray a;
        a.name = name;
        int expected = 0;
        for (const auto& [index, control] : loaded.members[name]) {
            if (index != expected++)
                return refuse(UIE_INVALID_INDEX, "control array " + name +
                                                     " has no item at index " +
                                                     std::to_string(expected - 1));
            a.controls.push_back(control);
        }
        arrays->emplace_back(id, std::move(a));
    }
    return {};
}

// The panel's record, from the file's checked text: its controls and arrays.
Refusal readPanel(const Form& form, Panel& panel, std::vector<std::pair<int, CtrlArray>>* arrays) {
    LoadedControls loaded;
    if (Refusal r = readArrayDeclarations(form.panel, &loaded.arrayIds); r.code != 0) return r;
    for (const FormWidget& w : form.children) {
        if (!w.props.value(QStringLiteral("ctrlId")).isValid()) continue;
        if (Refusal r = readControlEntry(w, panel, loaded); r.code != 0) return r;
    }
    return buildArrays(loaded, arrays);
}

Refusal readAndCheck(const QString& path, int parentPanel, int panelResourceId, Panel& panel,
                     std::vector<std::pair<int, CtrlArray>>* arrays) {
    if (parentPanel != 0 && !panelRecord(parentPanel))
        return refuse(UIE_INVALID_PANEL, "parent panel handle is not valid");
    QByteArray text;
    if (Refusal r = readPanelFile(path, &text); r.code != 0) return r;
    Form form;
    QString why;
    if (!readForm(text, &form, &why))
        return refuse(UIE_FILE_ERROR,
                      "not a readable panel resource (" + why.simplified().toStdString() + ")");
    if (Refusal r = checkPanelWidget(form.panel, panelResourceId); r.code != 0) return r;
    panel.resourceId = panelResourceId;
    panel.name = form.panel.name.toStdString();
    panel.file = path.toStdString();
    if (Refusal r = readPanel(form, panel, arrays); r.code != 0) return r;
    // Checked: the widgets are made later, from this text.
    panel.made = false;
    panel.source = loaderText(text, form);
    panel.parentHandle = parentPanel;
    return {};
}

int load(int parentPanel, const char* fileName, int panelResourceId) {
    if (!QCoreApplication::instance()) {
        reportError("LoadPanel", "the run-time is not initialised (InitCVIRTE)");
        return UIE_NOT_INITIALISED;
    }
    if (!fileName || !*fileName) {
        reportError("LoadPanel", "no panel file name given");
        return UIE_FILE_ERROR;
    }
    const QString path = panelPath(fileName);
    auto panel = std::make_unique<Panel>();
    std::vector<std::pair<int, CtrlArray>> arrays;
    if (Refusal r = readAndCheck(path, parentPanel, panelResourceId, *panel, &arrays);
        r.code != 0) {
        reportError(("LoadPanel: \"" + path.toStdString() + "\"").c_str(), r.why);
        return r.code;
    }
    return addPanel(std::move(panel), std::move(arrays));
}

// The widget the panel's widgets go into: its parent panel's, or none.
bool parentWidgetOf(const Panel& p, const std::string& where, QWidget** parentWidget) {
    *parentWidget = nullptr;
    if (p.parentHandle == 0) return true;
    Panel* parent = findPanel(p.parentHandle);
    if (!parent) {
        reportError(where.c_str(), "its parent panel is gone");
        return false;
    }
    *parentWidget = parent->widget;
    return true;
}

// The form loader makes the panel's widgets from the checked text; Qt's
// remarks go to `messages`, its reason for failing to `why`.
std::unique_ptr<QWidget> makeWidgets(const QByteArray& source, const std::string& file,
                                     QWidget* parentWidget, QStringList* messages, QString* why) {
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
    loader.setWorkingDirectory(QFileInfo(QString::fromStdString(file)).absoluteDir());
    g_loadMessages = messages;
    const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
    std::unique_ptr<QWidget> panelWidget(loader.load(&buffer, parentWidget));
    QCoreApplication::setLibraryPaths(libraryPaths);
    qInstallMessageHandler(previous);
    g_loadMessages = nullptr;
    if (!panelWidget) *why = loader.errorString();
    return panelWidget;
}

// Each control gets the widget of its name, set up as its kind needs, its
// caption and its accessible name.
void attachWidgets(Panel& p, QWidget* panelWidget, const std::string& where) {
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
        controlKind(c.kind).setUp(it->second, c);
        c.widget = it->second;
    }
    for (auto& [id, c] : p.controls) {
        if (!c.widget) continue;
        if (!c.caption.isEmpty() && controlKind(c.kind).captioned)
            addCaption(panelWidget, c, c.caption);
        describe(c, c.caption);
    }
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
    if (!parentWidgetOf(p, where, &parentWidget)) return false;

    QStringList messages;
    QString why;
    std::unique_ptr<QWidget> panelWidget =
        makeWidgets(source, p.file, parentWidget, &messages, &why);
    if (!panelWidget) {
        if (why.isEmpty() && !messages.isEmpty()) why = messages.first();
        reportError(where.c_str(),
                    "not a readable panel resource (" + why.simplified().toStdString() + ")");
        return false;
    }
    attachWidgets(p, panelWidget.get(), where);
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
    return load(parentPanel, fileName, panelResourceId);
}
