#include "Platform/PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QVariantList>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

using namespace Qt::StringLiterals;

namespace Hub::PropertyList {

namespace {

// A bundle's list is a few levels deep and a few kilobytes long; these
// bounds keep a hostile one from exhausting the stack or the memory.
constexpr int kMaxDepth = 256;
constexpr qsizetype kMaxBytes = 8 * 1024 * 1024;
// A binary list may refer to one object from many places, so a few hundred
// bytes can stand for gigabytes once every reference is a copy. Each object is
// decoded once and shared, and the weight of the whole decoded tree, with a
// shared object counted at every place it appears, is capped: whoever walks
// or writes the result out meets no more than this.
constexpr qsizetype kMaxValues = 1 << 20;
constexpr quint64 kMaxDecodedBytes = 32 * 1024 * 1024;
// What one value costs beyond its text or bytes, roughly a QVariant and its node.
constexpr quint64 kValueWeight = 32;

// ---- XML ------------------------------------------------------------------------

// Reads the value element the reader stands on; leaves the reader after its end.
std::optional<QVariant> readValue(QXmlStreamReader& xml, int depth);

std::optional<QVariant> readDict(QXmlStreamReader& xml, int depth)
{
    QVariantMap map;
    while (xml.readNextStartElement()) {
        if (xml.name() != "key"_L1)
            return std::nullopt;
        const QString key = xml.readElementText();
        if (!xml.readNextStartElement())
            return std::nullopt;
        auto value = readValue(xml, depth);
        if (!value)
            return std::nullopt;
        map.insert(key, *value);
    }
    if (xml.hasError())
        return std::nullopt;
    return QVariant(map);
}

std::optional<QVariant> readArray(QXmlStreamReader& xml, int depth)
{
    QVariantList list;
    while (xml.readNextStartElement()) {
        auto value = readValue(xml, depth);
        if (!value)
            return std::nullopt;
        list.push_back(*value);
    }
    if (xml.hasError())
        return std::nullopt;
    return QVariant(list);
}

// The only form a list writes: "2024-05-01T12:00:00Z".
std::optional<QVariant> dateFromText(const QString& text)
{
    const QDateTime date = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    if (!date.isValid() || !text.trimmed().endsWith(u'Z'))
        return std::nullopt;
    return QVariant(date.toUTC());
}

std::optional<QVariant> readValue(QXmlStreamReader& xml, int depth)
{
    if (++depth > kMaxDepth)
        return std::nullopt;
    const auto name = xml.name();
    if (name == "dict"_L1)
        return readDict(xml, depth);
    if (name == "array"_L1)
        return readArray(xml, depth);
    if (name == "string"_L1)
        return QVariant(xml.readElementText());
    if (name == "date"_L1)
        return dateFromText(xml.readElementText());
    if (name == "integer"_L1) {
        bool ok = false;
        const qlonglong v = xml.readElementText().trimmed().toLongLong(&ok);
        return ok ? std::optional(QVariant(v)) : std::nullopt;
    }
    if (name == "real"_L1) {
        bool ok = false;
        const double v = xml.readElementText().trimmed().toDouble(&ok);
        return ok ? std::optional(QVariant(v)) : std::nullopt;
    }
    if (name == "data"_L1) {
        QByteArray base64 = xml.readElementText().toLatin1();
        base64.replace(' ', "").replace('\t', "").replace('\n', "").replace('\r', "");
        auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
        return decoded ? std::optional(QVariant(*decoded)) : std::nullopt;
    }
    if (name == "true"_L1 || name == "false"_L1) {
        const bool v = name == "true"_L1;
        xml.skipCurrentElement();
        return QVariant(v);
    }
    return std::nullopt;
}

std::optional<QVariantMap> parseXml(const QByteArray& bytes)
{
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != "plist"_L1)
        return std::nullopt;
    if (!xml.readNextStartElement() || xml.name() != "dict"_L1)
        return std::nullopt;
    auto dict = readDict(xml, 1);
    if (!dict)
        return std::nullopt;
    return dict->toMap();
}

// ---- Binary ("bplist00") --------------------------------------------------------

// Whether XML can hold `text`: a binary list's text may name any UTF-16
// unit, but a list read here is written back as XML, which has no way to
// spell most control characters, U+FFFE, U+FFFF or half a surrogate pair. As
// the XML reader refuses such text, so does the binary one.
bool xmlCanCarry(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (!(c == u'\t' || c == u'\n' || c == u'\r' || (c >= 0x20 && c < 0xD800) || (c >= 0xE000 && c <= 0xFFFD)))
            return false;
    }
    return true;
}

