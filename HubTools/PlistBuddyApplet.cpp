#include "Applets.h"

#include "Platform/PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QVariantList>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

// PlistBuddy -c "Print[ :Key[:Key...]]" FILE
//
// Prints the value and exits 0; a missing file, a file that is not a
// property list or a missing entry prints an error and exits 1. Array
// entries are addressed by their index. Only the Print command is known.

namespace {

void print(const QVariant& value, int indent, QByteArray& out)
{
    const QByteArray pad(indent * 4, ' ');
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        out += "Dict {\n";
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            out += pad + "    " + it.key().toUtf8() + " = ";
            print(it.value(), indent + 1, out);
            out += '\n';
        }
        out += pad + '}';
        break;
    }
    case QMetaType::QVariantList: {
        out += "Array {\n";
        for (const QVariant& item : value.toList()) {
            out += pad + "    ";
            print(item, indent + 1, out);
            out += '\n';
        }
        out += pad + '}';
        break;
    }
    case QMetaType::Bool:
        out += value.toBool() ? "true" : "false";
        break;
    case QMetaType::QByteArray:
        out += value.toByteArray();
        break;
    case QMetaType::QDateTime:
        out += value.toDateTime().toUTC().toString(Qt::ISODate).toUtf8();
        break;
    default:
        out += value.toString().toUtf8();
        break;
    }
}

int fail(const QByteArray& message)
{
    std::fprintf(stderr, "%s\n", message.constData());
    return 1;
}

} // namespace

int plistBuddyMain(int argc, char** argv)
{
    if (argc != 4 || qstrcmp(argv[1], "-c") != 0) {
        std::fputs("usage: PlistBuddy -c \"Print[ :Key]\" file\n", stderr);
        return 2;
    }
    const QByteArray command = QByteArray(argv[2]).trimmed();
    const QString path = QString::fromLocal8Bit(argv[3]);
    if (command != "Print" && !command.startsWith("Print "))
        return fail("Unrecognized Command");
    const QByteArray entry = command.mid(5).trimmed();

    if (!QFileInfo::exists(path))
        return fail("File Doesn't Exist: " + QFile::encodeName(path));
    const auto root = Hub::PropertyList::load(path);
    if (!root)
        return fail("Error Reading File: " + QFile::encodeName(path));

    QVariant value = *root;
    const QList<QByteArray> keys = entry.isEmpty() ? QList<QByteArray>{} : entry.split(':');
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QByteArray& key = keys[i];
        if (i == 0 && key.isEmpty())
            continue; // the leading ":"
        bool found = false;
        if (value.typeId() == QMetaType::QVariantMap) {
            const QVariantMap map = value.toMap();
            const QString name = QString::fromUtf8(key);
            if (map.contains(name)) {
                value = map.value(name);
                found = true;
            }
        } else if (value.typeId() == QMetaType::QVariantList) {
            bool numeric = false;
            const int index = key.toInt(&numeric);
            const QVariantList list = value.toList();
            if (numeric && index >= 0 && index < list.size()) {
                value = list.at(index);
                found = true;
            }
        }
        if (!found)
            return fail("Print: Entry, \"" + entry + "\", Does Not Exist");
    }
    QByteArray out;
    print(value, 0, out);
    out += '\n';
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return 0;
}
