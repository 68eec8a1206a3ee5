#include "Base/Json.h"

// The strict reader behind parse(): simdjson checks the text as it is read
// into the reader's own document, with numbers read by our own rule.

#include "Base/JsonDocument.h"

#include <simdjson.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

using namespace Qt::StringLiterals;

namespace Hub::Json {

namespace {

// Deeper nesting than any document of ours needs, shallow enough for the stack.
constexpr int kMaxDepth = 512;

[[noreturn]] void notJson(const QString& reason)
{
    throw DecodingError({}, u"not valid JSON ("_s + reason + u")"_s);
}

// A number's text, read by our own rule: it is an integer only when its text
// is exactly one within 64 bits, whatever its spelling (25E+1 is 250, 1.0 is
// 1); every other number is the double nearest its text, which wholeNumber()
// refuses however whole that double is.
class NumberText {
public:
    struct Number {
        bool whole = false;
        qint64 integer = 0;
        double real = 0;
    };

    // `text` is the token as simdjson found it, with any blanks after it.
    static Number read(std::string_view text)
    {
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
            text.remove_suffix(1);
        NumberText number(text);
        return number.value();
    }

private:
    explicit NumberText(std::string_view text)
        : m_begin(text.data())
        , m_end(text.data() + text.size())
    {
    }

    [[noreturn]] static void illegal() { notJson(QStringLiteral("illegal number")); }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    const char* digits(const char* at) const
    {
        while (at != m_end && isDigit(*at))
            ++at;
        return at;
    }

    Number value() const
    {
        if (m_begin == m_end)
            illegal();
        const bool negative = *m_begin == '-';
        const char* intBegin = m_begin + (negative ? 1 : 0);
        const char* intEnd = digits(intBegin);
        if (intEnd == intBegin || (*intBegin == '0' && intEnd - intBegin > 1))
            illegal();
        const char* fracBegin = intEnd;
        const char* fracEnd = intEnd;
        if (fracBegin != m_end && *fracBegin == '.') {
            ++fracBegin;
            fracEnd = digits(fracBegin);
            if (fracEnd == fracBegin)
                illegal();
        }
        const char* end = fracEnd;
        long long exponent = 0;
        if (end != m_end && (*end == 'e' || *end == 'E')) {
            ++end;
            bool negativeExponent = false;
            if (end != m_end && (*end == '+' || *end == '-'))
                negativeExponent = *end++ == '-';
            const char* expEnd = digits(end);
            if (expEnd == end)
                illegal();
            // Saturates far beyond the length of any document, so a long
            // run of digits before it still counts in full.
            for (const char* d = end; d != expEnd; ++d)
                exponent = std::min(exponent * 10 + (*d - '0'), kExponentCap);
            if (negativeExponent)
                exponent = -exponent;
            end = expEnd;
        }
        if (end != m_end)
            illegal();

        // Short numbers fit std::string's own room: no allocation.
        std::string mantissa(intBegin, intEnd);
        mantissa.append(fracBegin, fracEnd);
        if (const auto whole = exactInteger(std::move(mantissa), exponent - (fracEnd - fracBegin), negative))
            return {true, *whole, double(*whole)};

        double d = 0;
        const auto parsed = std::from_chars(m_begin, end, d);
        if (parsed.ec == std::errc::result_out_of_range) {
            // Past a double's range one way or the other; which way is the
            // place of the first significant digit, not the exponent's sign:
            // 1000e-1 is large and 0.0001e2 small.
            if (leadingPower(intBegin, intEnd, fracBegin, fracEnd, exponent) >= 0)
                notJson(QStringLiteral("number out of range"));
            d = negative ? -0.0 : 0.0; // too small for a double
        } else if (parsed.ec != std::errc() || parsed.ptr != end) {
            illegal();
        }
        return {false, 0, d};
    }