class BinaryReader {
public:
    explicit BinaryReader(const QByteArray& bytes)
        : m_bytes(bytes)
    {
    }

    std::optional<QVariant> top()
    {
        constexpr qsizetype kHeader = 8;
        constexpr qsizetype kTrailer = 32;
        if (m_bytes.size() < kHeader + kTrailer + 1)
            return std::nullopt;
        const qsizetype trailer = m_bytes.size() - kTrailer;
        m_offsetSize = byte(trailer + 6);
        m_refSize = byte(trailer + 7);
        const auto count = unsignedAt(trailer + 8, 8);
        const auto top = unsignedAt(trailer + 16, 8);
        const auto table = unsignedAt(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8 || !count || !top || !table
            || *count == 0 || *top >= *count || *table < quint64(kHeader) || *table >= quint64(trailer)
            || (quint64(trailer) - *table) / quint64(m_offsetSize) < *count)
            return std::nullopt;
        m_count = *count;
        m_table = qsizetype(*table);
        return object(*top, 0);
    }

private:
    int byte(qsizetype at) const { return quint8(m_bytes[at]); }

    // A big-endian unsigned number of `size` bytes at `at`, inside the data.
    std::optional<quint64> unsignedAt(qsizetype at, int size) const
    {
        if (at < 0 || size < 1 || size > 8 || at > m_bytes.size() - size)
            return std::nullopt;
        quint64 value = 0;
        for (int i = 0; i < size; ++i)
            value = (value << 8) | quint64(byte(at + i));
        return value;
    }

    // The length that follows a marker: its low nibble, or an integer object
    // after it when the nibble is 0xF. `at` moves past what was read.
    std::optional<quint64> length(int marker, qsizetype& at) const
    {
        if ((marker & 0x0F) != 0x0F)
            return quint64(marker & 0x0F);
        if (at >= m_table || (byte(at) & 0xF0) != 0x10)
            return std::nullopt;
        const int size = 1 << (byte(at) & 0x0F);
        const auto value = unsignedAt(at + 1, size);
        at += 1 + size;
        if (!value || size > 8 || *value > quint64(std::numeric_limits<qsizetype>::max()))
            return std::nullopt;
        return value;
    }

    // Whether `count` items of `size` bytes starting at `at` lie before the offset table.
    bool fits(qsizetype at, quint64 count, quint64 size) const
    {
        return at <= m_table && count <= quint64(m_table - at) / size;
    }

    // Adds `bytes` to the decoded weight; false once past the cap.
    bool weigh(quint64 bytes)
    {
        m_weight += bytes;
        return m_weight <= kMaxDecodedBytes;
    }

    // The object at `index`, at nesting level `depth` + 1. A shared object
    // is decoded once, where it first appears, but nests its whole height
    // wherever it appears again: a list that holds, at its bottom, a list
    // read before is as deep as both.
    std::optional<QVariant> object(quint64 index, int depth)
    {
        if (index >= m_count || ++depth > kMaxDepth)
            return std::nullopt;
        if (const auto it = m_decoded.constFind(index); it != m_decoded.constEnd()) {
            if (depth - 1 + it->height > kMaxDepth || !weigh(it->weight))
                return std::nullopt;
            m_height = it->height;
            return it->value;
        }
        const quint64 before = m_weight;
        m_height = 0;
        auto value = decode(index, depth);
        if (!value || !weigh(kValueWeight))
            return std::nullopt;
        m_height += 1; // its own level over its deepest item's
        m_decoded.insert(index, Decoded{*value, m_weight - before, m_height});
        return value;
    }

