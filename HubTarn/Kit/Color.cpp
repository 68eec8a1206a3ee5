#include "Color.h"

#include "Catalog/CatalogRecords.h"

namespace Hub::Kit {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

QColor fromOptional(const std::optional<QString>& text, QRgb fallback)
{
    return colorFromHex(text ? QStringView(*text) : QStringView(), QColor::fromRgb(fallback));
}

} // namespace

QColor colorFromHex(QStringView text, const QColor& fallback)
{
    // Digit by digit rather than a number parser: those accept signs, blanks
    // and "0x" prefixes that would turn garbage into some colour.
    if (text.size() != 7 || text.front() != u'#')
        return fallback;
    int rgb = 0;
    for (QChar c : text.mid(1)) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return fallback;
        rgb = rgb * 16 + digit;
    }
    return QColor((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff);
}

QColor accentColor(const Product& product) { return fromOptional(product.accent, 0xf0efea); }
QColor accentTextColor(const Product& product) { return fromOptional(product.accentText, 0x0e0e0f); }
QColor tintColor(const Product& product) { return fromOptional(product.tint, 0x0e0e0f); }

} // namespace Hub::Kit
