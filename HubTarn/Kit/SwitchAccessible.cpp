#include "SwitchAccessible.h"

#include "Switches.h"

#include <QAccessibleWidget>

namespace Hub::Kit {

namespace {

class SwitchAccessible : public QAccessibleWidget {
public:
    explicit SwitchAccessible(SwitchButton* button)
        : QAccessibleWidget(button, QAccessible::CheckBox)
    {
        addControllingSignal(QStringLiteral("toggled(bool)"));
    }

    SwitchButton* button() const { return static_cast<SwitchButton*>(widget()); }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty())
            return button()->text();
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override
    {
        if (!button()->isEnabled())
            return {};
        return {toggleAction(), pressAction()};
    }

    void doAction(const QString& action) override
    {
        if (button()->isEnabled() && (action == toggleAction() || action == pressAction()))
            button()->click();
    }
};

QAccessibleInterface* switchFactory(const QString&, QObject* object)
{
    if (auto* button = qobject_cast<SwitchButton*>(object))
        return new SwitchAccessible(button);
    return nullptr;
}

} // namespace

void installSwitchAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(switchFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace Hub::Kit
