#pragma once

#include <QAnyStringView>
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// Strict JSON decoding and key-ordered encoding for the core's records.
//
// Decoding fails the whole document on the first defect, in the order the
// record reads its keys: a required key missing or null, a value of another
// JSON type, a fraction where a whole number belongs, a word outside its list.
// The error names the key path so a broken catalog can be mended by hand.
namespace Hub::Json {

class DecodingError : public std::exception {
public:
    DecodingError(QString path, QString reason);

    const QString& path() const { return m_path; }
    const QString& reason() const { return m_reason; }
    // "products[2].tagline: missing"; the reason alone for a top-level fault.
    QString description() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_path;
    QString m_reason;
    QByteArray m_what;
};

// Where a value sits in a document ("products[2].tagline"), put together
// only when an error names it. A path refers to its parent, so it lives no
// longer than the call that made it.
class Path {
public:
    Path() = default;
    // A record's own path, as the caller names it.
    Path(const QString& root) // NOLINT(google-explicit-constructor)
        : m_root(root)
    {
    }
    Path(const Path& parent, QAnyStringView key)
        : m_parent(&parent)
        , m_key(key)
    {
    }
    Path(const Path& parent, qsizetype index)
        : m_parent(&parent)
        , m_index(index)
    {
    }

    QString toString() const;

private:
    const Path* m_parent = nullptr;
    QString m_root;
    QAnyStringView m_key;
    qsizetype m_index = -1;
};

class Document;

// One value of a strictly read document. Every value, the one parse()
// returns and each one read from it (a member, an element), shares the
// document and keeps it alive: a member of a parse() that has ended, or of a
// value since gone, is as good as any.
class Value {
public:
    enum class Type : quint8 { undefined, null, boolean, number, string, array, object };

    Value() = default;
    // Qt's values, for records that hold them already; numbers keep Qt's
    // reading (an integer when Qt holds one).
    Value(const QJsonValue& value); // NOLINT(google-explicit-constructor)
    Value(const QJsonObject& object); // NOLINT(google-explicit-constructor)
    Value(const QJsonArray& array); // NOLINT(google-explicit-constructor)

    Type type() const;
    bool isUndefined() const { return type() == Type::undefined; }
    bool isNull() const { return type() == Type::null; }
    bool isBool() const { return type() == Type::boolean; }
    bool isNumber() const { return type() == Type::number; }
    bool isString() const { return type() == Type::string; }
    bool isArray() const { return type() == Type::array; }
    bool isObject() const { return type() == Type::object; }

    // Each gives an empty value for a value of another type.
    QString toString() const;
    bool toBool() const;
    double toDouble() const;
    // The number as a 64-bit integer, when its text is one.
    std::optional<qint64> wholeNumber() const;

    // An object's member by its ASCII key; the last one when a key repeats;
    // undefined when missing or when this is not an object.
    Value member(QLatin1StringView key) const;
    // Elements of a list, or members of an object.
    qsizetype size() const;
    // A list's first element and the one after `element`; undefined past the end.
    Value firstElement() const;
    Value elementAfter(const Value& element) const;
    // An object's members in the order the document gives them.
    std::vector<std::pair<QString, Value>> members() const;

    QJsonValue toQt() const;

private:
    friend class Document;
    Value(std::shared_ptr<const Document> document, quint32 index);
    // The value at `index` of this value's document.
    Value valueAt(quint32 index) const { return Value(m_document, index); }

