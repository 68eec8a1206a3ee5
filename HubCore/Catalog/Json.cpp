#include "Catalog/Json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

using namespace Qt::StringLiterals;

namespace Hub::Json {

namespace {

QString typeName(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("text");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

[[noreturn]] void mismatch(const QJsonValue& value, const QString& path, const QString& expected)
{
    if (value.isNull())
        throw DecodingError(path, QStringLiteral("is null"));
    throw DecodingError(path, u"expected "_s + expected + u", found "_s + typeName(value));
}

// A strict JSON reader. Qt's own parser takes raw control characters inside
// strings and turns every integer beyond 64 bits into a double, so that
// -9223372036854775809 comes back as INT64_MIN. This one reads integers from
// their text: a number is held as an integer only when its text is exactly
// one within 64 bits, and every other number as a double that toInteger()
// refuses.
class StrictParser {
public:
    explicit StrictParser(const QByteArray& data)
        : m_begin(data.constData())
        , m_at(data.constData())
        , m_end(data.constData() + data.size())
    {
    }

    QJsonObject document()
    {
        // Qt accepts a leading byte-order mark; documents saved by editors may carry one.
        if (m_end - m_at >= 3 && std::memcmp(m_at, "\xEF\xBB\xBF", 3) == 0)
            m_at += 3;
        skipSpace();
        if (m_at == m_end)
            fail("empty document");
        const QJsonValue top = value();
        skipSpace();
        if (m_at != m_end)
            fail("garbage at the end of the document");
        if (!top.isObject())
            throw DecodingError({}, QStringLiteral("the top level is not an object"));
        return top.toObject();
    }

private:
    // Deeper nesting than any document of ours needs, shallow enough for the stack.
    static constexpr int kMaxDepth = 512;

    [[noreturn]] void fail(const char* reason) const
    {
        throw DecodingError({}, u"not valid JSON ("_s + QLatin1StringView(reason) + u" at offset "_s
                                    + QString::number(m_at - m_begin) + u")"_s);
    }

    void skipSpace()
    {
        while (m_at != m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\n' || *m_at == '\r'))
            ++m_at;
    }

    bool take(char c)
    {
        if (m_at == m_end || *m_at != c)
            return false;
        ++m_at;
        return true;
    }

    bool takeWord(std::string_view word)
    {
        if (static_cast<std::size_t>(m_end - m_at) < word.size() || std::string_view(m_at, word.size()) != word)
            return false;
        m_at += word.size();
        return true;
    }

    QJsonValue value()
    {
        if (m_at == m_end)
            fail("unexpected end of the document");
        switch (*m_at) {
        case '{':
            return object();
        case '[':
            return array();
        case '"':
            return string();
        case 't':
            if (takeWord("true"))
                return true;
            break;
        case 'f':
            if (takeWord("false"))
                return false;
            break;
        case 'n':
            if (takeWord("null"))
                return QJsonValue(QJsonValue::Null);
            break;
        default:
            if (*m_at == '-' || (*m_at >= '0' && *m_at <= '9'))
                return number();
            break;
        }
        fail("illegal value");
    }

    void enter()
    {
        if (++m_depth > kMaxDepth)
            fail("too deeply nested");
        ++m_at;
        skipSpace();
    }

    QJsonObject object()
    {
        enter();
        QJsonObject out;
        if (!take('}')) {
            do {
                skipSpace();
                if (m_at == m_end || *m_at != '"')
                    fail("expected a key");
                const QString key = string();
                skipSpace();
                if (!take(':'))
                    fail("missing name separator");
                skipSpace();
                out.insert(key, value());
                skipSpace();
            } while (take(','));
            if (!take('}'))
                fail("unterminated object");
        }
        --m_depth;
        return out;
    }

    QJsonArray array()
    {
        enter();
        QJsonArray out;
        if (!take(']')) {
            do {
                skipSpace();
                out.append(value());
                skipSpace();
            } while (take(','));
            if (!take(']'))
                fail("unterminated array");
        }
        --m_depth;
        return out;
    }

    QString string()
    {
        ++m_at; // the opening quote
        QString out;
        const char* run = m_at;
        const auto flushRun = [&] {
            if (run == m_at)
                return;
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            out += utf8(QByteArrayView(run, m_at - run));
            if (utf8.hasError())
                fail("illegal UTF-8 sequence");
        };
        for (;;) {
            if (m_at == m_end)
                fail("unterminated string");
            const auto c = static_cast<unsigned char>(*m_at);
            if (c == '"') {
                flushRun();
                ++m_at;
                return out;
            }
            if (c < 0x20)
                fail("control character in a string");
            if (c != '\\') {
                ++m_at;
                continue;
            }
            flushRun();
            ++m_at;
            if (m_at == m_end)
                fail("unterminated string");
            switch (*m_at++) {
            case '"': out += u'"'; break;
            case '\\': out += u'\\'; break;
            case '/': out += u'/'; break;
            case 'b': out += u'\b'; break;
            case 'f': out += u'\f'; break;
            case 'n': out += u'\n'; break;
            case 'r': out += u'\r'; break;
            case 't': out += u'\t'; break;
            case 'u': {
                unsigned unit = 0;
                const auto parsed = m_end - m_at >= 4 ? std::from_chars(m_at, m_at + 4, unit, 16)
                                                      : std::from_chars_result{m_at, std::errc::invalid_argument};
                if (parsed.ec != std::errc() || parsed.ptr != m_at + 4)
                    fail("illegal escape sequence");
                m_at += 4;
                out += QChar(char16_t(unit));
                break;
            }
            default:
                --m_at;
                fail("illegal escape sequence");
            }
            run = m_at;
        }
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    const char* digits(const char* at) const
    {
        while (at != m_end && isDigit(*at))
            ++at;
        return at;
    }

    QJsonValue number()
    {
        const char* start = m_at;
        const bool negative = *m_at == '-';
        const char* intBegin = m_at + (negative ? 1 : 0);
        const char* intEnd = digits(intBegin);
        if (intEnd == intBegin)
            fail("illegal number");
        if (*intBegin == '0' && intEnd - intBegin > 1)
            fail("illegal number");
        const char* fracBegin = intEnd;
        const char* fracEnd = intEnd;
        if (fracBegin != m_end && *fracBegin == '.') {
            ++fracBegin;
            fracEnd = digits(fracBegin);
            if (fracEnd == fracBegin) {
                m_at = fracEnd;
                fail("illegal number");
            }
        }
        const char* end = fracEnd;
        long exponent = 0;
        if (end != m_end && (*end == 'e' || *end == 'E')) {
            ++end;
            bool negativeExponent = false;
            if (end != m_end && (*end == '+' || *end == '-'))
                negativeExponent = *end++ == '-';
            const char* expEnd = digits(end);
            if (expEnd == end) {
                m_at = expEnd;
                fail("illegal number");
            }
            // Saturates: an exponent this large gives zero or no number anyway.
            for (const char* d = end; d != expEnd; ++d)
                exponent = std::min(exponent * 10 + (*d - '0'), 1'000'000L);
            if (negativeExponent)
                exponent = -exponent;
            end = expEnd;
        }
        m_at = end;

        const std::string mantissa = std::string(intBegin, intEnd) + std::string(fracBegin, fracEnd);
        if (const auto whole = exactInteger(mantissa, exponent - (fracEnd - fracBegin), negative))
            return QJsonValue(*whole);

        double d = 0;
        const auto parsed = std::from_chars(start, end, d);
        if (parsed.ec == std::errc::result_out_of_range) {
            if (exponent >= 0)
                fail("number out of range");
            d = negative ? -0.0 : 0.0; // too small for a double
        } else if (parsed.ec != std::errc() || parsed.ptr != end) {
            fail("illegal number");
        }
        // The nearest double may be a whole number within 64 bits although the
        // text is not one (-9223372036854775809 rounds to INT64_MIN, 1e-400 to
        // 0); its neighbour keeps it from passing as that integer.
        if (std::isfinite(d) && d == std::trunc(d) && d >= -0x1p63 && d < 0x1p63)
            d = std::nextafter(d, negative ? -HUGE_VAL : HUGE_VAL);
        return QJsonValue(d);
    }

    // The integer `mantissa` x 10^scale, when it is one within 64 bits.
    static std::optional<qint64> exactInteger(std::string digits, long scale, bool negative)
    {
        const auto firstNonZero = digits.find_first_not_of('0');
        if (firstNonZero == std::string::npos)
            return 0;
        digits.erase(0, firstNonZero);
        if (scale < 0) {
            const auto lastNonZero = digits.find_last_not_of('0');
            const long trailingZeros = static_cast<long>(digits.size() - 1 - lastNonZero);
            if (trailingZeros < -scale)
                return std::nullopt; // a fraction
            digits.resize(digits.size() - static_cast<std::size_t>(-scale));
        } else if (scale > 0) {
            if (digits.size() + static_cast<std::size_t>(scale) > 19)
                return std::nullopt;
            digits.append(static_cast<std::size_t>(scale), '0');
        }
        if (digits.size() > 19)
            return std::nullopt;
        std::uint64_t magnitude = 0;
        const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
        if (parsed.ec != std::errc())
            return std::nullopt;
        constexpr std::uint64_t kLimit = std::uint64_t(1) << 63;
        if (negative)
            return magnitude <= kLimit ? std::optional<qint64>(static_cast<qint64>(0 - magnitude)) : std::nullopt;
        return magnitude < kLimit ? std::optional<qint64>(static_cast<qint64>(magnitude)) : std::nullopt;
    }

    const char* m_begin;
    const char* m_at;
    const char* m_end;
    int m_depth = 0;
};

} // namespace

DecodingError::DecodingError(QString path, QString reason)
    : m_path(std::move(path))
    , m_reason(std::move(reason))
    , m_what(description().toUtf8())
{
}

QString DecodingError::description() const
{
    if (m_path.isEmpty())
        return m_reason;
    return m_path + u": "_s + m_reason;
}

QJsonObject parseObject(const QByteArray& data)
{
    StrictParser parser(data);
    return parser.document();
}

QString joinPath(const QString& path, const QString& key)
{
    return path.isEmpty() ? key : path + u'.' + key;
}

QString joinPath(const QString& path, qsizetype index)
{
    return path + u'[' + QString::number(index) + u']';
}

QString decodeString(const QJsonValue& value, const QString& path)
{
    if (!value.isString())
        mismatch(value, path, QStringLiteral("text"));
    return value.toString();
}

qint64 decodeInt64(const QJsonValue& value, const QString& path)
{
    if (!value.isDouble())
        mismatch(value, path, QStringLiteral("a whole number"));
    if (const auto number = wholeNumber(value))
        return *number;
    throw DecodingError(path, u"expected a whole number within 64 bits, found "_s
                                  + QString::number(value.toDouble(), 'g', 17));
}

std::optional<qint64> wholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    // toInteger() gives its default for a fraction or a value beyond 64 bits;
    // two different defaults tell that case from a real 0 or 1.
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

bool decodeBool(const QJsonValue& value, const QString& path)
{
    if (!value.isBool())
        mismatch(value, path, QStringLiteral("a boolean"));
    return value.toBool();
}

QStringList decodeStringList(const QJsonValue& value, const QString& path)
{
    QStringList out;
    for (QString& s : decodeList(value, path, decodeString))
        out.push_back(std::move(s));
    return out;
}

ObjectReader::ObjectReader(const QJsonValue& value, QString path)
    : m_path(std::move(path))
{
    if (!value.isObject())
        mismatch(value, m_path, QStringLiteral("an object"));
    m_object = value.toObject();
}

QJsonValue ObjectReader::present(QLatin1StringView key) const
{
    const QJsonValue v = m_object.value(key);
    if (v.isUndefined())
        throw DecodingError(joinPath(m_path, key), QStringLiteral("missing"));
    if (v.isNull())
        throw DecodingError(joinPath(m_path, key), QStringLiteral("is null"));
    return v;
}

QString ObjectReader::string(QLatin1StringView key) const
{
    return required(key, decodeString);
}

std::optional<QString> ObjectReader::optionalString(QLatin1StringView key) const
{
    return optional(key, decodeString);
}

std::optional<qint64> ObjectReader::optionalInt64(QLatin1StringView key) const
{
    return optional(key, decodeInt64);
}

std::optional<bool> ObjectReader::optionalBool(QLatin1StringView key) const
{
    return optional(key, decodeBool);
}

std::optional<QStringList> ObjectReader::optionalStringList(QLatin1StringView key) const
{
    return optional(key, decodeStringList);
}

QByteArray encodeString(const QString& value)
{
    // Let Qt do the escaping: encode a one-element array and strip the brackets.
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QByteArray encodeArray(const std::vector<QByteArray>& encodedElements)
{
    QByteArray out = "[";
    for (std::size_t i = 0; i < encodedElements.size(); ++i) {
        if (i > 0)
            out += ',';
        out += encodedElements[i];
    }
    out += ']';
    return out;
}

void ObjectWriter::addKey(QAnyStringView key)
{
    if (!m_first)
        m_out += ',';
    m_first = false;
    m_out += encodeString(key.toString());
    m_out += ':';
}

ObjectWriter& ObjectWriter::add(QAnyStringView key, const QString& value)
{
    addKey(key);
    m_out += encodeString(value);
    return *this;
}

ObjectWriter& ObjectWriter::add(QAnyStringView key, qint64 value)
{
    addKey(key);
    m_out += QByteArray::number(value);
    return *this;
}

ObjectWriter& ObjectWriter::add(QAnyStringView key, bool value)
{
    addKey(key);
    m_out += value ? "true" : "false";
    return *this;
}

ObjectWriter& ObjectWriter::add(QAnyStringView key, const QStringList& value)
{
    std::vector<QByteArray> elements;
    elements.reserve(value.size());
    for (const QString& s : value)
        elements.push_back(encodeString(s));
    return addEncoded(key, encodeArray(elements));
}

ObjectWriter& ObjectWriter::addEncoded(QAnyStringView key, const QByteArray& json)
{
    addKey(key);
    m_out += json;
    return *this;
}

QByteArray ObjectWriter::finish() const
{
    return m_out + '}';
}

} // namespace Hub::Json