    std::optional<QVariant> decode(quint64 index, int depth)
    {
        const auto offset = unsignedAt(m_table + qsizetype(index) * m_offsetSize, m_offsetSize);
        if (!offset || *offset < 8 || *offset >= quint64(m_table))
            return std::nullopt;
        qsizetype at = qsizetype(*offset);
        const int marker = byte(at++);
        switch (marker >> 4) {
        case 0x0:
            if (marker == 0x08 || marker == 0x09)
                return QVariant(marker == 0x09);
            return std::nullopt;
        case 0x1:
            return integer(marker, at);
        case 0x2:
        case 0x3:
            return realOrDate(marker, at);
        case 0x4:
        case 0x5:
        case 0x6:
            return dataOrText(marker, at);
        case 0xA:
        case 0xD:
            return container(marker, at, depth);
        default:
            return std::nullopt;
        }
    }

    // The objects by kind; `at` is just past the marker.
    std::optional<QVariant> integer(int marker, qsizetype at) const
    {
        // 1, 2 and 4 bytes are unsigned, 8 bytes signed (the cast
        // below); 16 bytes are beyond what a bundle's list holds.
        const int size = 1 << (marker & 0x0F);
        if (size > 8 || !fits(at, 1, quint64(size)))
            return std::nullopt;
        const quint64 value = *unsignedAt(at, size);
        return QVariant(qlonglong(value));
    }

    std::optional<QVariant> realOrDate(int marker, qsizetype at) const
    {
        const int size = marker == 0x33 ? 8 : 1 << (marker & 0x0F);
        if ((marker >> 4 == 0x3 && marker != 0x33) || (size != 4 && size != 8) || !fits(at, 1, quint64(size)))
            return std::nullopt;
        const quint64 raw = *unsignedAt(at, size);
        double value = 0;
        if (size == 4) {
            float single = 0;
            const quint32 bits = quint32(raw);
            std::memcpy(&single, &bits, sizeof single);
            value = single;
        } else {
            std::memcpy(&value, &raw, sizeof value);
        }
        if (marker != 0x33)
            return QVariant(value);
        // Seconds since the first instant of 2001, UTC.
        if (!(value > -1e11 && value < 1e11))
            return std::nullopt;
        static const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        return QVariant(epoch.addMSecs(qint64(value * 1000)));
    }

    std::optional<QVariant> dataOrText(int marker, qsizetype at)
    {
        const auto count = length(marker, at);
        const quint64 unit = marker >> 4 == 0x6 ? 2 : 1;
        if (!count || !fits(at, *count, unit) || !weigh(*count * 2))
            return std::nullopt;
        if (marker >> 4 == 0x4)
            return QVariant(m_bytes.mid(at, qsizetype(*count)));
        if (marker >> 4 == 0x5) {
            const QByteArray ascii = m_bytes.mid(at, qsizetype(*count));
            for (char c : ascii)
                if (quint8(c) > 0x7F)
                    return std::nullopt;
            const QString text = QString::fromLatin1(ascii);
            if (!xmlCanCarry(text))
                return std::nullopt;
            return QVariant(text);
        }
        QString text(qsizetype(*count), Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i)
            text[i] = QChar(char16_t(*unsignedAt(at + 2 * i, 2)));
        if (!xmlCanCarry(text))
            return std::nullopt;
        return QVariant(text);
    }

    std::optional<QVariant> container(int marker, qsizetype at, int depth)
    {
        const bool dict = marker >> 4 == 0xD;
        const auto count = length(marker, at);
        if (!count || !fits(at, *count * (dict ? 2 : 1), quint64(m_refSize)) || *count > quint64(kMaxValues))
            return std::nullopt;
        const auto ref = [&](quint64 i) { return *unsignedAt(at + qsizetype(i) * m_refSize, m_refSize); };
        int height = 0; // of its highest item
        const auto item = [&](quint64 i) {
            auto value = object(ref(i), depth);
            height = std::max(height, m_height);
            return value;
        };
        std::optional<QVariant> out;
        if (!dict) {
            QVariantList list;
            for (quint64 i = 0; i < *count; ++i) {
                auto value = item(i);
                if (!value)
                    return std::nullopt;
                list.push_back(*value);
            }
            out = QVariant(list);
        } else {
            QVariantMap map;
            for (quint64 i = 0; i < *count; ++i) {
                auto key = item(i);
                auto value = key ? item(*count + i) : std::nullopt;
                if (!key || key->typeId() != QMetaType::QString || !value)
                    return std::nullopt;
                map.insert(key->toString(), *value);
            }
            out = QVariant(map);
        }
        m_height = height;
        return out;
    }

