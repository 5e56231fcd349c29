#include "led.h"

#include <QPainter>
#include <QRadialGradient>
#include <algorithm>

namespace {
const QColor kBusyAmber(0xFF, 0xB0, 0x00);
}

Led::Led(QWidget* parent) : QWidget(parent) {
    blink_.setInterval(kBlinkMs);
    connect(&blink_, &QTimer::timeout, this, [this] { blinkStep(); });
}

void Led::setValue(int value) {
    const bool on = value != 0;
    if (on == on_) return;
    on_ = on;
    update();
}

void Led::setOnColor(const QColor& color) {
    if (!color.isValid()) return;
    onColor_ = color;
    update();
}

void Led::setBusy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    blinkPhase_ = busy;  // amber at once, so the busy look shows on the next paint
    if (busy)
        blink_.start();
    else
        blink_.stop();
    update();
}

void Led::blinkStep() {
    if (!busy_) return;
    if (mayBlink_ && !mayBlink_()) return;
    blinkPhase_ = !blinkPhase_;
    update();
}

void Led::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int d = std::max(std::min(width(), height()) - 2, 2);
    const QRectF lamp((width() - d) / 2.0, (height() - d) / 2.0, d, d);

    QColor body = on_ ? onColor_ : onColor_.darker(400);
    if (busy_ && blinkPhase_) body = kBusyAmber;
    QRadialGradient shine(lamp.center() - QPointF(d / 6.0, d / 6.0), d / 1.6);
    shine.setColorAt(0, body.lighter(on_ || blinkPhase_ ? 160 : 130));
    shine.setColorAt(1, body);
    p.setBrush(shine);
    p.setPen(QPen(busy_ ? kBusyAmber : palette().color(QPalette::Shadow), busy_ ? 2.0 : 1.0));
    p.drawEllipse(lamp.adjusted(1, 1, -1, -1));
}
