#include "KitAccessible.h"

#include "HoverButton.h"
#include "Control.h"
#include "Logo.h"
#include "PlainMenu.h"
#include "ProductMark.h"
#include "ProgressLine.h"
#include "Segmented.h"
#include "Switches.h"
#include "Tag.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QLabel>
#include <QPointer>

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
        return static_cast<ProgressLine*>(widget())->percent();
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

// An item of a PlainMenu as Qt's own menu item reads it, but named as a
// screen reader should say it: "Product page", not "Product page ↗".
class PlainMenuItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    PlainMenuItemAccessible(PlainMenu* menu, QAction* action)
        : m_menu(menu)
        , m_action(action)
    {
    }

    bool isValid() const override { return m_menu && m_action; }
    QObject* object() const override { return m_action; }
    QWindow* window() const override
    {
        QAccessibleInterface* menu = parent();
        return menu ? menu->window() : nullptr;
    }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_menu.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !m_action)
            return {};
        // A menu text's "&&" is one "&"; a single "&" marks no letter here.
        QString name = m_action->text();
        return spokenTitle(name.replace(QStringLiteral("&&"), QStringLiteral("&")));
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = m_menu->actionGeometry(m_action);
        return QRect(m_menu->mapToGlobal(r.topLeft()), r.size());
    }

    QAccessible::Role role() const override
    {
        return m_action && m_action->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid())
            return s;
        s.invisible = !m_menu->isVisible() || !m_action->isVisible();
        s.disabled = !m_action->isEnabled();
        s.focusable = !m_action->isSeparator();
        s.focused = m_menu->activeAction() == m_action;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        if (!m_action || m_action->isSeparator() || !m_action->isEnabled())
            return {};
        return {pressAction()};
    }
    void doAction(const QString& name) override
    {
        if (name != pressAction() || actionNames().isEmpty())
            return;
        m_action->trigger();
        m_menu->hide();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<PlainMenu> m_menu;
    QPointer<QAction> m_action;
};

QAccessibleInterface* kitFactory(const QString&, QObject* object)
{
    if (auto* action = qobject_cast<QAction*>(object))
        if (auto* menu = qobject_cast<PlainMenu*>(action->parent()))
            return new PlainMenuItemAccessible(menu, action);
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
