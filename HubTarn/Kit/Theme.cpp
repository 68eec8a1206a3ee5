#include "Theme.h"

#include "KitAccessible.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QScreen>
#include <QScrollBar>
#include <QStyleFactory>
#include <QToolTip>

Q_LOGGING_CATEGORY(lcTheme, "hub.kit.theme")

namespace Hub::Kit::Theme {

QColor bg() { return QColor(0x0e, 0x0e, 0x0f); }
QColor panel() { return QColor(0x15, 0x15, 0x16); }
QColor raised() { return QColor(0x1c, 0x1c, 0x1e); }
QColor ink() { return QColor(0xf0, 0xef, 0xea); }
QColor muted() { return QColor(0xa2, 0x9f, 0x97); }
QColor dim() { return QColor(0x5f, 0x5c, 0x57); }
QColor warn() { return QColor(0xd9, 0xa3, 0x5b); }
QColor bad() { return QColor(0xe0, 0x70, 0x5c); }

QColor line()
{
    QColor c = ink();
    c.setAlphaF(0.13f);
    return c;
}

QColor strong()
{
    QColor c = ink();
    c.setAlphaF(0.9f);
    return c;
}

QColor scrim()
{
    return QColor(0, 0, 0, 128);
}

namespace {

// Looked up once: a family name that is not installed would otherwise make
// every widget ask fontconfig again for a substitute.
Families resolveFamilies()
{
    Families f;
    const QStringList installed = QFontDatabase::families();
    f.proseFound = installed.contains(QStringLiteral("Inter"));
    f.monoFound = installed.contains(QStringLiteral("JetBrains Mono"));
    f.prose = f.proseFound ? QStringLiteral("Inter") : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    f.mono = f.monoFound ? QStringLiteral("JetBrains Mono") : QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    if (!f.proseFound)
        qCWarning(lcTheme) << "Inter is not installed (Debian fonts-inter); using" << f.prose;
    if (!f.monoFound)
        qCWarning(lcTheme) << "JetBrains Mono is not installed (Debian fonts-jetbrains-mono); using" << f.mono;
    return f;
}

QFont make(const QString& family, qreal size, QFont::Weight weight, qreal tracking)
{
    QFont font(family);
    // Sizes are device-independent pixels; QFont counts points of 1/72 inch.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    font.setPointSizeF(size * 72.0 / (dpi > 0 ? dpi : 96.0));
    font.setWeight(weight);
    if (tracking != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

} // namespace

const Families& families()
{
    static const Families resolved = resolveFamilies();
    return resolved;
}

QFont prose(qreal size, qreal tracking) { return make(families().prose, size, QFont::Normal, tracking); }

QFont bold(qreal size, qreal tracking) { return make(families().prose, size, QFont::Bold, tracking); }

QFont mono(qreal size, QFont::Weight weight, qreal tracking, bool upperCase)
{
    QFont font = make(families().mono, size, weight, tracking);
    font.setStyleHint(QFont::Monospace);
    if (upperCase)
        font.setCapitalization(QFont::AllUppercase);
    return font;
}

QPalette palette()
{
    QPalette p;
    auto all = [&p](QPalette::ColorRole role, const QColor& color) { p.setColor(QPalette::All, role, color); };
    all(QPalette::Window, bg());
    all(QPalette::WindowText, ink());
    all(QPalette::Base, panel());
    all(QPalette::AlternateBase, raised());
    all(QPalette::Text, ink());
    all(QPalette::Button, raised());
    all(QPalette::ButtonText, ink());
    all(QPalette::BrightText, ink());
    all(QPalette::ToolTipBase, raised());
    all(QPalette::ToolTipText, ink());
    all(QPalette::PlaceholderText, dim());
    all(QPalette::Highlight, muted());
    all(QPalette::HighlightedText, bg());
    all(QPalette::Link, ink());
    all(QPalette::LinkVisited, ink());
    all(QPalette::Light, raised().lighter(140));
    all(QPalette::Midlight, raised());
    all(QPalette::Mid, dim());
    all(QPalette::Dark, panel());
    all(QPalette::Shadow, QColor(0, 0, 0));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dim());
    return p;
}

namespace {

// Qt hands every tooltip the desktop theme's own tooltip palette whenever
// the desktop's theme changes (light, on most desktops), over the one
// install() set: each tooltip takes the window's theme again as it shows.
class ToolTipTheme : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if ((event->type() == QEvent::Show || event->type() == QEvent::Polish) && watched->inherits("QTipLabel"))
            static_cast<QWidget*>(watched)->setPalette(palette());
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void install(QApplication& app)
{
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    app.setPalette(palette());
    QToolTip::setPalette(palette());
    app.installEventFilter(new ToolTipTheme(&app));
    app.setFont(prose(13));
    installKitAccessibility();
}

void quietScrollBar(QAbstractScrollArea* area)
{
    // Always there, so its width is always kept: a centred column does not
    // move sideways as the bar comes and goes. With nothing to scroll it
    // is disabled, and a disabled bar draws nothing.
    QScrollBar* bar = area->verticalScrollBar();
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bar->setEnabled(bar->maximum() > bar->minimum());
    QObject::connect(bar, &QScrollBar::rangeChanged, bar, [bar](int min, int max) { bar->setEnabled(max > min); });
    bar->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 10px; margin: 2px 2px 2px 0; }"
                       "QScrollBar::handle:vertical { background: %1; border-radius: 4px; min-height: 32px; }"
                       "QScrollBar::handle:vertical:hover { background: %2; }"
                       "QScrollBar::handle:vertical:disabled { background: transparent; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; border: none; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
            .arg(line().name(QColor::HexArgb), dim().name(QColor::HexArgb)));
}

} // namespace Hub::Kit::Theme
