#include "ringslide.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

RingSlide::RingSlide(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

void RingSlide::setItems(const QStringList& captions, const std::vector<int>& values) {
    captions_ = captions;
    values_ = values;
    while (captions_.size() < static_cast<qsizetype>(values_.size())) captions_.append(QString());
    current_ = values_.empty() ? -1 : 0;
    updateGeometry();
    update();
}

QString RingSlide::caption(int index) const {
    if (index < 0 || index >= captions_.size()) return {};
    return captions_[index];
}

int RingSlide::itemValue(int index) const {
    if (index < 0 || index >= count()) return 0;
    return values_[static_cast<std::size_t>(index)];
}

void RingSlide::setCurrentIndex(int index) {
    if (index < 0 || index >= count() || index == current_) return;
    current_ = index;
    selectionChanged();
}

void RingSlide::selectionChanged() {
    update();
    if (QAccessible::isActive() && current_ >= 0) {
        QAccessibleEvent event(this, QAccessible::Selection);
        event.setChild(current_);
        QAccessible::updateAccessibility(&event);
    }
}

int RingSlide::indexOfValue(int value) const {
    const auto it = std::find(values_.begin(), values_.end(), value);
    return it == values_.end() ? -1 : static_cast<int>(it - values_.begin());
}

void RingSlide::operatorSelect(int index, bool force) {
    if (index < 0 || index >= count()) return;
    const bool changed = index != current_;
    current_ = index;
    if (changed) selectionChanged();
    if (changed || force) emit selectedByOperator(index);
}

int RingSlide::rowAt(int y) const {
    if (count() == 0) return -1;
    const int row = (y - kMargin) / kRowHeight;
    return std::clamp(row, 0, count() - 1);
}

QRect RingSlide::rowRect(int index) const {
    return {0, kMargin + index * kRowHeight, width(), kRowHeight};
}

QSize RingSlide::sizeHint() const {
    int widest = 0;
    for (const auto& c : captions_) widest = std::max(widest, fontMetrics().horizontalAdvance(c));
    return {kTrackWidth + 4 + widest, kRowHeight * std::max(count(), 1) + 2 * kMargin};
}

void RingSlide::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int n = count();
    if (n == 0) return;
    const int trackX = kTrackWidth / 2 - 2;
    const int top = kMargin + kRowHeight / 2;
    const int bottom = kMargin + (n - 1) * kRowHeight + kRowHeight / 2;

    // Track: a sunken groove with a tick per item.
    p.setPen(QPen(palette().color(QPalette::Shadow), 1));
    p.setBrush(palette().color(QPalette::Dark));
    p.drawRoundedRect(QRectF(trackX, top - 3, 4, bottom - top + 6), 2, 2);
    for (int i = 0; i < n; ++i) {
        const int y = kMargin + i * kRowHeight + kRowHeight / 2;
        p.drawLine(trackX - 4, y, trackX - 1, y);
    }

    // Thumb on the selected row.
    if (current_ >= 0) {
        const int y = kMargin + current_ * kRowHeight + kRowHeight / 2;
        p.setPen(QPen(palette().color(QPalette::Shadow), 1));
        p.setBrush(hasFocus() ? palette().color(QPalette::Highlight)
                              : palette().color(QPalette::Button));
        p.drawRoundedRect(QRectF(trackX - 5, y - 5, 14, 10), 2, 2);
    }

    // Captions, the selected one in bold.
    for (int i = 0; i < n; ++i) {
        QFont f = font();
        f.setBold(i == current_);
        p.setFont(f);
        p.setPen(palette().color(QPalette::WindowText));
        const QRect r(kTrackWidth + 2, kMargin + i * kRowHeight, width() - kTrackWidth - 2,
                      kRowHeight);
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, captions_[i]);
    }
}

void RingSlide::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || count() == 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressIndex_ = current_;
    dragging_ = true;
    const int row = rowAt(static_cast<int>(event->position().y()));
    if (row != current_) {
        current_ = row;
        update();
    }
}

void RingSlide::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    const int row = rowAt(static_cast<int>(event->position().y()));
    if (row != current_) {
        current_ = row;
        update();
    }
}

void RingSlide::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) return;
    dragging_ = false;
    if (current_ != pressIndex_) selectionChanged();
    // One commit per press-drag-release, and only when the item changed.
    if (current_ != pressIndex_) emit selectedByOperator(current_);
}

void RingSlide::keyPressEvent(QKeyEvent* event) {
    const int n = count();
    if (n == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    int target = current_;
    switch (event->key()) {
        case Qt::Key_Up:
            target = current_ - 1;
            break;
        case Qt::Key_Down:
            target = current_ + 1;
            break;
        case Qt::Key_Home:
            target = 0;
            break;
        case Qt::Key_End:
            target = n - 1;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    operatorSelect(std::clamp(target, 0, n - 1));
}
