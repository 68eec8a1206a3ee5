#include "KitAccessible.h"

#include "HoverButton.h"
#include "Logo.h"
#include "ProductMark.h"
#include "ProgressLine.h"
#include "Segmented.h"
#include "Switches.h"
#include "Tag.h"

#include <QAccessibleWidget>
#include <QLabel>

#include <algorithm>
#include <cmath>

namespace Hub::Kit {

namespace {

// A button read as one thing: the texts inside it are its name or its
// description already, so they are not offered again as children.
class WholeButtonAccessible : public QAccessibleWidget {
public:
    WholeButtonAccessible(QAbstractButton* button, QAccessible::Role role)
        : QAccessibleWidget(button, role)
    {
    }

    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }

    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty())
            return button()->text();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (button()->isCheckable()) {
            s.checkable = true;
            s.checked = button()->isChecked();
        }
        return s;
    }

    QStringList actionNames() const override
    {
        if (!button()->isEnabled())
            return {};
        return button()->isCheckable() ? QStringList{toggleAction(), pressAction()} : QStringList{pressAction()};
    }

    void doAction(const QString& action) override
    {
        if (button()->isEnabled() && (action == toggleAction() || action == pressAction()))
            button()->click();
    }
};

class SwitchAccessible : public WholeButtonAccessible {
public:
    explicit SwitchAccessible(SwitchButton* button)
        : WholeButtonAccessible(button, QAccessible::CheckBox)
    {
        addControllingSignal(QStringLiteral("toggled(bool)"));
    }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Description || !button()->accessibleDescription().isEmpty())
            return WholeButtonAccessible::text(t);
        // The detail line: every text of the label but the title.
        QStringList details;
        const QWidget* label = static_cast<SwitchButton*>(button())->label();
        QList<const QLabel*> labels;
        if (auto* single = qobject_cast<const QLabel*>(label))
            labels.append(single);
        for (const QLabel* inner : label->findChildren<QLabel*>())
            labels.append(inner);
        for (const QLabel* l : labels)
            if (!l->isHidden() && !l->text().isEmpty() && l->text() != button()->text())
                details.append(l->text());
        return details.join(u' ');
    }
};

class ProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressAccessible(ProgressLine* line)
        : QAccessibleWidget(line, QAccessible::ProgressBar)
    {
    }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QVariant currentValue() const override
    {
        const qreal v = static_cast<ProgressLine*>(widget())->value();
        return std::isfinite(v) ? int(std::lround(std::clamp(v, 0.0, 1.0) * 100)) : 0;
    }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return QStringLiteral("%1%").arg(currentValue().toInt());
        return QAccessibleWidget::text(t);
    }
};

class TagAccessible : public QAccessibleWidget {
public:
    explicit TagAccessible(Tag* tag)
        : QAccessibleWidget(tag, QAccessible::StaticText)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<Tag*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

// A picture beside the text that says the same: nothing to read.
class DecorationAccessible : public QAccessibleWidget {
public:
    explicit DecorationAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::Graphic)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = true;
        return s;
    }
};

QAccessibleInterface* kitFactory(const QString&, QObject* object)
{
    if (auto* button = qobject_cast<SwitchButton*>(object))
        return new SwitchAccessible(button);
    if (auto* button = qobject_cast<HoverButton*>(object))
        return new WholeButtonAccessible(button, QAccessible::Button);
    if (auto* mark = qobject_cast<ProductMark*>(object))
        return new WholeButtonAccessible(mark, QAccessible::Graphic);
    if (auto* segmented = qobject_cast<Segmented*>(object))
        return new QAccessibleWidget(segmented, QAccessible::Grouping);
    if (auto* segment = qobject_cast<QAbstractButton*>(object); segment && qobject_cast<Segmented*>(segment->parent()))
        return new WholeButtonAccessible(segment, QAccessible::RadioButton);
    if (auto* line = qobject_cast<ProgressLine*>(object))
        return new ProgressAccessible(line);
    if (auto* tag = qobject_cast<Tag*>(object))
        return new TagAccessible(tag);
    if (auto* logo = qobject_cast<Logo*>(object))
        return new DecorationAccessible(logo);
    return nullptr;
}

} // namespace

void installKitAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(kitFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace Hub::Kit
