#include "Control.h"

#include "Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPointer>
#include <QStyleHints>

namespace Hub::Kit {

bool keyboardFocus(const QWidget* widget)
{
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

namespace {

// The last mouse press anywhere: when it came (this process's clock) and
// its time stamp (the window system's clock, which double clicks use).
struct LastPress {
    QElapsedTimer since;
    quint64 stamp = 0;
};

LastPress& lastPress()
{
    static LastPress press;
    return press;
}

class FocusRingRule : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::MouseButtonPress || !watched->isWidgetType())
            return false;
        // A press travels up the widgets that ignore it: its first one counts.
        const quint64 stamp = static_cast<QMouseEvent*>(event)->timestamp();
        if (!lastPress().since.isValid() || lastPress().stamp != stamp) {
            lastPress().since.start();
            lastPress().stamp = stamp;
        }
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

namespace {

class SecondClickGuard : public QObject {
public:
    SecondClickGuard(QWidget* window, quint64 openedBy)
        : QObject(window)
        , m_window(window)
        , m_openedBy(openedBy)
    {
        setObjectName(QStringLiteral("secondClickGuard"));
        qApp->installEventFilter(this);
    }

    bool waiting() const { return !m_dropping && !m_done; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (m_done
            || (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick
                && type != QEvent::MouseButtonRelease)
            || !watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != m_window)
            return false;
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (type == QEvent::MouseButtonPress && !m_dropping) {
            const quint64 interval = quint64(QGuiApplication::styleHints()->mouseDoubleClickInterval());
            m_dropping = mouse->timestamp() - m_openedBy < interval;
            if (!m_dropping)
                finish();
            return m_dropping;
        }
        if (!m_dropping)
            return false;
        // The double click and the release that end the dropped press.
        if (type == QEvent::MouseButtonRelease && mouse->buttons() == Qt::NoButton)
            finish();
        return true;
    }

private:
    void finish()
    {
        m_done = true;
        m_dropping = false;
        deleteLater();
    }

    QWidget* m_window;
    quint64 m_openedBy;
    bool m_dropping = false;
    bool m_done = false;
};

} // namespace

void guardSecondClick(QWidget* window)
{
    const LastPress& press = lastPress();
    const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    if (press.since.isValid() && press.since.elapsed() < interval)
        new SecondClickGuard(window, press.stamp);
}

bool guardingSecondClick(const QWidget* window)
{
    const auto* guard = window->findChild<SecondClickGuard*>(QStringLiteral("secondClickGuard"), Qt::FindDirectChildrenOnly);
    return guard && guard->waiting();
}

qreal stateOpacity(const QAbstractButton* button)
{
    if (!button->isEnabled())
        return Theme::disabledOpacity;
    if (button->isDown())
        return Theme::pressedOpacity;
    return 1;
}

namespace {

// QAbstractButton presses itself for Space only; Return and Enter press a
// QPushButton alone. Every kit button takes both, on the press, as Space
// ends in a click: a held key presses once.
class ReturnPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || (key->modifiers() & ~Qt::KeypadModifier))
            return false;
        auto* button = static_cast<QAbstractButton*>(watched);
        if (!key->isAutoRepeat() && button->isEnabled())
            button->click();
        // Used even when repeated: Return must not fall through to a
        // dialog's default button or a row beneath.
        return true;
    }
};

QObject* returnPresses()
{
    static QPointer<ReturnPresses> rule;
    if (!rule)
        rule = new ReturnPresses(qApp);
    return rule;
}

} // namespace

void setupButton(QAbstractButton* button)
{
    installFocusRingRule();
    button->installEventFilter(returnPresses());
    button->setFocusPolicy(Qt::TabFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setAttribute(Qt::WA_Hover);
}

QString spokenTitle(const QString& title)
{
    static const QString kArrow = QStringLiteral(" \u2197");
    static const QString kBack = QStringLiteral("\u2190 ");
    QString spoken = title.endsWith(kArrow) ? title.chopped(kArrow.size()) : title;
    if (spoken.startsWith(kBack))
        spoken.remove(0, kBack.size());
    return spoken.replace(QStringLiteral(" \u00b7 "), QStringLiteral(", "));
}

void setSpokenName(QWidget* widget, const QString& name)
{
    if (widget->accessibleName() != name)
        widget->setAccessibleName(name);
}

void setLiteralText(QAbstractButton* button, const QString& text)
{
    const bool namedByText =
        button->accessibleName().isEmpty() || button->accessibleName() == spokenTitle(button->text());
    button->setText(text);
    // setText made the mnemonic the button's shortcut; kit buttons have none.
    button->setShortcut(QKeySequence());
    if (namedByText)
        setSpokenName(button, spokenTitle(text));
}

} // namespace Hub::Kit
