#include "codec/register_fields.h"

#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cctype>

#include "platform/runtime/panel_file.h"
#include "platform/runtime/panel_runtime.h"
#include "platform/text/text_lines.h"

namespace {

using kovra610::runtime::FormWidget;

RegisterField fieldOf(const FormWidget& w) {
    RegisterField f;
    f.name = w.name.toStdString();
    f.control = w.props.value("ctrlId").toInt();
    f.array = w.props.value("ctrlArray").toString().toStdString();
    f.item = w.props.value("ctrlArrayIndex").toInt();
    for (const QString& v : w.props.value("ringValues").toString().split(',', Qt::SkipEmptyParts))
        f.values.push_back(v.trimmed().toInt());
    // Ring slides carry their captions as a property, rings as their items.
    const QStringList captions =
        w.props.contains("ringItems") ? w.props.value("ringItems").toStringList() : w.items;
    for (const QString& c : captions) f.captions.push_back(c.toStdString());
    return f;
}

}  // namespace

bool read_register_fields(const std::string& path, PanelFields* out, std::string* why) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        *why = "cannot read the panel file " + path;
        return false;
    }
    kovra610::runtime::Form form;
    QString reason;
    if (!kovra610::runtime::readForm(file.readAll(), &form, &reason)) {
        *why = "the panel file " + path + ": " + reason.toStdString();
        return false;
    }
    for (const FormWidget& w : form.children) {
        if (w.props.value("callback").toString() == QLatin1String("write_crtl_registers"))
            out->fields.push_back(fieldOf(w));
        else if (w.name == QLatin1String("MODECHSEL"))
            out->channelSelection = fieldOf(w);
    }
    return true;
}

std::string panel_file_beside_program(const char* name) {
    char program[4096];
    const ssize_t n = readlink("/proc/self/exe", program, sizeof program - 1);
    if (n <= 0) return name;
    std::string folder(program, static_cast<std::size_t>(n));
    folder.erase(folder.find_last_of('/') + 1);
    return folder + name;
}

const RegisterField* PanelFields::find(const std::string& name) const {
    auto same = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::toupper(static_cast<unsigned char>(x)) ==
                          std::toupper(static_cast<unsigned char>(y));
               });
    };
    for (const RegisterField& f : fields) {
        if (same(f.name, name)) return &f;
    }
    return nullptr;
}

std::optional<int> RegisterField::valueNamed(const std::string& text) const {
    const std::optional<unsigned> number = kovra610::text::parseNumber(text, 0xFFFF);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const bool byCaption = i < captions.size() && kovra610::runtime::trimmed(captions[i]) ==
                                                          kovra610::runtime::trimmed(text);
        if (byCaption || (number && static_cast<int>(*number) == values[i])) return values[i];
    }
    return std::nullopt;
}

std::optional<std::string> RegisterField::captionOf(int value) const {
    for (std::size_t i = 0; i < values.size() && i < captions.size(); ++i) {
        if (values[i] == value) return kovra610::runtime::trimmed(captions[i]);
    }
    return std::nullopt;
}