    // The power of ten of the first significant digit (2 for 123.4, -3 for
    // 0.00123); the mantissa is not all zeros. Cannot overflow: the digits
    // are a document's length and the exponent saturates at kExponentCap.
    static long long leadingPower(const char* intBegin, const char* intEnd, const char* fracBegin,
                                  const char* fracEnd, long long exponent)
    {
        for (const char* d = intBegin; d != intEnd; ++d)
            if (*d != '0')
                return (intEnd - d - 1) + exponent;
        for (const char* d = fracBegin; d != fracEnd; ++d)
            if (*d != '0')
                return -(d - fracBegin + 1) + exponent;
        return exponent;
    }

    // The integer `digits` x 10^scale, when it is one within 64 bits.
    static std::optional<qint64> exactInteger(std::string digits, long long scale, bool negative)
    {
        const auto firstNonZero = digits.find_first_not_of('0');
        if (firstNonZero == std::string::npos)
            return 0;
        digits.erase(0, firstNonZero);
        if (scale < 0) {
            const auto lastNonZero = digits.find_last_not_of('0');
            const auto trailingZeros = static_cast<long long>(digits.size() - 1 - lastNonZero);
            if (trailingZeros < -scale)
                return std::nullopt; // a fraction
            digits.resize(digits.size() - static_cast<std::size_t>(-scale));
        } else if (scale > 0) {
            if (static_cast<long long>(digits.size()) + scale > 19)
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

    static constexpr long long kExponentCap = 1'000'000'000'000'000LL;

    const char* m_begin;
    const char* m_end;
};

// Whether `text` holds at `at` an escape \uXXXX of a high (or a low) surrogate.
bool isSurrogateEscape(std::string_view text, std::size_t at, bool high)
{
    if (text.size() < 6 || at > text.size() - 6 || text[at] != '\\' || text[at + 1] != 'u')
        return false;
    unsigned unit = 0;
    const char* end = text.data() + at + 6;
    const auto parsed = std::from_chars(text.data() + at + 2, end, unit, 16);
    if (parsed.ec != std::errc() || parsed.ptr != end)
        return false;
    return high ? unit >= 0xD800 && unit < 0xDC00 : unit >= 0xDC00 && unit < 0xE000;
}

// A string cut in the middle of a surrogate pair keeps half of it, which
// simdjson refuses as an illegal escape. Each escape of a half without its
// other half is spelt \uFFFD instead, in place: the text keeps its length, so
// any error still names an offset in the caller's bytes.
void replaceLoneSurrogates(std::string& text)
{
    bool inString = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '"') {
            inString = !inString;
        } else if (inString && text[at] == '\\') {
            if (isSurrogateEscape(text, at, true) && isSurrogateEscape(text, at + 6, false)) {
                at += 11; // a whole pair
            } else if (isSurrogateEscape(text, at, true) || isSurrogateEscape(text, at, false)) {
                text.replace(at + 2, 4, "FFFD");
                at += 5;
            } else {
                ++at; // whatever is escaped, it ends no string
            }
        }
    }
}

// Reads a document with simdjson, which refuses raw control characters in
// strings, invalid UTF-8 and every malformed token, into the reader's own
// document, with numbers read by NumberText.
class StrictParser {
public:
    explicit StrictParser(const QByteArray& data)
        : m_data(data)
    {
    }

