#include "Base/Json.h"

#include "Base/JsonDocument.h"

#include <QCborValue>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace Hub::Json {

namespace {

QString typeName(const Value& value)
{
    switch (value.type()) {
    case Value::Type::null:
        return QStringLiteral("null");
    case Value::Type::boolean:
        return QStringLiteral("a boolean");
    case Value::Type::number:
        return QStringLiteral("a number");
    case Value::Type::string:
        return QStringLiteral("text");
    case Value::Type::array:
        return QStringLiteral("a list");
    case Value::Type::object:
        return QStringLiteral("an object");
    case Value::Type::undefined:
        break;
    }
    return QStringLiteral("nothing");
}

// "is null", or "expected <expected>, found <what value is>".
[[noreturn]] void mismatch(const Value& value, const Path& path, const QString& expected)
{
    if (value.isNull())
        throw DecodingError(path.toString(), QStringLiteral("is null"));
    throw DecodingError(path.toString(), u"expected "_s + expected + u", found "_s + typeName(value));
}

// Qt's values as a document, numbers as Qt holds them.
void addQt(Document& document, const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        document.addNull();
        return;
    case QJsonValue::Bool:
        document.addBool(value.toBool());
        return;
    case QJsonValue::Double: {
        const std::optional<qint64> whole = wholeNumber(value);
        document.addNumber(whole.has_value(), whole.value_or(0), value.toDouble());
        return;
    }
    case QJsonValue::String:
        document.addString(value.toString().toStdString());
        return;
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        const quint32 at = document.open(Value::Type::array);
        for (const QJsonValue& element : array)
            addQt(document, element);
        document.close(at, quint32(array.size()));
        return;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        const quint32 at = document.open(Value::Type::object);
        for (auto it = object.begin(); it != object.end(); ++it) {
            document.addString(it.key().toStdString());
            addQt(document, it.value());
        }
        document.close(at, quint32(object.size()));
        return;
    }
    case QJsonValue::Undefined:
        break;
    }
}

std::shared_ptr<const Document> documentOf(const QJsonValue& value)
{
    auto document = std::make_shared<Document>();
    addQt(*document, value);
    return document;
}

// Qt's values take any whole double up to 2^53 for an integer, and so does
// wholeNumber() of them. A number whose text is not whole but whose nearest
// double is (a fraction lost to rounding) must not pass there as one: below
// 2^52 it becomes its neighbour away from zero, which is not whole; from 2^52
// to 2^53, where every double is whole, the first double past 2^53, which Qt
// keeps a double. Only Qt's values carry this shift.
double offQtIntegers(double d)
{
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 0x1p53)
        return d;
    const bool negative = std::signbit(d);
    if (std::fabs(d) < 0x1p52)
        return std::nextafter(d, negative ? -HUGE_VAL : HUGE_VAL);
    return negative ? -(0x1p53 + 2) : 0x1p53 + 2;
}

