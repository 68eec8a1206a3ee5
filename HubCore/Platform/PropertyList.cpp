#include "Platform/PropertyList.h"

#include <QFile>
#include <QVariantList>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

using namespace Qt::StringLiterals;

namespace Hub::PropertyList {

namespace {

// Reads the value element the reader stands on; leaves the reader after its end.
std::optional<QVariant> readValue(QXmlStreamReader& xml);

std::optional<QVariant> readDict(QXmlStreamReader& xml)
{
    QVariantMap map;
    while (xml.readNextStartElement()) {
        if (xml.name() != "key"_L1)
            return std::nullopt;
        const QString key = xml.readElementText();
        if (!xml.readNextStartElement())
            return std::nullopt;
        auto value = readValue(xml);
        if (!value)
            return std::nullopt;
        map.insert(key, *value);
    }
    if (xml.hasError())
        return std::nullopt;
    return QVariant(map);
}

std::optional<QVariant> readArray(QXmlStreamReader& xml)
{
    QVariantList list;
    while (xml.readNextStartElement()) {
        auto value = readValue(xml);
        if (!value)
            return std::nullopt;
        list.push_back(*value);
    }
    if (xml.hasError())
        return std::nullopt;
    return QVariant(list);
}

std::optional<QVariant> readValue(QXmlStreamReader& xml)
{
    const auto name = xml.name();
    if (name == "dict"_L1)
        return readDict(xml);
    if (name == "array"_L1)
        return readArray(xml);
    if (name == "string"_L1 || name == "date"_L1)
        return QVariant(xml.readElementText());
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
    if (name == "data"_L1)
        return QVariant(QByteArray::fromBase64(xml.readElementText().toLatin1()));
    if (name == "true"_L1 || name == "false"_L1) {
        const bool v = name == "true"_L1;
        xml.skipCurrentElement();
        return QVariant(v);
    }
    return std::nullopt;
}

void writeValue(QXmlStreamWriter& xml, const QVariant& value);

void writeDict(QXmlStreamWriter& xml, const QVariantMap& map)
{
    xml.writeStartElement(u"dict"_s);
    for (auto it = map.begin(); it != map.end(); ++it) {
        xml.writeTextElement(u"key"_s, it.key());
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
    default:
        xml.writeTextElement(u"string"_s, value.toString());
        break;
    }
}

} // namespace

std::optional<QVariantMap> parse(const QByteArray& bytes)
{
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != "plist"_L1)
        return std::nullopt;
    if (!xml.readNextStartElement() || xml.name() != "dict"_L1)
        return std::nullopt;
    auto dict = readDict(xml);
    if (!dict)
        return std::nullopt;
    return dict->toMap();
}

QVariantMap readDictionary(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Info.plist files are small; a huge one is not a bundle's.
    return parse(file.read(8 * 1024 * 1024)).value_or(QVariantMap{});
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
