#include "control_table.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace panel_resource {
namespace {

// The generator's list; the tests cannot go on without it.
const QJsonObject& generatorList() {
    static const QJsonObject list = [] {
        QFile file(QStringLiteral(KOVRA610_PANEL_LIST));
        QJsonParseError error{};
        const QJsonDocument doc = file.open(QIODevice::ReadOnly)
                                      ? QJsonDocument::fromJson(file.readAll(), &error)
                                      : QJsonDocument();
        if (!doc.isObject()) {
            std::fprintf(stderr, "cannot read the panel generator's list %s: %s\n",
                         KOVRA610_PANEL_LIST, error.errorString().toUtf8().constData());
            std::abort();
        }
        return doc.object();
    }();
    return list;
}

std::string text(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toString().toStdString();
}

ExpectedControl control(const QJsonObject& o) {
    ExpectedControl c;
    c.name = text(o, "name");
    c.id = o.value(QLatin1String("id")).toInt();
    c.kind = text(o, "kind");
    c.dataType = text(o, "dataType");
    c.caption = text(o, "caption");
    c.callback = text(o, "callback");
    c.array = text(o, "array");
    c.arrayIndex = o.value(QLatin1String("arrayIndex")).toInt(-1);
    c.minimum = o.value(QLatin1String("minimum")).toDouble();
    c.maximum = o.value(QLatin1String("maximum")).toDouble();
    c.step = o.value(QLatin1String("step")).toDouble();
    c.initial = o.value(QLatin1String("initial")).toDouble();
    c.initialText = text(o, "initialText");
    for (const QJsonValue& item : o.value(QLatin1String("items")).toArray()) {
        const QJsonObject i = item.toObject();
        c.items.push_back({i.value(QLatin1String("value")).toInt(), text(i, "text")});
    }
    return c;
}

std::vector<ExpectedControl> readControls() {
    std::vector<ExpectedControl> table;
    for (const QJsonValue& v : generatorList().value(QLatin1String("controls")).toArray())
        table.push_back(control(v.toObject()));
    return table;
}

// Each array with its members in item order, from the controls' places.
std::vector<ExpectedArray> readArrays() {
    std::vector<ExpectedArray> arrays;
    for (const QJsonValue& v : generatorList().value(QLatin1String("arrays")).toArray()) {
        const QJsonObject a = v.toObject();
        ExpectedArray array{a.value(QLatin1String("resourceId")).toInt(), text(a, "name"), {}};
        std::map<int, std::string> byIndex;
        for (const ExpectedControl& c : expectedControls())
            if (c.array == array.name) byIndex[c.arrayIndex] = c.name;
        for (const auto& [index, name] : byIndex) array.members.push_back(name);
        arrays.push_back(std::move(array));
    }
    return arrays;
}

}  // namespace

const std::vector<ExpectedControl>& expectedControls() {
    static const std::vector<ExpectedControl> table = readControls();
    return table;
}

const std::vector<ExpectedArray>& expectedArrays() {
    static const std::vector<ExpectedArray> arrays = readArrays();
    return arrays;
}

}  // namespace panel_resource
