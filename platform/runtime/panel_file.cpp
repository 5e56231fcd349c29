#include "platform/runtime/panel_file.h"

#include <QRect>
#include <QXmlStreamReader>

namespace kovra610::runtime {
namespace {

QVariant readNumber(QXmlStreamReader& xml, bool whole) {
    const QString text = xml.readElementText();
    bool ok = false;
    if (whole) {
        const int v = text.trimmed().toInt(&ok);
        return ok ? QVariant(v) : QVariant(text);
    }
    const double v = text.trimmed().toDouble(&ok);
    return ok ? QVariant(v) : QVariant(text);
}

QStringList readStringList(QXmlStreamReader& xml) {
    QStringList list;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"string")
            list << xml.readElementText();
        else
            xml.skipCurrentElement();
    }
    return list;
}

QRect readRect(QXmlStreamReader& xml) {
    QRect r;
    while (xml.readNextStartElement()) {
        const QStringView part = xml.name();
        const int v = xml.readElementText().trimmed().toInt();
        if (part == u"x") r.moveLeft(v);
        if (part == u"y") r.moveTop(v);
        if (part == u"width") r.setWidth(v);
        if (part == u"height") r.setHeight(v);
    }
    return r;
}

// Positioned on the value element inside <property>.
QVariant readValue(QXmlStreamReader& xml) {
    const QStringView tag = xml.name();
    if (tag == u"number") return readNumber(xml, true);
    if (tag == u"double") return readNumber(xml, false);
    if (tag == u"string" || tag == u"cstring" || tag == u"enum" || tag == u"set" ||
        tag == u"pixmap")
        return xml.readElementText();
    if (tag == u"bool") return xml.readElementText().trimmed() == QLatin1String("true");
    if (tag == u"stringlist") return readStringList(xml);
    if (tag == u"rect") return readRect(xml);
    xml.skipCurrentElement();
    return {};
}

// As QXmlStreamReader::readNextStartElement, and where the element starts.
bool readNextStartElement(QXmlStreamReader& xml, qint64* start) {
    for (;;) {
        const qint64 before = xml.characterOffset();
        switch (xml.readNext()) {
            case QXmlStreamReader::StartElement:
                *start = before;
                return true;
            case QXmlStreamReader::EndElement:
            case QXmlStreamReader::Invalid:
                return false;
            default:
                break;
        }
    }
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
    if (!name.isEmpty()) into->insert(name, value);
}

// Positioned on <item>: its text.
QString readItem(QXmlStreamReader& xml) {
    QVariantMap props;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"property")
            readProperty(xml, &props);
        else
            xml.skipCurrentElement();
    }
    return props.value(QStringLiteral("text")).toString();
}

// Positioned on <widget>: its properties and items, and its direct children
// when `children` is given.
void readWidget(QXmlStreamReader& xml, FormWidget* w, std::vector<FormWidget>* children) {
    w->className = xml.attributes().value(QLatin1String("class")).toString();
    w->name = xml.attributes().value(QLatin1String("name")).toString();
    qint64 start = 0;
    while (readNextStartElement(xml, &start)) {
        if (xml.name() == u"property") {
            const bool dynamic = xml.attributes().value(QLatin1String("stdset")) == u"0";
            const QString name = xml.attributes().value(QLatin1String("name")).toString();
            readProperty(xml, &w->props);
            if (dynamic) w->dynamicSpans.insert(name, {start, xml.characterOffset()});
        } else if (xml.name() == u"item") {
            w->items << readItem(xml);
        } else if (xml.name() == u"widget") {
            FormWidget child;
            readWidget(xml, &child, nullptr);
            ++w->nestedWidgets;
            if (children != nullptr) children->push_back(std::move(child));
        } else {
            xml.skipCurrentElement();
        }
    }
}

void readCustomWidgets(QXmlStreamReader& xml, Form* form) {
    while (xml.readNextStartElement()) {
        QString className, base;
        while (xml.readNextStartElement()) {
            if (xml.name() == u"class")
                className = xml.readElementText();
            else if (xml.name() == u"extends")
                base = xml.readElementText();
            else
                xml.skipCurrentElement();
        }
        form->customWidgetBase.insert(className, base);
    }
}

// Positioned inside <ui>: the panel, its children, the custom widgets and
// the tab stops; false when there is no panel.
bool readFormBody(QXmlStreamReader& xml, Form* form) {
    bool havePanel = false;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"widget" && !havePanel) {
            havePanel = true;
            readWidget(xml, &form->panel, &form->children);
        } else if (xml.name() == u"customwidgets") {
            readCustomWidgets(xml, form);
        } else if (xml.name() == u"tabstops") {
            while (xml.readNextStartElement()) form->tabStops << xml.readElementText();
        } else {
            xml.skipCurrentElement();
        }
    }
    return havePanel;
}

bool readFormText(const QByteArray& text, Form* form, QString* why) {
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
    const bool havePanel = readFormBody(xml, form);
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

}  // namespace

bool readForm(const QByteArray& text, Form* form, QString* why) {
    // A program that looks at its panel file before loading it (the
    // command-line tool reads its register fields from it) reads the same
    // text twice: the second time it gets the form read the first time.
    static QByteArray lastText;
    static Form lastForm;
    if (!lastText.isEmpty() && text == lastText) {
        *form = lastForm;
        return true;
    }
    if (!readFormText(text, form, why)) return false;
    lastText = text;
    lastForm = *form;
    return true;
}

}  // namespace kovra610::runtime
