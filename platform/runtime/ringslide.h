// Ring slide: a vertical track on the left with the item captions to its
// right, one 16 px row per item (row 0 at the top). Clicking a caption or the
// track, dragging, or the Up/Down/Home/End keys select an item; the value is
// the listed value of the selected item, so it is always one of the listed
// values.
#pragma once

#include <QStringList>
#include <QWidget>
#include <vector>

class RingSlide : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRowHeight = 16;
    static constexpr int kMargin = 3;
    static constexpr int kTrackWidth = 20;

    explicit RingSlide(QWidget* parent = nullptr);

    // Sets the items; captions and values pair up by position. Selects item 0.
    void setItems(const QStringList& captions, const std::vector<int>& values);
    int count() const { return static_cast<int>(values_.size()); }
    QString caption(int index) const;
    int itemValue(int index) const;
    const std::vector<int>& values() const { return values_; }

    int currentIndex() const { return current_; }
    // Program selection: no signal.
    void setCurrentIndex(int index);
    int value() const { return itemValue(current_); }
    int indexOfValue(int value) const;

    // Selection made by the operator: emits selectedByOperator when the item
    // changes, or always when force is set.
    void operatorSelect(int index, bool force = false);

    // Row under a point of the widget, clamped to the items.
    int rowAt(int y) const;
    QRect rowRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void selectedByOperator(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void selectionChanged();

    QStringList captions_;
    std::vector<int> values_;
    int current_ = -1;
    int pressIndex_ = -1;
    bool dragging_ = false;
};
