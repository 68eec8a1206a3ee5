#include "ViewTestSupport.h"

#include "Kit/Animation.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTest>
#include <QVBoxLayout>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include <algorithm>

namespace Hub::Test {

namespace {
QString screenshotPath(const QString& name)
{
    const QString dir = QStringLiteral(HUB_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir + u'/' + name + QStringLiteral(".png");
}
} // namespace

void saveScreenshot(const QImage& image, const QString& name)
{
    const QString path = screenshotPath(name);
    EXPECT_FALSE(image.isNull()) << "nothing to save for " << name.toStdString();
    EXPECT_TRUE(image.save(path)) << "could not write " << path.toStdString();
}

void saveScreenshot(QWidget* widget, const QString& name) { saveScreenshot(widget->grab().toImage(), name); }

QImage renderOver(QWidget* widget, const QColor& ground)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(ground);
    QPainter p(&image);
    widget->render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
    p.end();
    return image;
}

int brightest(const QImage& image)
{
    int best = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            best = std::max(best, qGray(image.pixel(x, y)));
    return best;
}

std::unique_ptr<QWidget> activeWindow(QWidget* content, int width)
{
    auto window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addWidget(content);
    if (width > 0)
        window->setFixedWidth(width);
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get(), kPatience));
    return window;
}

namespace {

QList<AccessEvents::Event>& recorded()
{
    static QList<AccessEvents::Event> events;
    return events;
}

void record(QAccessibleEvent* event)
{
    QString name;
    QString sender;
    if (event->type() == QAccessible::NameChanged && event->object()) {
        sender = event->object()->objectName();
        if (QAccessibleInterface* changed = event->accessibleInterface())
            name = changed->text(QAccessible::Name);
    }
    recorded().append({event->type(), event->object(), name, sender});
}

} // namespace

void setAccessibilityActive(bool active)
{
    QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
    EXPECT_NE(platform, nullptr) << "the platform has no accessibility";
    if (platform)
        platform->setActive(active);
}

AccessEvents::AccessEvents()
{
    recorded().clear();
    QAccessible::installUpdateHandler(record);
    setAccessibilityActive(true);
}

AccessEvents::~AccessEvents()
{
    setAccessibilityActive(false);
    QAccessible::installUpdateHandler(nullptr);
    recorded().clear();
}

const QList<AccessEvents::Event>& AccessEvents::events() const { return recorded(); }

int AccessEvents::count(QAccessible::Event type, const QObject* object) const
{
    return int(std::count_if(recorded().begin(), recorded().end(),
                             [&](const Event& e) { return e.type == type && e.object == object; }));
}

void AccessEvents::clear() { recorded().clear(); }

QAccessibleInterface* spoken(QObject* object)
{
    QAccessibleInterface* found = QAccessible::queryAccessibleInterface(object);
    EXPECT_NE(found, nullptr) << "nothing for assistive technology";
    return found;
}

AnimationsOn::AnimationsOn() { Kit::Animation::setEnabled(true); }

AnimationsOn::~AnimationsOn() { Kit::Animation::setEnabled(false); }

} // namespace Hub::Test
