// LoadPanel: reads a panel resource (a Qt Designer form), checks it, builds
// the control table and the control arrays, binds the callbacks by name and
// wires each control's commits.
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUiLoader>
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

struct LoadError {
    int code;
    std::string text;
};

const std::map<std::string, Kind>& kindNames() {
    static const std::map<std::string, Kind> names = {
        {"numeric", Kind::Numeric},     {"command", Kind::Command}, {"ring", Kind::Ring},
        {"ringslide", Kind::RingSlide}, {"string", Kind::String},   {"textbox", Kind::TextBox},
        {"textmsg", Kind::TextMsg},     {"led", Kind::Led},         {"picture", Kind::Picture},
        {"splitter", Kind::Splitter},
    };
    return names;
}

DataType defaultType(Kind kind, QWidget* w) {
    switch (kind) {
        case Kind::Numeric:
            return qobject_cast<QDoubleSpinBox*>(w) ? DataType::Double : DataType::Int;
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

// Checks a widget against its kind; returns an empty string when it fits.
std::string classMismatch(Kind kind, QWidget* w) {
    bool fits = true;
    const char* expected = "";
    switch (kind) {
        case Kind::Numeric:
            fits = dynamic_cast<NumericEntry*>(w) != nullptr;
            expected = "QSpinBox or QDoubleSpinBox";
            break;
        case Kind::Command:
            fits = qobject_cast<QPushButton*>(w);
            expected = "QPushButton";
            break;
        case Kind::Ring:
            fits = qobject_cast<QComboBox*>(w);
            expected = "QComboBox";
            break;
        case Kind::RingSlide:
            fits = qobject_cast<RingSlide*>(w);
            expected = "RingSlide";
            break;
        case Kind::String:
            fits = dynamic_cast<CommitLineEdit*>(w) != nullptr;
            expected = "QLineEdit";
            break;
        case Kind::TextBox:
            fits = dynamic_cast<CommitTextBox*>(w) != nullptr;
            expected = "QPlainTextEdit";
            break;
        case Kind::TextMsg:
        case Kind::Picture:
            fits = qobject_cast<QLabel*>(w);
            expected = "QLabel";
            break;
        case Kind::Led:
            fits = qobject_cast<Led*>(w);
            expected = "Led";
            break;
        case Kind::Splitter:
            fits = qobject_cast<QFrame*>(w);
            expected = "QFrame";
            break;
    }
    if (fits) return {};
    return std::string("is a ") + w->metaObject()->className() + ", its kind needs a " + expected;
}

// Reads one control's properties into c; returns an error text or "".
std::string readControl(QWidget* w, Control& c) {
    const std::string label = "control " + c.name;
    const std::string kindText = w->property("ctrlKind").toString().toStdString();
    auto k = kindNames().find(kindText);
    if (k == kindNames().end()) return label + " has unknown kind \"" + kindText + "\"";
    c.kind = k->second;
    if (std::string m = classMismatch(c.kind, w); !m.empty()) return label + " " + m;

    c.type = defaultType(c.kind, w);
    const QVariant typeProp = w->property("dataType");
    if (typeProp.isValid() && !parseType(typeProp.toString(), &c.type))
        return label + " has unknown data type \"" + typeProp.toString().toStdString() + "\"";
    if (c.kind == Kind::Numeric) {
        const bool isDouble = qobject_cast<QDoubleSpinBox*>(w) != nullptr;
        if (c.type == DataType::Text || isDouble != (c.type == DataType::Double))
            return label + " has data type \"" + typeProp.toString().toStdString() +
                   "\", which its widget cannot hold";
        if (auto* spin = qobject_cast<QSpinBox*>(w);
            spin && c.type == DataType::Unsigned && spin->minimum() < 0)
            return label + " is unsigned but its minimum is negative";
    }

    if (c.kind == Kind::Ring || c.kind == Kind::RingSlide) {
        if (!parseValues(w->property("ringValues").toString(), &c.ringValues))
            return label + " has ring values that are not whole numbers";
    }
    if (auto* level = dynamic_cast<CommitDoubleSpin*>(w)) level->keepPrecision();
    if (c.kind == Kind::Ring) {
        auto* combo = qobject_cast<QComboBox*>(w);
        if (combo->count() == 0) return label + " is a ring without items";
        if (c.ringValues.empty()) {
            for (int i = 0; i < combo->count(); ++i) c.ringValues.push_back(i);
        }
        if (static_cast<int>(c.ringValues.size()) != combo->count())
            return label + " lists " + std::to_string(c.ringValues.size()) + " ring values for " +
                   std::to_string(combo->count()) + " items";
        if (combo->currentIndex() < 0) combo->setCurrentIndex(0);
    }
    if (c.kind == Kind::RingSlide) {
        auto* slide = qobject_cast<RingSlide*>(w);
        const QStringList items = w->property("ringItems").toStringList();
        if (items.isEmpty()) return label + " is a ring slide without items";
        if (c.ringValues.size() != static_cast<std::size_t>(items.size()))
            return label + " lists " + std::to_string(c.ringValues.size()) + " ring values for " +
                   std::to_string(items.size()) + " items";
        slide->setItems(items, c.ringValues);
        const QVariant initial = w->property("value");
        int index = slide->indexOfValue(0);
        if (initial.isValid()) {
            index = slide->indexOfValue(initial.toInt());
            if (index < 0)
                return label + " starts at value " + initial.toString().toStdString() +
                       ", which is not one of its items";
        }
        slide->setCurrentIndex(std::max(index, 0));
    }
    if (c.kind == Kind::Led) {
        auto* led = qobject_cast<Led*>(w);
        led->setValue(w->property("value").toInt());
        const QVariant color = w->property("onColor");
        if (color.isValid()) {
            const QColor parsed = QColor::fromString(color.toString());
            if (!parsed.isValid())
                return label + " has an unreadable on colour \"" + color.toString().toStdString() +
                       "\"";
            led->setOnColor(parsed);
        }
    }
    return {};
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

    QWidget* parentWidget = nullptr;
    if (parentPanel != 0) {
        Panel* parent = findPanel(parentPanel);
        if (!parent) return fail(UIE_INVALID_PANEL, "parent panel handle is not valid");
        parentWidget = parent->widget;
    }

    QFile file(path);
    if (!QFileInfo(path).isFile()) return fail(UIE_FILE_ERROR, "file not found");
    if (!file.open(QIODevice::ReadOnly))
        return fail(UIE_FILE_ERROR,
                    "cannot open the file (" + file.errorString().toStdString() + ")");

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
    loader.setWorkingDirectory(QFileInfo(path).absoluteDir());
    QStringList messages;
    g_loadMessages = &messages;
    const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
    std::unique_ptr<QWidget> panelWidget(loader.load(&file, parentWidget));
    QCoreApplication::setLibraryPaths(libraryPaths);
    qInstallMessageHandler(previous);
    g_loadMessages = nullptr;

    if (!panelWidget) {
        QString why = loader.errorString();
        if (why.isEmpty() && !messages.isEmpty()) why = messages.first();
        return fail(UIE_FILE_ERROR,
                    "not a readable panel resource (" + why.simplified().toStdString() + ")");
    }

    const QVariant idProp = panelWidget->property("panelResourceId");
    bool idOk = false;
    const int fileId = idProp.toInt(&idOk);
    if (!idProp.isValid() || !idOk)
        return fail(UIE_INVALID_PANEL, "the panel has no panel resource ID");
    if (fileId != panelResourceId)
        return fail(UIE_INVALID_PANEL,
                    "no panel with resource ID " + std::to_string(panelResourceId) +
                        " (the file holds panel " + panelWidget->objectName().toStdString() +
                        " with ID " + std::to_string(fileId) + ")");

    auto panel = std::make_unique<Panel>();
    panel->resourceId = fileId;
    panel->name = panelWidget->objectName().toStdString();
    panel->file = path.toStdString();

    // Control arrays declared by the panel: "1:ALARMREG;2:CMPREG".
    std::map<std::string, int> arrayIds;
    std::set<int> usedArrayIds;
    const QString arraysText = panelWidget->property("ctrlArrays").toString().trimmed();
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

    for (QObject* child : panelWidget->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w) continue;
        const QVariant idValue = w->property("ctrlId");
        if (!idValue.isValid()) continue;
        Control c;
        c.name = w->objectName().toStdString();
        bool ok = false;
        c.id = idValue.toInt(&ok);
        if (!ok || c.id <= 0)
            return fail(UIE_INVALID_CONTROL, "control " + c.name + " has an invalid control ID");
        if (panel->controls.count(c.id))
            return fail(UIE_INVALID_CONTROL, "control ID " + std::to_string(c.id) + " is used by " +
                                                 panel->controls[c.id].name + " and " + c.name);
        c.widget = w;
        if (std::string err = readControl(w, c); !err.empty())
            return fail(UIE_INVALID_CONTROL, err);

        c.callbackName = w->property("callback").toString().trimmed().toStdString();
        if (!c.callbackName.empty()) {
            c.callback = lookupCallback(c.callbackName);
            if (!c.callback)
                return fail(UIE_CALLBACK_NOT_FOUND, "control " + c.name + " names callback \"" +
                                                        c.callbackName +
                                                        "\", which is not registered");
        }

        const std::string array = w->property("ctrlArray").toString().trimmed().toStdString();
        if (!array.empty()) {
            if (!arrayIds.count(array))
                return fail(UIE_INVALID_ARRAY, "control " + c.name +
                                                   " belongs to control array \"" + array +
                                                   "\", which the panel does not declare");
            bool indexOk = false;
            const int index = w->property("ctrlArrayIndex").toInt(&indexOk);
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

    // Checked: now dress the controls and hand the panel over.
    for (auto& [id, c] : panel->controls) {
        const QString caption = c.widget->property("caption").toString();
        if (!caption.isEmpty() && c.kind != Kind::Command && c.kind != Kind::TextMsg)
            addCaption(panelWidget.get(), c, caption);
        describe(c, caption);
    }
    confineStyleSheet(panelWidget.get());
    if (!messages.isEmpty()) {
        // Loaded, but Qt had remarks on the form: pass them on.
        for (const QString& m : messages) reportError(where->c_str(), m.toStdString());
    }

    panel->widget = panelWidget.release();
    Panel* kept = panel.get();
    const int handle = addPanel(std::move(panel), std::move(arrays));
    for (auto& [id, c] : kept->controls) wire(handle, c);
    return handle;
}

}  // namespace

int LoadPanel(int parentPanel, const char* fileName, int panelResourceId) {
    std::string where;
    return load(parentPanel, fileName, panelResourceId, &where);
}
