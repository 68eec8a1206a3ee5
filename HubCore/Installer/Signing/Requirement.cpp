#include "Installer/Signing/Requirement.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

struct Token {
    enum class Kind { word, quoted, open, close, equals };
    Kind kind;
    QString text;
};

// Splits the text into words, quoted texts and the three punctuation marks.
// None when a quoted text is unterminated or holds a backslash: escapes are
// not part of the language, and accepting them half-way would let two
// readers see two different identifiers.
std::optional<std::vector<Token>> tokenize(const QString& text)
{
    std::vector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto isSpace = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; };
    while (i < n) {
        const QChar c = text.at(i);
        if (isSpace(c)) {
            ++i;
        } else if (c == u'"') {
            const qsizetype end = text.indexOf(u'"', i + 1);
            if (end < 0)
                return std::nullopt;
            const QString value = text.mid(i + 1, end - i - 1);
            if (value.contains(u'\\'))
                return std::nullopt;
            tokens.push_back({Token::Kind::quoted, value});
            i = end + 1;
        } else if (c == u'[') {
            tokens.push_back({Token::Kind::open, {}});
            ++i;
        } else if (c == u']') {
            tokens.push_back({Token::Kind::close, {}});
            ++i;
        } else if (c == u'=') {
            tokens.push_back({Token::Kind::equals, {}});
            ++i;
        } else {
            qsizetype end = i;
            while (end < n && !isSpace(text.at(end)) && text.at(end) != u'"' && text.at(end) != u'['
                   && text.at(end) != u']' && text.at(end) != u'=')
                ++end;
            tokens.push_back({Token::Kind::word, text.mid(i, end - i)});
            i = end;
        }
    }
    return tokens;
}

bool isDottedOID(const QString& oid)
{
    // First arc 0, 1 or 2, then at least one more arc; no leading zeros.
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(u"[0-2](\\.(0|[1-9][0-9]{0,8}))+"_s));
    return pattern.match(oid).hasMatch();
}

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

    struct Clauses {
        bool anchorApple = false;
        std::vector<Requirement::FieldExists> fields;
        std::vector<Requirement::SubjectOU> subjectOUs;
        std::vector<QString> identifiers;
    };

    std::optional<Clauses> parse()
    {
        Clauses clauses;
        if (m_tokens.empty())
            return std::nullopt;
        do {
            if (acceptWord(u"anchor"_s)) {
                if (!acceptWord(u"apple"_s) || !acceptWord(u"generic"_s))
                    return std::nullopt;
                clauses.anchorApple = true;
            } else if (acceptWord(u"certificate"_s)) {
                Requirement::Slot slot;
                if (acceptWord(u"leaf"_s))
                    slot = Requirement::Slot::leaf;
                else if (acceptWord(u"1"_s))
                    slot = Requirement::Slot::one;
                else
                    return std::nullopt;
                if (!accept(Token::Kind::open))
                    return std::nullopt;
                const std::optional<QString> key = take(Token::Kind::word);
                if (!key || !accept(Token::Kind::close))
                    return std::nullopt;
                if (key->startsWith(u"field."_s)) {
                    const QString oid = key->mid(6);
                    if (!isDottedOID(oid) || !acceptWord(u"exists"_s))
                        return std::nullopt;
                    clauses.fields.push_back({slot, oid});
                } else if (*key == u"subject.OU"_s) {
                    if (!accept(Token::Kind::equals))
                        return std::nullopt;
                    const std::optional<QString> value = take(Token::Kind::quoted);
                    if (!value)
                        return std::nullopt;
                    clauses.subjectOUs.push_back({slot, *value});
                } else {
                    return std::nullopt;
                }
            } else if (acceptWord(u"identifier"_s)) {
                const std::optional<QString> value = take(Token::Kind::quoted);
                if (!value)
                    return std::nullopt;
                clauses.identifiers.push_back(*value);
            } else {
                return std::nullopt;
            }
        } while (acceptWord(u"and"_s));
        if (m_next != m_tokens.size())
            return std::nullopt;
        return clauses;
    }

private:
    bool accept(Token::Kind kind)
    {
        if (m_next < m_tokens.size() && m_tokens[m_next].kind == kind) {
            ++m_next;
            return true;
        }
        return false;
    }
    bool acceptWord(const QString& word)
    {
        if (m_next < m_tokens.size() && m_tokens[m_next].kind == Token::Kind::word && m_tokens[m_next].text == word) {
            ++m_next;
            return true;
        }
        return false;
    }
    std::optional<QString> take(Token::Kind kind)
    {
        if (m_next < m_tokens.size() && m_tokens[m_next].kind == kind)
            return m_tokens[m_next++].text;
        return std::nullopt;
    }

    std::vector<Token> m_tokens;
    size_t m_next = 0;
};

} // namespace

std::optional<Requirement> Requirement::compile(const QString& text)
{
    std::optional<std::vector<Token>> tokens = tokenize(text);
    if (!tokens)
        return std::nullopt;
    Parser parser(std::move(*tokens));
    std::optional<Parser::Clauses> clauses = parser.parse();
    if (!clauses)
        return std::nullopt;
    Requirement requirement;
    requirement.m_anchorApple = clauses->anchorApple;
    requirement.m_fields = std::move(clauses->fields);
    requirement.m_subjectOUs = std::move(clauses->subjectOUs);
    requirement.m_identifiers = std::move(clauses->identifiers);
    return requirement;
}

Requirement Requirement::nested() const
{
    Requirement inner;
    inner.m_anchorApple = m_anchorApple;
    return inner;
}

} // namespace Hub
