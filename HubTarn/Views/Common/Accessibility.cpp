#include "Views/Common/Accessibility.h"

#include "Views/Frame/AccountMenu.h"
#include "Views/Frame/TopBar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

namespace Hub::Views {

namespace {

const char* const kHeading = "hubHeading";
const char* const kReadAsOne = "hubReadAsOne";

class TabAccessible : public QAccessibleWidget {
public:
    explicit TabAccessible(TabButton* tab)
        : QAccessibleWidget(tab, QAccessible::PageTab)
    {
    }

    TabButton* tab() const { return static_cast<TabButton*>(widget()); }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = tab()->selected();
        return s;
    }

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString& action) override
    {
        if (action == pressAction() && tab()->isEnabled())
            tab()->click();
    }
};

// A container read by a fixed name in its role.
class NamedAccessible : public QAccessibleWidget {
public:
    NamedAccessible(QWidget* widget, QAccessible::Role role, QString name)
        : QAccessibleWidget(widget, role)
        , m_name(std::move(name))
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return m_name;
        return QAccessibleWidget::text(t);
    }

private:
    QString m_name;
};

class AccountButtonAccessible : public QAccessibleWidget {
public:
    explicit AccountButtonAccessible(AccountButton* button)
        : QAccessibleWidget(button, QAccessible::Button)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.hasPopup = true;
        s.expandable = true;
        s.expanded = static_cast<AccountButton*>(widget())->open();
        return s;
    }

    QStringList actionNames() const override { return {pressAction(), showMenuAction()}; }

    void doAction(const QString& action) override
    {
        if ((action == pressAction() || action == showMenuAction()) && widget()->isEnabled())
            static_cast<AccountButton*>(widget())->click();
    }
};

class MenuRowAccessible : public QAccessibleWidget {
public:
    explicit MenuRowAccessible(MenuRow* row)
        : QAccessibleWidget(row, QAccessible::MenuItem)
    {
    }

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString& action) override
    {
        if (action == pressAction() && widget()->isEnabled())
            static_cast<MenuRow*>(widget())->click();
    }
};

class HeadingAccessible : public QAccessibleWidget {
public:
    explicit HeadingAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::Heading)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        auto* label = static_cast<QLabel*>(widget());
        if (t == QAccessible::Name)
            return label->accessibleName().isEmpty() ? label->text() : label->accessibleName();
        return QAccessibleWidget::text(t);
    }
};

class ReadAsOneAccessible : public QAccessibleWidget {
public:
    explicit ReadAsOneAccessible(QWidget* line)
        : QAccessibleWidget(line, QAccessible::StaticText)
    {
    }

    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
};

QAccessibleInterface* factory(const QString&, QObject* object)
{
    if (auto* tab = qobject_cast<TabButton*>(object))
        return new TabAccessible(tab);
    if (auto* tabs = qobject_cast<Tabs*>(object))
        return new NamedAccessible(tabs, QAccessible::PageTabList, QStringLiteral("Tabs"));
    if (auto* button = qobject_cast<AccountButton*>(object))
        return new AccountButtonAccessible(button);
    if (auto* menu = qobject_cast<AccountMenu*>(object))
        return new NamedAccessible(menu, QAccessible::PopupMenu, QStringLiteral("Account"));
    if (auto* row = qobject_cast<MenuRow*>(object))
        return new MenuRowAccessible(row);
    if (auto* label = qobject_cast<QLabel*>(object); label && label->property(kHeading).toBool())
        return new HeadingAccessible(label);
    if (auto* widget = qobject_cast<QWidget*>(object); widget && widget->property(kReadAsOne).toBool())
        return new ReadAsOneAccessible(widget);
    return nullptr;
}

} // namespace

void installViewAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

void notifySelection(QWidget* tab, bool selected)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(tab, selected ? QAccessible::SelectionAdd : QAccessible::SelectionRemove);
    QAccessible::updateAccessibility(&event);
}

void markHeading(QLabel* label)
{
    installViewAccessibility();
    // Before anything asks: the interface is made once per object and kept.
    label->setProperty(kHeading, true);
}

void markReadAsOne(QWidget* line)
{
    installViewAccessibility();
    line->setProperty(kReadAsOne, true);
}

} // namespace Hub::Views
