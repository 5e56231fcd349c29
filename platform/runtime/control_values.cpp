// Control values and attributes. Each control keeps its own data type; the
// typed operations convert to and from it. Values written here raise no event.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "commit_widgets.h"
#include "control_kinds.h"
#include "led.h"
#include "runtime_internal.h"

using namespace kovra610::runtime::detail;

namespace {

std::string integerText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
}

int readValue(const Control& c, Value* out) {
    return controlKind(c.kind).get(c, out);
}

int readNumber(int panel, int control, double* out) {
    const Control* c = findControl(panel, control);
    if (!c) return findPanel(panel) ? UIE_INVALID_CONTROL : UIE_INVALID_PANEL;
    Value v;
    if (int err = readValue(*c, &v); err < 0) return err;
    if (!v.isText) {
        *out = v.number;
        return UIE_NO_ERROR;
    }
    return parseNumber(v.text, out) ? UIE_NO_ERROR : UIE_INVALID_TYPE;
}

template <typename T>
int readWhole(int panel, int control, T* out) {
    if (!out) return UIE_INVALID_TYPE;
    double v = 0;
    if (int err = readNumber(panel, control, &v); err < 0) return err;
    v = std::round(v);
    if (v < static_cast<double>(std::numeric_limits<T>::min()) ||
        v > static_cast<double>(std::numeric_limits<T>::max()))
        return UIE_OUT_OF_RANGE;
    *out = static_cast<T>(v);
    return UIE_NO_ERROR;
}

int writeNumber(int panel, int control, double value) {
    Control* c = findControl(panel, control);
    if (!c) return findPanel(panel) ? UIE_INVALID_CONTROL : UIE_INVALID_PANEL;
    return setControlNumber(*c, value);
}

}  // namespace

namespace kovra610::runtime::detail {

std::string numericText(const Control& c) {
    if (auto* d = qobject_cast<QDoubleSpinBox*>(c.widget)) {
        // As the field shows it, with a decimal point whatever the locale
        // (the C library's formatting would follow it).
        std::string text = QString::number(d->value(), 'f', d->decimals()).toStdString();
        const auto* level = dynamic_cast<const CommitDoubleSpin*>(d);
        const size_t point = text.find('.');
        if (level != nullptr && point != std::string::npos) {
            const size_t shown = static_cast<size_t>(level->shownDecimals());
            while (text.size() > point + 1 + shown && text.back() == '0') text.pop_back();
            if (text.back() == '.') text.pop_back();
        }
        return text;
    }
    Value v;
    readValue(c, &v);
    return integerText(v.number);
}

}  // namespace kovra610::runtime::detail

int GetCtrlVal(int panel, int control, double* value) {
    if (!value) return UIE_INVALID_TYPE;
    return readNumber(panel, control, value);
}

int GetCtrlVal(int panel, int control, unsigned int* value) {
    return readWhole(panel, control, value);
}

int GetCtrlVal(int panel, int control, int* value) {
    return readWhole(panel, control, value);
}

int GetCtrlVal(int panel, int control, std::string* value) {
    if (!value) return UIE_INVALID_TYPE;
    const Control* c = findControl(panel, control);
    if (!c) return findPanel(panel) ? UIE_INVALID_CONTROL : UIE_INVALID_PANEL;
    Value v;
    if (int err = readValue(*c, &v); err < 0) return err;
    *value = v.isText ? v.text.toStdString() : numericText(*c);
    return UIE_NO_ERROR;
}

int GetCtrlVal(int panel, int control, char* buf, std::size_t size) {
    if (!buf || size == 0) return UIE_OUT_OF_RANGE;
    std::string text;
    const int err = GetCtrlVal(panel, control, &text);
    if (err < 0) {
        buf[0] = '\0';
        return err;
    }
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return UIE_NO_ERROR;
}

int SetCtrlVal(int panel, int control, double value) {
    return writeNumber(panel, control, value);
}

int SetCtrlVal(int panel, int control, unsigned int value) {
    return writeNumber(panel, control, static_cast<double>(value));
}

int SetCtrlVal(int panel, int control, int value) {
    return writeNumber(panel, control, static_cast<double>(value));
}

int SetCtrlVal(int panel, int control, const char* value) {
    if (!value) return UIE_INVALID_TYPE;
    Control* c = findControl(panel, control);
    if (!c) return findPanel(panel) ? UIE_INVALID_CONTROL : UIE_INVALID_PANEL;
    return controlKind(c->kind).setText(*c, QString::fromUtf8(value));
}

int SetCtrlVal(int panel, int control, const std::string& value) {
    return SetCtrlVal(panel, control, value.c_str());
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    Control* c = findControl(panel, control);
    if (!c) return findPanel(panel) ? UIE_INVALID_CONTROL : UIE_INVALID_PANEL;
    if (attribute == ATTR_LED_BUSY && c->kind == Kind::Led) {
        c->busy = value != 0 ? 1 : 0;
        auto* led = qobject_cast<Led*>(c->widget);
        led->setBusy(c->busy != 0);
        showNow(led);
        return UIE_NO_ERROR;
    }
    return UIE_INVALID_TYPE;
}
