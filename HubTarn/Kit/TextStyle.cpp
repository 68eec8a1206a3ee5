#include "TextStyle.h"

#include "Theme.h"

#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTextBoundaryFinder>

namespace Hub::Kit {

QFont label(qreal size, QFont::Weight weight) { return Theme::mono(size, weight, size * 0.05, true); }

QFont foot(qreal size) { return Theme::prose(size); }

QColor footColor() { return Theme::muted(); }

QString firstCharacter(const QString& text)
{
    if (text.isEmpty())
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    const qsizetype end = finder.toNextBoundary();
    return text.left(end > 0 ? end : 1);
}

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(parent);
    // Before setText: QLabel decides between plain and rich text per text.
    l->setTextFormat(Qt::PlainText);
    l->setOpenExternalLinks(false);
    l->setTextInteractionFlags(Qt::NoTextInteraction);
    l->setText(text);
    return l;
}

QString plainToolTip(const QString& text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

QString clockTime(const QDateTime& when)
{
    const QLocale locale;
    // The seconds with the separator before them, and any fraction.
    static const QRegularExpression seconds(QStringLiteral("[:.\\x{a0} ]?ss?(?:[.,]z+)?"));
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(seconds);
    return locale.toString(when.toLocalTime().time(), format);
}

QString joinedList(const QStringList& names)
{
    if (names.size() <= 2)
        return names.join(QStringLiteral(" and "));
    return names.first(names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(", and ") + names.last();
}

void setTextColor(QWidget* widget, const QColor& color)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    // A label inside a button (a switch's row, a coming-soon cell) draws in
    // the button's text role, which it inherits from the button. Disabled,
    // it fades like the control around it.
    QColor disabled = color;
    disabled.setAlphaF(color.alphaF() * float(Theme::disabledOpacity));
    p.setColor(QPalette::Active, QPalette::ButtonText, color);
    p.setColor(QPalette::Inactive, QPalette::ButtonText, color);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    widget->setPalette(p);
}

void setLabelStyle(QLabel* l, qreal size, QFont::Weight weight, const QColor& color)
{
    l->setFont(label(size, weight));
    l->setWordWrap(false);
    setTextColor(l, color);
}

void setProseStyle(QLabel* l, const QFont& font, const QColor& color)
{
    l->setFont(font);
    l->setWordWrap(true);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    l->setSizePolicy(policy);
    setTextColor(l, color);
}

void setFootStyle(QLabel* l, qreal size) { setProseStyle(l, foot(size), footColor()); }

void setSelectable(QLabel* l)
{
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setCursor(Qt::IBeamCursor);
}

} // namespace Hub::Kit
