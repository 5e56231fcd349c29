// LED: a round lamp filling the smaller of the widget's width and height.
// Value 0 (dark) or 1 (lit in its on colour). While busy, the lamp gets an
// amber rim and blinks between its own look and amber every 300 ms; the blink
// pauses while the run-time's timer callbacks are suspended.
#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>
#include <functional>

class Led : public QWidget {
    Q_OBJECT

public:
    static constexpr int kBlinkMs = 300;

    explicit Led(QWidget* parent = nullptr);

    int value() const { return on_ ? 1 : 0; }
    void setValue(int value);
    QColor onColor() const { return onColor_; }
    void setOnColor(const QColor& color);

    bool busy() const { return busy_; }
    void setBusy(bool busy);
    // Blink state while busy: true while the lamp shows amber.
    bool blinkPhase() const { return blinkPhase_; }
    // Decides whether a blink step may run now (the run-time's suspension).
    void setBlinkGate(std::function<bool()> mayBlink) { mayBlink_ = std::move(mayBlink); }

    QSize sizeHint() const override { return {20, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void blinkStep();

    bool on_ = false;
    bool busy_ = false;
    bool blinkPhase_ = false;
    QColor onColor_{0x00, 0xE0, 0x00};
    QTimer blink_;
    std::function<bool()> mayBlink_;
};
