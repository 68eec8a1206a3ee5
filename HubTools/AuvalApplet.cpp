#include "Applets.h"

#include "Base/Places.h"
#include "Platform/PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QVariantList>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

// auval -v TYPE SUBTYPE MANUFACTURER
//
// Answers whether an Audio Unit with those codes is installed, from the
// Components folders on disk: the user's, then the one for all users (see
// Places). The "--folder FOLDER" options given before -v replace those two
// (tests point them at a temporary tree).
// Codes are four characters or eight hexadecimal digits.
//
// Listed: the component's manufacturer and name lines, status 0.
// Not listed: "didn't find the component", status 1. Bad usage: status 2.

namespace {

int usage()
{
    std::fputs("usage: auval [--folder FOLDER]... -v TYPE SUBTYPE MANUFACTURER\n", stderr);
    return 2;
}

// A code as its four characters.
std::optional<QByteArray> codeOf(const QByteArray& text)
{
    QByteArray code;
    if (text.size() == 8) {
        bool ok = false;
        const uint value = text.toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        for (int shift = 24; shift >= 0; shift -= 8)
            code += char((value >> shift) & 0xFF);
    } else if (text.size() == 4) {
        code = text;
    } else {
        return std::nullopt;
    }
    for (const char c : code)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
            return std::nullopt;
    return code;
}

struct Found {
    QString path;
    QVariantMap component;
};

std::optional<Found> find(const QStringList& folders, const QByteArray& type, const QByteArray& subtype,
                          const QByteArray& manufacturer)
{
    for (const QString& path : folders) {
        const QDir folder(path);
        const QStringList names = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
        for (const QString& name : names) {
            if (!name.endsWith(u".component"_s, Qt::CaseInsensitive))
                continue;
            const QString bundle = folder.filePath(name);
            const QVariantMap info = Hub::PropertyList::readDictionary(bundle + u"/Contents/Info.plist"_s);
            for (const QVariant& entry : info.value(u"AudioComponents"_s).toList()) {
                const QVariantMap component = entry.toMap();
                if (Hub::PropertyList::text(component, u"type"_s) == QString::fromLatin1(type)
                    && Hub::PropertyList::text(component, u"subtype"_s) == QString::fromLatin1(subtype)
                    && Hub::PropertyList::text(component, u"manufacturer"_s) == QString::fromLatin1(manufacturer))
                    return Found{bundle, component};
            }
        }
    }
    return std::nullopt;
}

} // namespace

int auvalMain(int argc, char** argv)
{
    QStringList folders;
    int i = 1;
    while (i + 1 < argc && qstrcmp(argv[i], "--folder") == 0) {
        folders.push_back(QString::fromLocal8Bit(argv[i + 1]));
        i += 2;
    }
    if (argc - i != 4 || qstrcmp(argv[i], "-v") != 0)
        return usage();
    const auto type = codeOf(argv[i + 1]);
    const auto subtype = codeOf(argv[i + 2]);
    const auto manufacturer = codeOf(argv[i + 3]);
    if (!type || !subtype || !manufacturer)
        return usage();
    if (folders.isEmpty()) {
        const Hub::Places::Bases live = Hub::Places::of(QDir::homePath());
        folders = {Hub::Places::path(Hub::Places::Place::componentsUser, live),
                   Hub::Places::path(Hub::Places::Place::componentsAllUsers, live)};
    }

    std::printf("    AU Validation Tool (hubtools)\n\n"
                "--------------------------------------------------\n"
                "VALIDATING AUDIO UNIT: '%s' - '%s' - '%s'\n"
                "--------------------------------------------------\n",
                type->constData(), subtype->constData(), manufacturer->constData());
    const auto found = find(folders, *type, *subtype, *manufacturer);
    if (!found) {
        std::printf("FATAL ERROR: didn't find the component\n");
        return 1;
    }
    // "Maker: Product" is how components name themselves.
    const QString fullName = Hub::PropertyList::text(found->component, u"name"_s)
                                 .value_or(QFileInfo(found->path).completeBaseName());
    const qsizetype colon = fullName.indexOf(u": "_s);
    const QString maker = colon >= 0 ? fullName.left(colon) : QString::fromLatin1(*manufacturer);
    const QString name = colon >= 0 ? fullName.mid(colon + 2) : fullName;
    std::printf("Manufacturer String: %s\nAudioUnit Name: %s\nComponent Path: %s\n\n"
                "--------------------------------------------------\n"
                "AU VALIDATION SUCCEEDED.\n",
                maker.toUtf8().constData(), name.toUtf8().constData(), found->path.toUtf8().constData());
    return 0;
}
