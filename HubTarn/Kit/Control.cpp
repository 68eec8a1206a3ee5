#include "Control.h"

#include "Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QKeySequence>
#include <QPointer>

namespace Hub::Kit {

bool keyboardFocus(const QWidget* widget)
{
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

namespace {

class FocusRingRule : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::MouseButtonPress || !watched->isWidgetType())
            return false;
        QWidget* window = static_cast<QWidget*>(watched)->window();
        if (!window->testAttribute(Qt::WA_KeyboardFocusChange))
            return false;
        window->setAttribute(Qt::WA_KeyboardFocusChange, false);
        // The focus stays where it is; only its ring goes.
        if (QWidget* focused = window->focusWidget()) {
            focused->update();
            if (QWidget* parent = focused->parentWidget())
                parent->update();
        }
        return false;
    }
};

} // namespace

void installFocusRingRule()
{
    static QPointer<FocusRingRule> rule;
    if (rule || !qApp)
        return;
    rule = new FocusRingRule(qApp);
    qApp->installEventFilter(rule);
}

qreal stateOpacity(const QAbstractButton* button)
{
    if (!button->isEnabled())
        return Theme::disabledOpacity;
    if (button->isDown())
        return Theme::pressedOpacity;
    return 1;
}

void setupButton(QAbstractButton* button)
{
    installFocusRingRule();
    button->setFocusPolicy(Qt::TabFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setAttribute(Qt::WA_Hover);
}

QString spokenTitle(const QString& title)
{
    static const QString kArrow = QStringLiteral(" \u2197");
    return title.endsWith(kArrow) ? title.chopped(kArrow.size()) : title;
}

void setLiteralText(QAbstractButton* button, const QString& text)
{
    const bool namedByText =
        button->accessibleName().isEmpty() || button->accessibleName() == spokenTitle(button->text());
    button->setText(text);
    // setText made the mnemonic the button's shortcut; kit buttons have none.
    button->setShortcut(QKeySequence());
    if (namedByText)
        button->setAccessibleName(spokenTitle(text));
}

} // namespace Hub::Kit
