// Saves a picture of the whole X screen once a window has painted on it
// (more than half of the screen no longer the server's black) and then
// painted something else: the program's first screen is the splash, and
// the picture shows the screen that follows it. Exits 0 with the picture
// saved, 1 when either did not happen before the deadline.
//
// usage: screen_grab OUTPUT.png [SECONDS]
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

bool painted(const QImage& image)
{
    qint64 lit = 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            lit += (line[x] & 0xffffff) != 0;
    }
    return lit * 2 > qint64(rgb.width()) * rgb.height();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: screen_grab OUTPUT.png [SECONDS]\n");
        return 2;
    }
    const int seconds = argc > 2 ? QByteArray(argv[2]).toInt() : 60;
    QScreen* screen = QGuiApplication::primaryScreen();
    QImage shot;
    const QDeadlineTimer deadline(seconds * 1000);
    const bool seen = QTest::qWaitFor(
        [&] {
            shot = screen->grabWindow(0).toImage();
            return painted(shot);
        },
        int(std::max<qint64>(deadline.remainingTime(), 0)));
    if (!seen) {
        std::fprintf(stderr, "screen_grab: nothing painted within %d s\n", seconds);
        return 1;
    }
    const QImage first = shot;
    const bool moved = QTest::qWaitFor(
        [&] {
            shot = screen->grabWindow(0).toImage();
            return shot != first;
        },
        int(std::max<qint64>(deadline.remainingTime(), 0)));
    if (!moved) {
        std::fprintf(stderr, "screen_grab: the first screen stayed for %d s\n", seconds);
        return 1;
    }
    if (!shot.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "screen_grab: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
