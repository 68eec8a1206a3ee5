#include "Announce.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace Hub::Kit {

namespace {

class Announcer : public QWidget {
    Q_OBJECT

public:
    explicit Announcer(QWidget* window)
        : QWidget(window)
    {
        setObjectName(QStringLiteral("announcer"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        // Some room, or a screen reader may take it for nothing shown.
        setGeometry(0, 0, 1, 1);
        hide();
    }

    QString sentence;
};

class AnnouncerAccessible : public QAccessibleWidget {
public:
    explicit AnnouncerAccessible(Announcer* announcer)
        : QAccessibleWidget(announcer, QAccessible::Notification)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<Announcer*>(widget())->sentence;
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* announcerFactory(const QString&, QObject* object)
{
    if (auto* announcer = qobject_cast<Announcer*>(object))
        return new AnnouncerAccessible(announcer);
    return nullptr;
}

} // namespace

void announce(QWidget* inWindow, const QString& sentence)
{
    static const bool installed = [] {
        QAccessible::installFactory(announcerFactory);
        return true;
    }();
    Q_UNUSED(installed);
    if (!inWindow || sentence.isEmpty() || !QAccessible::isActive())
        return;
    QWidget* window = inWindow->window();
    auto* announcer = window->findChild<Announcer*>(QString(), Qt::FindDirectChildrenOnly);
    if (!announcer)
        announcer = new Announcer(window);
    announcer->hide();
    announcer->sentence = sentence;
    QAccessibleEvent named(announcer, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&named);
    // Shown (Qt reports it), then the alert itself.
    announcer->show();
    announcer->lower();
    QAccessibleEvent alert(announcer, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

} // namespace Hub::Kit

#include "Announce.moc"
