// What a screen reader sees of the run-time's own widgets: a ring slide is a
// list whose items are its captions (each selectable and pressable), an LED
// an indicator whose value is 0 or 1, and a numeric a spin box whose
// actions and value are entered as the keyboard enters them.
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <map>

#include "commit_widgets.h"
#include "led.h"
#include "ringslide.h"

using kovra610::runtime::detail::NumericEntry;
using kovra610::runtime::detail::plainNumberText;

namespace {

class RingSlideItem : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    RingSlideItem(RingSlide* slide, int index) : slide_(slide), index_(index) {}

    bool isValid() const override { return slide_ && index_ < slide_->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return slide_ ? slide_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return slide_ ? QAccessible::queryAccessibleInterface(slide_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        switch (t) {
            case QAccessible::Name:
                return slide_->caption(index_);
            case QAccessible::Value:
                return QString::number(slide_->itemValue(index_));
            default:
                return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid()) return {};
        const QRect r = slide_->rowRect(index_);
        return QRect(slide_->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.selected = slide_->currentIndex() == index_;
        s.focusable = true;
        s.invisible = !slide_->isVisible();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    QStringList actionNames() const override { return {pressAction(), setFocusAction()}; }
    void doAction(const QString& name) override {
        if (!isValid()) return;
        if (name == pressAction()) slide_->operatorSelect(index_);
        if (name == setFocusAction()) slide_->setFocus(Qt::OtherFocusReason);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<RingSlide> slide_;
    int index_;
};

class RingSlideAccessible : public QAccessibleWidget {
public:
    explicit RingSlideAccessible(RingSlide* slide) : QAccessibleWidget(slide, QAccessible::List) {}
    ~RingSlideAccessible() override {
        for (const auto& [index, id] : items_) QAccessible::deleteAccessibleInterface(id);
    }

    RingSlide* slide() const { return static_cast<RingSlide*>(widget()); }

    int childCount() const override { return slide()->count(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= slide()->count()) return nullptr;
        auto it = items_.find(index);
        if (it != items_.end()) {
            if (QAccessibleInterface* iface = QAccessible::accessibleInterface(it->second))
                return iface;
        }
        auto* item = new RingSlideItem(slide(), index);
        items_[index] = QAccessible::registerAccessibleInterface(item);
        return item;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (const auto& [index, id] : items_) {
            if (QAccessible::accessibleInterface(id) == child) return index;
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint p = slide()->mapFromGlobal(QPoint(x, y));
        if (!slide()->rect().contains(p)) return nullptr;
        return child(slide()->rowAt(p.y()));
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return slide()->caption(slide()->currentIndex());
        return QAccessibleWidget::text(t);
    }

private:
    mutable std::map<int, QAccessible::Id> items_;
};

class LedAccessible : public QAccessibleWidget {
public:
    explicit LedAccessible(Led* led) : QAccessibleWidget(led, QAccessible::Indicator) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return QString::number(static_cast<Led*>(widget())->value());
        return QAccessibleWidget::text(t);
    }
};

// Increase and Decrease step the field as the arrow keys do (its own step,
// committed); a value set is typed and committed as with Enter, so it is
// judged the same way. It is typed without the locale's separators (plain
// digits, a decimal point), which every field reads in every locale: the
// value set is the value committed.
class NumericAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit NumericAccessible(QAbstractSpinBox* spin)
        : QAccessibleWidget(spin, QAccessible::SpinBox) {}

    QAbstractSpinBox* spin() const { return static_cast<QAbstractSpinBox*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return spin()->text();
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return spin()->property("value"); }
    void setCurrentValue(const QVariant& value) override {
        auto* entry = dynamic_cast<NumericEntry*>(spin());
        entry->typeText(plainNumberText(value.toDouble()));
        entry->enterTyped();
    }
    QVariant maximumValue() const override { return spin()->property("maximum"); }
    QVariant minimumValue() const override { return spin()->property("minimum"); }
    QVariant minimumStepSize() const override { return spin()->property("singleStep"); }

    QStringList actionNames() const override {
        return QStringList{increaseAction(), decreaseAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (!spin()->isEnabled() || spin()->isReadOnly()) return;
        if (name == increaseAction())
            spin()->stepUp();
        else if (name == decreaseAction())
            spin()->stepDown();
        else
            QAccessibleWidget::doAction(name);
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        if (name == increaseAction()) return {QStringLiteral("Up")};
        if (name == decreaseAction()) return {QStringLiteral("Down")};
        return QAccessibleWidget::keyBindingsForAction(name);
    }
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (className == QLatin1String("RingSlide")) {
        if (auto* slide = qobject_cast<RingSlide*>(object)) return new RingSlideAccessible(slide);
    }
    if (className == QLatin1String("QSpinBox") || className == QLatin1String("QDoubleSpinBox")) {
        auto* spin = qobject_cast<QAbstractSpinBox*>(object);
        if (spin && dynamic_cast<NumericEntry*>(object)) return new NumericAccessible(spin);
    }
    if (className == QLatin1String("Led")) {
        if (auto* led = qobject_cast<Led*>(object)) return new LedAccessible(led);
    }
    return nullptr;
}

}  // namespace

namespace kovra610::runtime::detail {
void installAccessibility() {
    QAccessible::installFactory(factory);
}
}  // namespace kovra610::runtime::detail
