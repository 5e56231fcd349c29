#include "uir_reader.h"

#include <QFile>
#include <QXmlStreamReader>

namespace panel_resource {
namespace {

QVariant readValue(QXmlStreamReader& xml) {
    // Positioned on the start of the value element inside <property>.
    const QString tag = xml.name().toString();
    if (tag == "number") return xml.readElementText().toInt();
    if (tag == "double") return xml.readElementText().toDouble();
    if (tag == "string" || tag == "enum" || tag == "pixmap" || tag == "set" || tag == "cstring")
        return xml.readElementText();
    if (tag == "bool") return xml.readElementText() == "true";
    if (tag == "stringlist") {
        QStringList list;
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("string"))
                list << xml.readElementText();
            else
                xml.skipCurrentElement();
        }
        return list;
    }
    if (tag == "rect") {
        int x = 0, y = 0, w = 0, h = 0;
        while (xml.readNextStartElement()) {
            const QString part = xml.name().toString();
            const int v = xml.readElementText().toInt();
            if (part == "x") x = v;
            if (part == "y") y = v;
            if (part == "width") w = v;
            if (part == "height") h = v;
        }
        return QRect(x, y, w, h);
    }
    xml.skipCurrentElement();
    return {};
}

// Positioned on <property>; stores it in the control.
void readProperty(QXmlStreamReader& xml, UirControl* c) {
    const QString name = xml.attributes().value("name").toString();
    const bool dynamic = xml.attributes().value("stdset") == QLatin1String("0");
    QVariant value;
    while (xml.readNextStartElement()) value = readValue(xml);
    (dynamic ? c->dynamic : c->properties).insert(name, value);
}

void readItem(QXmlStreamReader& xml, UirControl* c) {
    QString text;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("property")) {
            UirControl tmp;
            readProperty(xml, &tmp);
            text = tmp.properties.value("text").toString();
        } else {
            xml.skipCurrentElement();
        }
    }
    c->items << text;
}

// Positioned on <widget>. Children are collected only for the top level.
void readWidget(QXmlStreamReader& xml, UirControl* c, std::vector<UirControl>* children) {
    c->widgetClass = xml.attributes().value("class").toString();
    c->name = xml.attributes().value("name").toString();
    while (xml.readNextStartElement()) {
        const auto tag = xml.name();
        if (tag == QLatin1String("property")) {
            readProperty(xml, c);
        } else if (tag == QLatin1String("item")) {
            readItem(xml, c);
        } else if (tag == QLatin1String("widget")) {
            UirControl child;
            readWidget(xml, &child, nullptr);
            ++c->childWidgets;
            if (children) children->push_back(child);
        } else {
            xml.skipCurrentElement();
        }
    }
}

void readCustomWidgets(QXmlStreamReader& xml, UirPanel* out) {
    while (xml.readNextStartElement()) {
        QString cls, base;
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("class"))
                cls = xml.readElementText();
            else if (xml.name() == QLatin1String("extends"))
                base = xml.readElementText();
            else
                xml.skipCurrentElement();
        }
        out->customWidgetBase.insert(cls, base);
    }
}

}  // namespace

bool readUir(const QString& path, UirPanel* out, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = "cannot open " + path;
        return false;
    }
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("ui")) {
        *error = "not a form: " + path;
        return false;
    }
    bool havePanel = false;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("widget") && !havePanel) {
            readWidget(xml, &out->panel, &out->controls);
            havePanel = true;
        } else if (xml.name() == QLatin1String("customwidgets")) {
            readCustomWidgets(xml, out);
        } else if (xml.name() == QLatin1String("tabstops")) {
            while (xml.readNextStartElement()) out->tabStops << xml.readElementText();
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) {
        *error = QString("XML error at line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
        return false;
    }
    if (!havePanel) {
        *error = "no panel widget in " + path;
        return false;
    }
    return true;
}

}  // namespace panel_resource
