// Control values and attributes. Each control keeps its own data type; the
// typed operations convert to and from it. Values written here raise no event.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "commit_widgets.h"
#include "led.h"
#include "ringslide.h"
#include "runtime_internal.h"

using namespace kovra610::runtime::detail;

namespace {

struct Value {
    bool isText = false;
    double number = 0;
    QString text;
};

std::string integerText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
}

int ringIndexValue(const Control& c, int index) {
    if (index < 0 || index >= static_cast<int>(c.ringValues.size())) return 0;
    return c.ringValues[static_cast<std::size_t>(index)];
}

int readValue(const Control& c, Value* out) {
    QWidget* w = c.widget;
    switch (c.kind) {
        case Kind::Numeric:
            if (auto* d = qobject_cast<QDoubleSpinBox*>(w))
                out->number = d->value();
            else
                out->number = qobject_cast<QSpinBox*>(w)->value();
            return UIE_NO_ERROR;
        case Kind::Command:
            out->number = 0;
            return UIE_NO_ERROR;
        case Kind::Ring:
            out->number = ringIndexValue(c, qobject_cast<QComboBox*>(w)->currentIndex());
            return UIE_NO_ERROR;
        case Kind::RingSlide:
            out->number = qobject_cast<RingSlide*>(w)->value();
            return UIE_NO_ERROR;
        case Kind::Led:
            out->number = qobject_cast<Led*>(w)->value();
            return UIE_NO_ERROR;
        case Kind::String:
            out->isText = true;
            out->text = qobject_cast<QLineEdit*>(w)->text();
            return UIE_NO_ERROR;
        case Kind::TextBox:
            out->isText = true;
            out->text = qobject_cast<QPlainTextEdit*>(w)->toPlainText();
            return UIE_NO_ERROR;
        case Kind::TextMsg:
            out->isText = true;
            out->text = qobject_cast<QLabel*>(w)->text();
            return UIE_NO_ERROR;
        case Kind::Picture:
        case Kind::Splitter:
            break;
    }
    return UIE_INVALID_TYPE;
}

bool parseNumber(const QString& text, double* out) {
    bool ok = false;
    const QString t = text.trimmed();
    double v = t.toDouble(&ok);
    if (!ok) {
        const qlonglong n = t.toLongLong(&ok, 0);  // 0x.. hexadecimal too
        v = static_cast<double>(n);
    }
    if (!ok || !std::isfinite(v)) return false;
    *out = v;
    return true;
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

void showNow(QWidget* w) {
    if (w->isVisible())
        w->repaint();
    else
        w->update();
}

int writeNumber(int panel, int control, double value) {
    Control* c = findControl(panel, control);
    if (!c) return findPanel(panel) ? UIE_INVALID_CONTROL : UIE_INVALID_PANEL;
    if (!std::isfinite(value)) return UIE_OUT_OF_RANGE;
    QWidget* w = c->widget;
    const QSignalBlocker block(w);
    switch (c->kind) {
        case Kind::Numeric: {
            // Outside the range, the nearest end of the range is shown.
            if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
                d->setValue(value);
            } else {
                auto* s = qobject_cast<QSpinBox*>(w);
                const double v = std::clamp(std::round(value), static_cast<double>(s->minimum()),
                                            static_cast<double>(s->maximum()));
                s->setValue(static_cast<int>(v));
            }
            dynamic_cast<NumericEntry*>(w)->clearEdit();
            return UIE_NO_ERROR;
        }
        case Kind::Ring:
        case Kind::RingSlide: {
            // A ring only ever holds one of its listed values.
            if (value != std::floor(value)) return UIE_OUT_OF_RANGE;
            int index = -1;
            for (std::size_t i = 0; i < c->ringValues.size(); ++i) {
                if (c->ringValues[i] == value) {
                    index = static_cast<int>(i);
                    break;
                }
            }
            if (index < 0) return UIE_OUT_OF_RANGE;
            if (auto* combo = qobject_cast<QComboBox*>(w))
                combo->setCurrentIndex(index);
            else
                qobject_cast<RingSlide*>(w)->setCurrentIndex(index);
            return UIE_NO_ERROR;
        }
        case Kind::Led:
            qobject_cast<Led*>(w)->setValue(value != 0 ? 1 : 0);
            showNow(w);
            return UIE_NO_ERROR;
        case Kind::String:
        case Kind::TextBox:
        case Kind::TextMsg: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.15g", value);
            return SetCtrlVal(panel, control, static_cast<const char*>(buf));
        }
        default:
            return UIE_INVALID_TYPE;
    }
}

}  // namespace

namespace kovra610::runtime::detail {

std::string numericText(const Control& c) {
    if (auto* d = qobject_cast<QDoubleSpinBox*>(c.widget)) {
        // As the field shows it, with a decimal point.
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.*f", d->decimals(), d->value());
        std::string text = buf;
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
    QWidget* w = c->widget;
    const QString text = QString::fromUtf8(value);
    switch (c->kind) {
        case Kind::String: {
            const QSignalBlocker block(w);
            auto* e = qobject_cast<QLineEdit*>(w);
            e->setText(text);
            e->setModified(false);
            return UIE_NO_ERROR;
        }
        case Kind::TextBox: {
            const QSignalBlocker block(w);
            auto* e = qobject_cast<QPlainTextEdit*>(w);
            e->setPlainText(text);
            e->document()->setModified(false);
            return UIE_NO_ERROR;
        }
        case Kind::TextMsg:
            qobject_cast<QLabel*>(w)->setText(text);
            return UIE_NO_ERROR;
        case Kind::Numeric:
        case Kind::Ring:
        case Kind::RingSlide:
        case Kind::Led: {
            double v = 0;
            if (!parseNumber(text, &v)) return UIE_INVALID_TYPE;
            return writeNumber(panel, control, v);
        }
        default:
            return UIE_INVALID_TYPE;
    }
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
