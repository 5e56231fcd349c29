// Reads a panel resource (Qt Designer XML) into a plain description of the
// panel and its controls, as written in the file, without creating widgets.
#pragma once

#include <QMap>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace panel_resource {

struct UirControl {
    QString widgetClass;
    QString name;
    QMap<QString, QVariant> properties;  // native properties
    QMap<QString, QVariant> dynamic;     // properties written with stdset="0"
    QStringList items;                   // combo box items, in order
    int childWidgets = 0;                // widgets nested inside this one

    QRect geometry() const { return properties.value("geometry").toRect(); }
    bool hasDynamic(const char* key) const { return dynamic.contains(key); }
    QVariant dyn(const char* key) const { return dynamic.value(key); }
};

struct UirPanel {
    UirControl panel;                         // the top-level widget
    std::vector<UirControl> controls;         // its direct children, in file order
    QMap<QString, QString> customWidgetBase;  // custom class -> class it extends
    QStringList tabStops;                     // keyboard focus order
};

// Returns false with a message when the file cannot be read or is not a form.
bool readUir(const QString& path, UirPanel* out, QString* error);

}  // namespace panel_resource
