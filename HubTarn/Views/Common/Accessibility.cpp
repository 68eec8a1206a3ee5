#include "Views/Common/Accessibility.h"

#include "Views/Frame/TopBar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

namespace Hub::Views {

namespace {

const char* const kHeading = "hubHeading";

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

QAccessibleInterface* factory(const QString&, QObject* object)
{
    if (auto* tab = qobject_cast<TabButton*>(object))
        return new TabAccessible(tab);
    if (auto* label = qobject_cast<QLabel*>(object); label && label->property(kHeading).toBool())
        return new HeadingAccessible(label);
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

void notifySelection(QWidget* tab)
{
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.selected = true;
    QAccessibleStateChangeEvent event(tab, changed);
    QAccessible::updateAccessibility(&event);
}

void markHeading(QLabel* label)
{
    installViewAccessibility();
    // Before anything asks: the interface is made once per object and kept.
    label->setProperty(kHeading, true);
}

} // namespace Hub::Views
