#include "Base/Versions.h"

#include "Base/Machine.h"

#include <QStringView>

#include <charconv>

namespace Hub::Versions {

namespace {

qint64 readPiece(QStringView piece)
{
    // Only plain ASCII decimal integers count; anything else (a fraction
    // sign, another script's digit, an overflow) reads as 0.
    const QByteArray ascii = piece.toLatin1();
    for (QChar c : piece)
        if (c < u'0' || c > u'9')
            return 0;
    qint64 value = 0;
    const auto [end, error] = std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), value);
    if (error != std::errc() || end != ascii.constData() + ascii.size())
        return 0;
    return value;
}

} // namespace

QList<qint64> parts(const QString& text)
{
    qsizetype end = 0;
    const auto codePoints = QStringView(text).toUcs4();
    qsizetype units = 0;
    for (char32_t c : codePoints) {
        if (c != U'.' && !QChar::isNumber(c))
            break;
        units += QChar::requiresSurrogates(c) ? 2 : 1;
        end = units;
    }
    QList<qint64> out;
    for (QStringView piece : QStringView(text).left(end).split(u'.', Qt::SkipEmptyParts))
        out.push_back(readPiece(piece));
    return out;
}

std::strong_ordering compare(const QString& a, const QString& b)
{
    const QList<qint64> pa = parts(a);
    const QList<qint64> pb = parts(b);
    const qsizetype n = std::max(pa.size(), pb.size());
    for (qsizetype i = 0; i < n; ++i) {
        const qint64 x = i < pa.size() ? pa[i] : 0;
        const qint64 y = i < pb.size() ? pb[i] : 0;
        if (x != y)
            return x < y ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    return std::strong_ordering::equal;
}

bool isNewer(const QString& a, const QString& than)
{
    return compare(a, than) == std::strong_ordering::greater;
}

bool macOSSatisfies(const std::optional<QString>& minimum, const QString& running)
{
    if (!minimum || minimum->isEmpty())
        return true;
    return compare(running, *minimum) != std::strong_ordering::less;
}

bool macOSSatisfies(const std::optional<QString>& minimum)
{
    return macOSSatisfies(minimum, Machine::platformVersion());
}

} // namespace Hub::Versions
