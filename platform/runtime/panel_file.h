// Reads a panel file (a Qt Designer form) without making its widgets: what
// LoadPanel checks before the panel is made, and what a tool needs to look
// at a panel as it is written.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <utility>
#include <vector>

namespace kovra610::runtime {

// One widget as the file describes it.
struct FormWidget {
    QString className;
    QString name;
    // Every property, as Qt Designer's loader would set it: numbers, doubles,
    // texts (strings, enums, sets, pixmap files), booleans, string lists and
    // rectangles are read; a property of another type is present with an
    // invalid value.
    QVariantMap props;
    QStringList items;      // a combo box's items, in order
    int nestedWidgets = 0;  // widgets inside this one
    // Where each dynamic property (stdset="0") is in the text, in characters
    // from its start: its start tag, and just past its end tag.
    QMap<QString, std::pair<qint64, qint64>> dynamicSpans;
};

struct Form {
    FormWidget panel;
    std::vector<FormWidget> children;         // the panel's direct children, in file order
    QMap<QString, QString> customWidgetBase;  // custom widget class -> the class it extends
    QStringList tabStops;                     // keyboard focus order
};

// Reads the form's panel and its direct children; false with the reason
// when the text is not a form the run-time can make (version 4 or later).
bool readForm(const QByteArray& text, Form* form, QString* why);

}  // namespace kovra610::runtime