    const QByteArray& m_bytes;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_count = 0;
    qsizetype m_table = 0; // where the offsets begin and the objects end
    struct Decoded {
        QVariant value;
        quint64 weight; // with everything it holds
        int height;     // levels, its own included
    };
    QHash<quint64, Decoded> m_decoded;
    quint64 m_weight = 0;
    int m_height = 0; // of the object last read, its own level included
};

// ---- Files ----------------------------------------------------------------------

// Everything `fd` holds; none on a read error or when it holds more than
// `limit` bytes (a file that grew while read).
std::optional<QByteArray> readAtMost(int fd, qsizetype limit)
{
    QByteArray bytes(limit + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        filled += n;
    }
    if (filled > limit)
        return std::nullopt;
    bytes.truncate(filled);
    return bytes;
}

// ---- Writing --------------------------------------------------------------------

void writeValue(QXmlStreamWriter& xml, const QVariant& value);

// A text element. A carriage return in text is written as a reference: XML
// readers take a raw one, alone or before a line feed, for a line feed.
void writeText(QXmlStreamWriter& xml, const QString& element, const QString& text)
{
    xml.writeStartElement(element);
    const QStringList lines = text.split(u'\r');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            xml.writeEntityReference(u"#xD"_s);
        if (!lines[i].isEmpty())
            xml.writeCharacters(lines[i]);
    }
    xml.writeEndElement();
}

void writeDict(QXmlStreamWriter& xml, const QVariantMap& map)
{
    xml.writeStartElement(u"dict"_s);
    for (auto it = map.begin(); it != map.end(); ++it) {
        writeText(xml, u"key"_s, it.key());
        writeValue(xml, it.value());
    }
    xml.writeEndElement();
}

void writeValue(QXmlStreamWriter& xml, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap:
        writeDict(xml, value.toMap());
        break;
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
        xml.writeStartElement(u"array"_s);
        for (const QVariant& v : value.toList())
            writeValue(xml, v);
        xml.writeEndElement();
        break;
    case QMetaType::Bool:
        xml.writeEmptyElement(value.toBool() ? u"true"_s : u"false"_s);
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        xml.writeTextElement(u"integer"_s, value.toString());
        break;
    case QMetaType::Double:
        xml.writeTextElement(u"real"_s, value.toString());
        break;
    case QMetaType::QByteArray:
        xml.writeTextElement(u"data"_s, QString::fromLatin1(value.toByteArray().toBase64()));
        break;
    case QMetaType::QDateTime:
        xml.writeTextElement(u"date"_s, value.toDateTime().toUTC().toString(Qt::ISODate));
        break;
    default:
        writeText(xml, u"string"_s, value.toString());
        break;
    }
}

} // namespace

std::optional<QVariantMap> parse(const QByteArray& bytes)
{
    if (bytes.size() > kMaxBytes)
        return std::nullopt;
    if (!bytes.startsWith("bplist00"))
        return parseXml(bytes);
    const std::optional<QVariant> top = BinaryReader(bytes).top();
    if (!top || top->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return top->toMap();
}

std::optional<QVariantMap> load(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    // Only a regular file: a named pipe or a device in a bundle's place
    // would block the reader or hand it endless bytes. The check before
    // opening spares a device the open; the one after closes the race.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxBytes)
        return std::nullopt;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxBytes)
        bytes = readAtMost(fd, qsizetype(st.st_size));
    ::close(fd);
    return bytes ? parse(*bytes) : std::nullopt;
}

QVariantMap readDictionary(const QString& path)
{
    return load(path).value_or(QVariantMap{});
}

std::optional<QString> text(const QVariantMap& dictionary, const QString& key)
{
    const auto it = dictionary.constFind(key);
    if (it == dictionary.constEnd() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

QByteArray serialize(const QVariantMap& dictionary)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDTD(u"<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"_s);
    xml.writeStartElement(u"plist"_s);
    xml.writeAttribute(u"version"_s, u"1.0"_s);
    writeDict(xml, dictionary);
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

} // namespace Hub::PropertyList
