#include "Base/Json.h"

#include <QCborValue>
#include <QJsonArray>
#include <QJsonDocument>

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
    // The reader holds a number as an integer only when its text is one; a
    // double beyond 2^53, whole or not, stands for text that was not.
    if (!value.isDouble())
        return std::nullopt;
    const QCborValue number = QCborValue::fromJsonValue(value);
    if (!number.isInteger())
        return std::nullopt;
    return number.toInteger();
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