bool isAscii(std::string_view utf8)
{
    return std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

// Document

quint32 Document::append(const Node& node)
{
    if (m_nodes.size() >= std::numeric_limits<quint32>::max())
        throw DecodingError({}, QStringLiteral("the document is too large"));
    m_nodes.push_back(node);
    m_nodes.back().end = quint32(m_nodes.size());
    return quint32(m_nodes.size() - 1);
}

quint32 Document::open(Value::Type container)
{
    Node node;
    node.type = container;
    return append(node);
}

void Document::close(quint32 index, quint32 count)
{
    m_nodes[index].count = count;
    m_nodes[index].end = quint32(m_nodes.size());
}

void Document::addString(std::string_view utf8)
{
    if (m_text.size() + utf8.size() >= std::numeric_limits<quint32>::max())
        throw DecodingError({}, QStringLiteral("the document is too large"));
    Node node;
    node.type = Value::Type::string;
    node.string = {quint32(m_text.size()), quint32(utf8.size())};
    m_text.append(utf8);
    append(node);
}

void Document::addNumber(bool whole, qint64 integer, double real)
{
    Node node;
    node.type = Value::Type::number;
    node.whole = whole;
    if (whole)
        node.integer = integer;
    else
        node.real = real;
    append(node);
}

void Document::addBool(bool value)
{
    Node node;
    node.type = Value::Type::boolean;
    node.boolean = value;
    append(node);
}

void Document::addNull()
{
    Node node;
    node.type = Value::Type::null;
    append(node);
}

void Document::reserve(std::size_t nodes, std::size_t textBytes)
{
    m_nodes.reserve(nodes);
    m_text.reserve(textBytes);
}

QString Document::string(const Node& node) const
{
    const std::string_view utf8 = text(node);
    if (utf8.empty() || utf8.size() > 7)
        return textOf(utf8);
    quint64 key = quint64(utf8.size()) << 56;
    for (std::size_t i = 0; i < utf8.size(); ++i)
        key |= quint64(static_cast<unsigned char>(utf8[i])) << (8 * i);
    auto& [word, shared] = m_words[(key * 0x9E3779B97F4A7C15ULL) >> 58];
    if (word != key) {
        word = key;
        shared = textOf(utf8);
    }
    return shared;
}

QString textOf(std::string_view utf8)
{
    // QString::fromUtf8 drops a byte-order mark at the start.
    qsizetype marks = 0;
    while (utf8.starts_with("\xEF\xBB\xBF")) {
        utf8.remove_prefix(3);
        ++marks;
    }
    const QString rest = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    return marks == 0 ? rest : QString(marks, QChar(0xFEFF)) + rest;
}

// Value

Value::Value(std::shared_ptr<const Document> document, quint32 index)
    : m_document(std::move(document))
    , m_index(index)
{
}

Value::Value(const QJsonValue& value)
    : Value(value.isUndefined() ? nullptr : documentOf(value), 0)
{
}

Value::Value(const QJsonObject& object)
    : Value(documentOf(object), 0)
{
}

Value::Value(const QJsonArray& array)
    : Value(documentOf(array), 0)
{
}

Value::Type Value::type() const
{
    return m_document ? m_document->node(m_index).type : Type::undefined;
}

QString Value::toString() const
{
    if (!isString())
        return {};
    return m_document->string(m_document->node(m_index));
}

bool Value::toBool() const
{
    return isBool() && m_document->node(m_index).boolean;
}

double Value::toDouble() const
{
    if (!isNumber())
        return 0;
    const Node& node = m_document->node(m_index);
    return node.whole ? double(node.integer) : node.real;
}

std::optional<qint64> Value::wholeNumber() const
{
    if (!isNumber() || !m_document->node(m_index).whole)
        return std::nullopt;
    return m_document->node(m_index).integer;
}

Value Value::member(QLatin1StringView key) const
{
    if (!isObject())
        return {};
    const std::string_view wanted(key.data(), std::size_t(key.size()));
    const quint32 end = m_document->node(m_index).end;
    quint32 found = 0;
    for (quint32 at = m_index + 1; at < end; at = m_document->node(at + 1).end) {
        const Node& name = m_document->node(at);
        if (name.string.size == wanted.size() && m_document->text(name) == wanted)
            found = at + 1;
    }
    return found ? valueAt(found) : Value();
}

qsizetype Value::size() const
{
    return isArray() || isObject() ? qsizetype(m_document->node(m_index).count) : 0;
}

Value Value::firstElement() const
{
    if (!isArray() || m_document->node(m_index).count == 0)
        return {};
    return valueAt(m_index + 1);
}

Value Value::elementAfter(const Value& element) const
{
    const quint32 next = m_document->node(element.m_index).end;
    return next < m_document->node(m_index).end ? valueAt(next) : Value();
}

std::vector<std::pair<QString, Value>> Value::members() const
{
    std::vector<std::pair<QString, Value>> out;
    if (!isObject())
        return out;
    const quint32 end = m_document->node(m_index).end;
    for (quint32 at = m_index + 1; at < end; at = m_document->node(at + 1).end)
        out.emplace_back(textOf(m_document->text(m_document->node(at))), valueAt(at + 1));
    return out;
}

QJsonValue Value::toQt() const
{
    switch (type()) {
    case Type::undefined:
        return QJsonValue(QJsonValue::Undefined);
    case Type::null:
        return QJsonValue(QJsonValue::Null);
    case Type::boolean:
        return toBool();
    case Type::number: {
        const Node& node = m_document->node(m_index);
        return node.whole ? QJsonValue(node.integer) : QJsonValue(offQtIntegers(node.real));
    }
    case Type::string: {
        const std::string_view utf8 = m_document->text(m_document->node(m_index));
        // Qt's tree stores ASCII as it is, without a QString on the way.
        if (isAscii(utf8))
            return QJsonValue(QLatin1StringView(utf8.data(), qsizetype(utf8.size())));
        return textOf(utf8);
    }
    case Type::array: {
        QJsonArray out;
        for (Value element = firstElement(); !element.isUndefined(); element = elementAfter(element))
            out.append(element.toQt());
        return out;
    }
    case Type::object: {
        // QJsonObject keeps its keys sorted and inserts by moving every later
        // one, so keys taken in document order cost the square of their
        // number; inserted in sorted order, each one lands at the end. Bytes
        // sort UTF-8 as code points; a stable sort keeps a repeated key's
        // last value last, as insert() keeps it.
        std::vector<std::pair<std::string_view, Value>> sorted;
        const quint32 end = m_document->node(m_index).end;
        for (quint32 at = m_index + 1; at < end; at = m_document->node(at + 1).end)
            sorted.emplace_back(m_document->text(m_document->node(at)), valueAt(at + 1));
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        QJsonObject out;
        for (const auto& [key, value] : sorted) {
            if (isAscii(key))
                out.insert(QLatin1StringView(key.data(), qsizetype(key.size())), value.toQt());
            else
                out.insert(textOf(key), value.toQt());
        }
        return out;
    }
    }
    return {};
}

QJsonObject parseObject(const QByteArray& data)
{
    return parse(data).toQt().toObject();
}

// Path

QString Path::toString() const
{
    QString parent = m_parent ? m_parent->toString() : m_root;
    if (m_index >= 0)
        return joinPath(parent, m_index);
    if (!m_key.isNull())
        return joinPath(parent, m_key.toString());
    return parent;
}

// Errors and decoders

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

QString decodeString(const Value& value, const Path& path)
{
    if (!value.isString())
        mismatch(value, path, QStringLiteral("text"));
    return value.toString();
}

qint64 decodeInt64(const Value& value, const Path& path)
{
    if (!value.isNumber())
        mismatch(value, path, QStringLiteral("a whole number"));
    if (const auto number = value.wholeNumber())
        return *number;
    throw DecodingError(path.toString(), u"expected a whole number within 64 bits, found "_s
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

bool decodeBool(const Value& value, const Path& path)
{
    if (!value.isBool())
        mismatch(value, path, QStringLiteral("a boolean"));
    return value.toBool();
}

QStringList decodeStringList(const Value& value, const Path& path)
{
    QStringList out;
    if (value.isArray())
        out.reserve(value.size());
    for (QString& s : decodeList(value, path, decodeString))
        out.push_back(std::move(s));
    return out;
}

ObjectReader::ObjectReader(const Value& value, const Path& path)
    : m_object(value)
    , m_path(path)
{
    if (!value.isObject())
        mismatch(value, m_path, QStringLiteral("an object"));
}

Value ObjectReader::present(QLatin1StringView key) const
{
    const Value v = m_object.member(key);
    if (v.isUndefined())
        throw DecodingError(Path(m_path, key).toString(), QStringLiteral("missing"));
    if (v.isNull())
        throw DecodingError(Path(m_path, key).toString(), QStringLiteral("is null"));
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
