#pragma once

#include <QAnyStringView>
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <exception>
#include <optional>
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

// Parses bytes as strict JSON whose top level must be an object: no raw
// control characters inside strings, valid UTF-8, at most 512 levels deep.
// A number is an integer only when its text is a whole number within 64 bits
// (so wholeNumber() never rounds); any other number is a double.
QJsonObject parseObject(const QByteArray& data);

QString joinPath(const QString& path, const QString& key);
QString joinPath(const QString& path, qsizetype index);

// Element decoders, each naming `path` in its error.
QString decodeString(const QJsonValue& value, const QString& path);
qint64 decodeInt64(const QJsonValue& value, const QString& path);
bool decodeBool(const QJsonValue& value, const QString& path);
// The value as a 64-bit integer; none for anything but a whole number within range.
std::optional<qint64> wholeNumber(const QJsonValue& value);
QStringList decodeStringList(const QJsonValue& value, const QString& path);

// Reads the keys of one JSON object. Optional keys that are missing or null
// give nothing; required ones throw.
class ObjectReader {
public:
    ObjectReader(const QJsonValue& value, QString path);

    QString string(QLatin1StringView key) const;
    std::optional<QString> optionalString(QLatin1StringView key) const;
    std::optional<qint64> optionalInt64(QLatin1StringView key) const;
    std::optional<bool> optionalBool(QLatin1StringView key) const;
    std::optional<QStringList> optionalStringList(QLatin1StringView key) const;

    template <typename Decode>
    auto required(QLatin1StringView key, Decode decode) const
    {
        return decode(present(key), joinPath(m_path, key));
    }

    template <typename Decode>
    auto optional(QLatin1StringView key, Decode decode) const
        -> std::optional<decltype(decode(QJsonValue(), QString()))>
    {
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        return decode(v, joinPath(m_path, key));
    }

    const QString& path() const { return m_path; }

private:
    QJsonValue present(QLatin1StringView key) const;

    QJsonObject m_object;
    QString m_path;
};

// Decodes a JSON array element by element.
template <typename Decode>
auto decodeList(const QJsonValue& value, const QString& path, Decode decode)
{
    using Element = decltype(decode(QJsonValue(), QString()));
    if (!value.isArray())
        throw DecodingError(path, QStringLiteral("expected a list"));
    std::vector<Element> out;
    const auto array = value.toArray();
    out.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        out.push_back(decode(array.at(i), joinPath(path, i)));
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
