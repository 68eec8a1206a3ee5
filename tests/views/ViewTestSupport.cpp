#include "ViewTestSupport.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>

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

} // namespace Hub::Test