    std::shared_ptr<const Document> document()
    {
        std::string_view text(m_data.constData(), std::size_t(m_data.size()));
        // Qt accepts a leading byte-order mark; documents saved by editors may carry one.
        if (text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        if (text.find_first_not_of(" \t\n\r") == std::string_view::npos)
            notJson(QStringLiteral("empty document"));
        try {
            return read(text);
        } catch (const LoneSurrogate&) {
        }
        // Rare enough to read the whole text twice. Without a half pair to
        // mend, the second reading fails on the escape as the first did.
        std::string mended(text);
        m_mended = true;
        replaceLoneSurrogates(mended);
        return read(mended);
    }

private:
    // An escape simdjson refused, which may be half a surrogate pair.
    struct LoneSurrogate {};

    std::shared_ptr<const Document> read(std::string_view text)
    {
        const simdjson::padded_string padded(text);
        simdjson::ondemand::parser parser;
        auto out = std::make_shared<Document>();
        // Catalogs take about twelve bytes of text a value, and strings never
        // more bytes than the text; pages reserved and never written cost nothing.
        out->reserve(text.size() / 8, text.size());
        m_out = out.get();
        walk(parser, padded);
        return out;
    }

    void walk(simdjson::ondemand::parser& parser, const simdjson::padded_string& padded)
    {
        simdjson::ondemand::document doc;
        check(parser.iterate(padded).get(doc), nullptr);
        m_text = padded.data();
        simdjson::ondemand::json_type type;
        check(doc.type().get(type), &doc);
        if (type != simdjson::ondemand::json_type::object) {
            if (type == simdjson::ondemand::json_type::array) {
                simdjson::ondemand::value top;
                check(doc.get_value().get(top), &doc);
                value(top, 0, &doc);
                atEnd(doc);
            }
            throw DecodingError({}, QStringLiteral("the top level is not an object"));
        }
        simdjson::ondemand::object top;
        const simdjson::error_code opened = doc.get_object().get(top);
        if (opened == simdjson::INCOMPLETE_ARRAY_OR_OBJECT)
            textAfter(std::string_view(padded.data(), padded.length()));
        check(opened, &doc);
        object(top, 0, &doc);
        atEnd(doc);
    }

    // simdjson refuses an object that is not the last thing in the text at
    // its start, as if its brace were misplaced. When the object does close
    // before text that is not blank, the fault is that text, once the object
    // itself reads well; an object that never closes is left to simdjson.
    void textAfter(std::string_view text)
    {
        int depth = 0;
        bool inString = false;
        std::size_t end = 0;
        for (std::size_t at = 0; at < text.size() && end == 0; ++at) {
            const char c = text[at];
            if (inString) {
                if (c == '\\')
                    ++at;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if ((c == '}' || c == ']') && --depth == 0) {
                end = at + 1;
            }
        }
        const std::size_t after = end == 0 ? std::string_view::npos : text.find_first_not_of(" \t\n\r", end);
        if (after == std::string_view::npos)
            return;
        read(text.substr(0, end)); // throws for the first fault inside the object
        fail(QStringLiteral("garbage at the end of the document"), nullptr, qsizetype(after) + skipped());
    }

    void atEnd(simdjson::ondemand::document& doc)
    {
        // Past the last token, the document has no place left to name.
        const char* at = nullptr;
        if (doc.current_location().get(at) == simdjson::SUCCESS)
            fail(QStringLiteral("garbage at the end of the document"), &doc);
    }

    // Names simdjson's error the way this reader always has, with where the
    // reading stood when the document can say.
    // `structure` names a misplaced or missing brace, bracket, comma or colon
    // by what was expected where the reading stood.
    void check(simdjson::error_code error, simdjson::ondemand::document* doc,
               QLatin1StringView structure = "misplaced punctuation"_L1)
    {
        switch (error) {
        case simdjson::SUCCESS:
            return;
        case simdjson::UNESCAPED_CHARS:
            fail(QStringLiteral("control character in a string"), doc, firstRawControl());
        case simdjson::UTF8_ERROR:
            fail(QStringLiteral("illegal UTF-8 sequence"), doc);
        case simdjson::DEPTH_ERROR:
            fail(QStringLiteral("too deeply nested"), doc);
        case simdjson::NUMBER_ERROR:
        case simdjson::NUMBER_OUT_OF_RANGE:
            fail(QStringLiteral("illegal number"), doc);
        case simdjson::STRING_ERROR:
            if (!m_mended)
                throw LoneSurrogate{};
            fail(QStringLiteral("illegal escape sequence"), doc);
        case simdjson::UNCLOSED_STRING:
            fail(QStringLiteral("unterminated string"), doc);
        case simdjson::T_ATOM_ERROR:
        case simdjson::F_ATOM_ERROR:
        case simdjson::N_ATOM_ERROR:
            fail(QStringLiteral("illegal value"), doc);
        case simdjson::TAPE_ERROR:
        case simdjson::INCOMPLETE_ARRAY_OR_OBJECT:
            fail(structure, doc);
        case simdjson::TRAILING_CONTENT:
            fail(QStringLiteral("garbage at the end of the document"), doc);
        default:
            fail(QLatin1StringView(simdjson::error_message(error)), doc);
        }
    }

    // `offset` counts from the start of the bytes, byte-order mark included.
    [[noreturn]] void fail(const QString& reason, simdjson::ondemand::document* doc,
                           std::optional<qsizetype> offset = std::nullopt) const
    {
        const char* at = nullptr;
        if (!offset && doc && m_text && doc->current_location().get(at) == simdjson::SUCCESS)
            offset = (at - m_text) + skipped();
        if (!offset)
            notJson(reason);
        notJson(reason + u" at offset "_s + QString::number(*offset));
    }

    // The leading byte-order mark is not part of the text simdjson reads.
    qsizetype skipped() const { return m_data.startsWith("\xEF\xBB\xBF") ? 3 : 0; }

    // simdjson tells that a string holds a raw control character, not where.
    std::optional<qsizetype> firstRawControl() const
    {
        bool inString = false;
        for (qsizetype i = skipped(); i < m_data.size(); ++i) {
            const auto c = static_cast<unsigned char>(m_data[i]);
            if (inString && c < 0x20)
                return i;
            if (c == '"')
                inString = !inString;
            else if (inString && c == '\\')
                ++i;
        }
        return std::nullopt;
    }

    void value(simdjson::ondemand::value& v, int depth, simdjson::ondemand::document* doc)
    {
        simdjson::ondemand::json_type type;
        check(v.type().get(type), doc);
        switch (type) {
        case simdjson::ondemand::json_type::object: {
            simdjson::ondemand::object o;
            check(v.get_object().get(o), doc);
            object(o, depth + 1, doc);
            return;
        }
        case simdjson::ondemand::json_type::array: {
            simdjson::ondemand::array a;
            check(v.get_array().get(a), doc);
            array(a, depth + 1, doc);
            return;
        }
        case simdjson::ondemand::json_type::string: {
            std::string_view s;
            check(v.get_string().get(s), doc);
            m_out->addString(s);
            return;
        }
        case simdjson::ondemand::json_type::number: {
            // raw_json_token() only finds the token's end; the grammar is ours to check.
            const NumberText::Number number = NumberText::read(v.raw_json_token());
            m_out->addNumber(number.whole, number.integer, number.real);
            return;
        }
        case simdjson::ondemand::json_type::boolean: {
            bool b = false;
            check(v.get_bool().get(b), doc);
            m_out->addBool(b);
            return;
        }
        case simdjson::ondemand::json_type::null: {
            bool isNull = false;
            check(v.is_null().get(isNull), doc);
            if (!isNull)
                fail(QStringLiteral("illegal value"), doc);
            m_out->addNull();
            return;
        }
        }
        fail(QStringLiteral("illegal value"), doc);
    }

    void enter(int depth, simdjson::ondemand::document* doc)
    {
        if (depth >= kMaxDepth)
            fail(QStringLiteral("too deeply nested"), doc);
    }

    void object(simdjson::ondemand::object& o, int depth, simdjson::ondemand::document* doc)
    {
        enter(depth, doc);
        const quint32 at = m_out->open(Value::Type::object);
        quint32 count = 0;
        for (auto field : o) {
            std::string_view key;
            check(field.unescaped_key().get(key), doc, "expected a key"_L1);
            m_out->addString(key);
            simdjson::ondemand::value v;
            check(field.value().get(v), doc);
            value(v, depth, doc);
            ++count;
        }
        m_out->close(at, count);
    }

    void array(simdjson::ondemand::array& a, int depth, simdjson::ondemand::document* doc)
    {
        enter(depth, doc);
        const quint32 at = m_out->open(Value::Type::array);
        quint32 count = 0;
        for (auto element : a) {
            simdjson::ondemand::value v;
            check(element.get(v), doc);
            value(v, depth, doc);
            ++count;
        }
        m_out->close(at, count);
    }

    const QByteArray& m_data;
    const char* m_text = nullptr;
    Document* m_out = nullptr;
    bool m_mended = false; // lone surrogates are read as U+FFFD
};

} // namespace

Value parse(const QByteArray& data)
{
    StrictParser parser(data);
    return Document::root(parser.document());
}

} // namespace Hub::Json