    std::shared_ptr<const Document> m_document;
    quint32 m_index = 0;
};

// Reads bytes as strict JSON whose top level must be an object with nothing
// but blanks after it: no raw control characters inside strings, valid UTF-8,
// at most 512 levels deep. An escape of half a surrogate pair without its
// other half (a string cut in the middle of an emoji) reads as U+FFFD.
//
// Numbers, by their text:
// - A number is whole when its text is a whole number within 64 bits,
//   whatever its spelling (25E+1 and 250.0 are 250): wholeNumber() gives it
//   exactly, toDouble() the double nearest it.
// - Every other number is the double nearest its text, ties to even, as
//   other readers take it (4503599627370496.5 is 4503599627370496.0);
//   wholeNumber() refuses it, however whole that double is.
// - Text past a double's range fails the document; text too small for a
//   double reads as zero of its sign.
Value parse(const QByteArray& data);
// The same reading, as Qt's values. Qt takes any whole double up to 2^53 for
// an integer, so a number that is not whole but whose nearest double is
// becomes there the nearest double Qt never takes for one: one step away from
// zero below 2^52, 2^53 + 2 of its sign from 2^52 to 2^53. Where the value
// itself matters, read it through parse().
QJsonObject parseObject(const QByteArray& data);

QString joinPath(const QString& path, const QString& key);
QString joinPath(const QString& path, qsizetype index);

// Element decoders, each naming `path` in its error.
QString decodeString(const Value& value, const Path& path);
qint64 decodeInt64(const Value& value, const Path& path);
bool decodeBool(const Value& value, const Path& path);
// The value as a 64-bit integer; none for anything but a whole number within range.
std::optional<qint64> wholeNumber(const QJsonValue& value);
QStringList decodeStringList(const Value& value, const Path& path);

// Reads the keys of one JSON object. Optional keys that are missing or null
// give nothing; required ones throw.
class ObjectReader {
public:
    ObjectReader(const Value& value, const Path& path);

    QString string(QLatin1StringView key) const;
    std::optional<QString> optionalString(QLatin1StringView key) const;
    std::optional<qint64> optionalInt64(QLatin1StringView key) const;
    std::optional<bool> optionalBool(QLatin1StringView key) const;
    std::optional<QStringList> optionalStringList(QLatin1StringView key) const;

    template <typename Decode>
    auto required(QLatin1StringView key, Decode decode) const
    {
        return decode(present(key), Path(m_path, key));
    }

    template <typename Decode>
    auto optional(QLatin1StringView key, Decode decode) const
        -> std::optional<decltype(decode(Value(), Path()))>
    {
        const Value v = m_object.member(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        return decode(v, Path(m_path, key));
    }

    const Path& path() const { return m_path; }

private:
    Value present(QLatin1StringView key) const;

    Value m_object;
    Path m_path;
};

// Decodes a JSON array element by element.
template <typename Decode>
auto decodeList(const Value& value, const Path& path, Decode decode)
{
    using Element = decltype(decode(Value(), Path()));
    if (!value.isArray())
        throw DecodingError(path.toString(), QStringLiteral("expected a list"));
    std::vector<Element> out;
    out.reserve(std::size_t(value.size()));
    qsizetype i = 0;
    for (Value element = value.firstElement(); !element.isUndefined(); element = value.elementAfter(element))
        out.push_back(decode(element, Path(path, i++)));
    return out;
}

// Writes one JSON object with its keys in the order they are added, which
// QJsonObject cannot do. Absent optionals are left out, never written as null.
class ObjectWriter {
public:
    ObjectWriter& add(QAnyStringView key, const QString& value);
    ObjectWriter& add(QAnyStringView key, qint64 value);
    ObjectWriter& add(QAnyStringView key, bool value);
    ObjectWriter& add(QAnyStringView key, const QStringList& value);
    // `json` must already be one encoded JSON value.
    ObjectWriter& addEncoded(QAnyStringView key, const QByteArray& json);

    template <typename T>
    ObjectWriter& add(QAnyStringView key, const std::optional<T>& value)
    {
        if (value)
            add(key, *value);
        return *this;
    }

    QByteArray finish() const;

private:
    void addKey(QAnyStringView key);
    QByteArray m_out = "{";
    bool m_first = true;
};

QByteArray encodeString(const QString& value);
QByteArray encodeArray(const std::vector<QByteArray>& encodedElements);

} // namespace Hub::Json
