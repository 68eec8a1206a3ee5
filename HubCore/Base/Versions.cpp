#include "Base/Versions.h"

#include "Base/Machine.h"

#include <QStringView>

#include <limits>
#include <optional>

namespace Hub::Versions {

namespace {

// Only plain ASCII decimal integers count; anything else (a fraction sign,
// another script's digit, an overflow) reads as 0.
qint64 readPiece(QStringView piece)
{
    constexpr qint64 most = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    for (QChar c : piece) {
        if (c < u'0' || c > u'9')
            return 0;
        const int digit = c.unicode() - u'0';
        if (value > (most - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return value;
}

// The length of the leading run of dots and numbers (of any script), in
// code units.
qsizetype numericPrefix(QStringView text)
{
    qsizetype end = 0;
    while (end < text.size()) {
        char32_t c = text[end].unicode();
        qsizetype units = 1;
        if (QChar::isHighSurrogate(c) && end + 1 < text.size() && text[end + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[end], text[end + 1]);
            units = 2;
        }
        if (c != U'.' && !(c >= U'0' && c <= U'9') && !QChar::isNumber(c))
            break;
        end += units;
    }
    return end;
}

// A version's numbers one at a time, with nothing allocated: a redraw
// compares versions thousands of times.
class Pieces {
public:
    explicit Pieces(QStringView text)
        : m_rest(text.left(numericPrefix(text)))
    {
    }

    // The next number; none after the last.
    std::optional<qint64> next()
    {
        while (!m_rest.isEmpty()) {
            const qsizetype dot = m_rest.indexOf(u'.');
            const QStringView piece = dot < 0 ? m_rest : m_rest.left(dot);
            m_rest = dot < 0 ? QStringView() : m_rest.sliced(dot + 1);
            if (!piece.isEmpty())
                return readPiece(piece);
        }
        return std::nullopt;
    }

private:
    QStringView m_rest;
};

} // namespace

QList<qint64> parts(const QString& text)
{
    QList<qint64> out;
    Pieces pieces(text);
    while (const std::optional<qint64> piece = pieces.next())
        out.push_back(*piece);
    return out;
}

std::strong_ordering compare(const QString& a, const QString& b)
{
    Pieces pa(a);
    Pieces pb(b);
    for (;;) {
        const std::optional<qint64> x = pa.next();
        const std::optional<qint64> y = pb.next();
        if (!x && !y)
            return std::strong_ordering::equal;
        if (x.value_or(0) != y.value_or(0))
            return x.value_or(0) < y.value_or(0) ? std::strong_ordering::less : std::strong_ordering::greater;
    }
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
