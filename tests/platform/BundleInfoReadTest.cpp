#include "Base/HubError.h"
#include "Base/Process.h"
#include "Installer/InstallLocations.h"
#include "Installer/PluginInstaller.h"
#include "Installer/Signing/CodeSignature.h"
#include "Platform/PropertyList.h"

#include "BundleFactory.h"
#include "HostileLists.h"
#include "QStringPrinter.h"
#include "TestFiles.h"
#include "ToolsPaths.h"

#include <QTemporaryDir>
#include <QVariantList>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Hub::Shell::Result;
using Hub::Test::BundlePlan;
namespace BundleFactory = Hub::Test::BundleFactory;

// A binary list of encoded objects, the first one on top: one-byte
// references, two-byte offsets.
QByteArray binaryListOf(const QList<QByteArray>& objects)
{
    QByteArray out = "bplist00";
    QByteArray offsets;
    for (const QByteArray& object : objects) {
        offsets += char(out.size() >> 8) + QByteArray(1, char(out.size()));
        out += object;
    }
    const qsizetype table = out.size();
    out += offsets + QByteArray(6, '\0') + char(2) + char(1) + QByteArray(7, '\0') + char(objects.size())
           + QByteArray(8, '\0') + QByteArray(6, '\0') + char(table >> 8) + char(table);
    return out;
}

// A binary list of `top` (dictionaries, lists, texts and integers): every
// object once, one-byte references, two-byte offsets.
QByteArray binaryList(const QVariantMap& top)
{
    QList<QByteArray> objects;
    const auto marker = [](int kind, qsizetype count) {
        return count < 15 ? QByteArray(1, char(kind << 4 | int(count)))
                          : QByteArray(1, char(kind << 4 | 0xF)) + char(0x10) + char(count);
    };
    std::function<char(const QVariant&)> add = [&](const QVariant& value) {
        const qsizetype index = objects.size();
        objects.append(QByteArray());
        QByteArray object;
        if (value.typeId() == QMetaType::QVariantMap) {
            const QVariantMap map = value.toMap();
            object = marker(0xD, map.size());
            for (const QString& key : map.keys())
                object += add(key);
            for (const QVariant& item : map)
                object += add(item);
        } else if (value.typeId() == QMetaType::QVariantList) {
            object = marker(0xA, value.toList().size());
            for (const QVariant& item : value.toList())
                object += add(item);
        } else if (value.typeId() == QMetaType::LongLong) {
            object = QByteArray(1, '\x12');
            for (int shift = 24; shift >= 0; shift -= 8)
                object += char(value.toLongLong() >> shift);
        } else {
            object = marker(0x5, value.toString().size()) + value.toString().toLatin1();
        }
        objects[index] = object;
        return char(index);
    };
    add(top);
    return binaryListOf(objects);
}

// A binary list whose version reads "2.1.0" and whose "Padding" refers to
// one 64-character text through four levels of lists, each naming the next
// `fanOut` times. At 31, 700 bytes stand for 923,521 copies, about 150 MB
// once decoded copy by copy.
QByteArray amplifyingList(int fanOut)
{
    QList<QByteArray> objects{
        QByteArray("\xD2\x01\x03\x02\x04", 5),
        "\x5F\x10\x1A" "CFBundleShortVersionString",
        "\x55" "2.1.0",
        "\x57" "Padding",
    };
    for (int level = 0; level < 4; ++level)
        objects.append(QByteArray(1, '\xAF') + '\x10' + char(fanOut) + QByteArray(fanOut, char(objects.size() + 1)));
    objects.append("\x5F\x10\x40" + QByteArray(64, 'x'));
    return binaryListOf(objects);
}

// One way an information list can lie in a bundle, and what every reader
// must make of it: the version when it can be read as text, the component
// list when it survives.
struct InfoCase {
    const char* name;
    std::function<void(const QString& infoPlist, const BundlePlan& recipe)> write;
    std::optional<QString> version;
    bool componentsRead;
    std::optional<QString> plistBuddyPrints; // none: status 1
};

QByteArray xmlAround(const QByteArray& inside)
{
    return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" + inside + "</dict></plist>";
}

const QList<InfoCase>& infoCases()
{
    static const QList<InfoCase> cases{
        {"a binary list",
         [](const QString& path, const BundlePlan& recipe) {
             const auto dictionary = Hub::PropertyList::parse(BundleFactory::infoPlist(recipe));
             ASSERT_TRUE(dictionary);
             Hub::Test::writeFile(path, binaryList(*dictionary));
         },
         u"2.1.0"_s, true, u"2.1.0"_s},
        {"about forty thousand nested arrays",
         [](const QString& path, const BundlePlan& recipe) {
             QByteArray xml = BundleFactory::infoPlist(recipe);
             const QByteArray deep = "<key>Deep</key>" + QByteArray("<array>").repeated(40000)
                                     + QByteArray("</array>").repeated(40000);
             xml.insert(xml.lastIndexOf("</dict>"), deep);
             Hub::Test::writeFile(path, xml);
         },
         std::nullopt, false, std::nullopt},
        {"a date where the version belongs",
         [](const QString& path, const BundlePlan&) {
             Hub::Test::writeFile(path, xmlAround("<key>CFBundleShortVersionString</key><date>2024-05-01T12:00:00Z</date>"
                                                  "<key>AudioComponents</key><array><dict>"
                                                  "<key>type</key><string>aufx</string>"
                                                  "<key>subtype</key><string>Echo</string>"
                                                  "<key>manufacturer</key><string>Tarn</string></dict></array>"));
         },
         std::nullopt, true, u"2024-05-01T12:00:00Z"_s},
        {"a named pipe",
         [](const QString& path, const BundlePlan&) {
             QFile::remove(path);
             ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
         },
         std::nullopt, false, std::nullopt},
        {"a binary list whose shared references multiply it past the cap",
         [](const QString& path, const BundlePlan&) { Hub::Test::writeFile(path, amplifyingList(31)); },
         std::nullopt, false, std::nullopt},
        {"a list past the size cap",
         [](const QString& path, const BundlePlan& recipe) {
             QByteArray xml = BundleFactory::infoPlist(recipe);
             xml.insert(xml.lastIndexOf("</plist>"), QByteArray(9 * 1024 * 1024, ' '));
             Hub::Test::writeFile(path, xml);
         },
         std::nullopt, false, std::nullopt},
    };
    return cases;
}

// Runs a library read; a reader stuck on a pipe is freed by opening the
// pipe's other end, so the test fails instead of hanging.
template <typename Call>
auto finishing(const QString& infoPlist, Call&& call)
{
    auto result = std::async(std::launch::async, std::forward<Call>(call));
    if (result.wait_for(std::chrono::minutes(2)) == std::future_status::timeout) {
        ADD_FAILURE() << "the reader blocked";
        const int fd = ::open(QFile::encodeName(infoPlist).constData(), O_RDWR | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    return result.get();
}

TEST(BundleInfoRead, EveryReaderSurvivesHostileListsAndReadsBinaryOnes)
{
    for (const InfoCase& row : infoCases()) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        BundlePlan recipe;
        recipe.name = u"Echos.component"_s;
        recipe.shortVersion = u"2.1.0"_s;
        recipe.withComponent(u"aufx"_s, u"Echo"_s, u"Tarn"_s);
        const QString bundle = BundleFactory::create(dir.filePath(u"components"_s), recipe);
        const QString infoPlist = bundle + u"/Contents/Info.plist"_s;
        row.write(infoPlist, recipe);

        // The installed-copy scan.
        EXPECT_EQ(finishing(infoPlist, [&] { return Hub::InstallLocations::bundleVersion(bundle); }), row.version);

        // The staged bundle's check, before any signature is looked at.
        Hub::Artifact artifact;
        artifact.format = Hub::PluginFormat::au;
        artifact.bundle = u"Echos.component"_s;
        const QString staged = finishing(infoPlist, [&]() -> QString {
            try {
                Hub::PluginInstaller::verifyStaged(bundle, artifact, u"2.1.0"_s, false,
                                                   Hub::TrustAnchors::fromPem({}));
            } catch (const Hub::HubError& error) {
                return error.errorDescription();
            }
            return u"accepted"_s;
        });
        // A readable list lets the check go on to the (missing) signature.
        EXPECT_EQ(staged, row.version ? u"Echos.component has a broken signature, so the hub won't install it. "
                                        u"(code object is not signed at all)"_s
                                      : u"Echos.component is version ?, not 2.1.0. Try again later."_s);

        // The registration check and the all-users version read, as tools.
        const Result auval = Hub::Shell::run(Hub::Test::buildTreeTools().auval,
                                             {u"--folder"_s, dir.filePath(u"components"_s), u"-v"_s, u"aufx"_s, u"Echo"_s,
                                              u"Tarn"_s},
                                             120.0);
        EXPECT_EQ(auval.status, row.componentsRead ? 0 : 1) << auval.output.toStdString();
        const Result buddy = Hub::Shell::run(Hub::Test::buildTreeTools().plistBuddy,
                                             {u"-c"_s, u"Print :CFBundleShortVersionString"_s, infoPlist}, 120.0);
        if (row.plistBuddyPrints) {
            EXPECT_EQ(buddy, (Result{0, *row.plistBuddyPrints + u'\n'}));
        } else {
            EXPECT_EQ(buddy.status, 1) << buddy.output.toStdString();
            EXPECT_TRUE(buddy.output.startsWith(u"Error Reading File: "_s)) << buddy.output.toStdString();
        }
    }
}

TEST(BundleInfoRead, SharedReferencesInABinaryListDecodeAsCopiesWithinTheCap)
{
    const auto dictionary = Hub::PropertyList::parse(amplifyingList(3));
    ASSERT_TRUE(dictionary);
    EXPECT_EQ(Hub::PropertyList::text(*dictionary, u"CFBundleShortVersionString"_s), u"2.1.0"_s);
    QVariant level = dictionary->value(u"Padding"_s);
    for (int depth = 0; depth < 4; ++depth) {
        const QVariantList items = level.toList();
        ASSERT_EQ(items.size(), 3) << depth;
        EXPECT_EQ(items.first(), items.last());
        level = items.at(1);
    }
    EXPECT_EQ(level, QVariant(QString(64, u'x')));
}

// Levels of lists and dictionaries in `value`, its own included.
int levelsOf(const QVariant& value)
{
    int inside = 0;
    if (value.typeId() == QMetaType::QVariantList) {
        for (const QVariant& item : value.toList())
            inside = std::max(inside, levelsOf(item));
        return 1 + inside;
    }
    if (value.typeId() == QMetaType::QVariantMap) {
        for (const QVariant& item : value.toMap())
            inside = std::max(inside, levelsOf(item));
        return 1 + inside;
    }
    return 0;
}

// A list a binary list names a second time nests its whole depth there too:
// sharing lists cannot take a small list past the 256 levels.
TEST(BundleInfoRead, SharedListsNestNoDeeperThanTheCap)
{
    struct Case {
        int chains;
        int length;
        bool read;
    };
    for (const Case& c : {Case{1, 255, true}, Case{3, 85, true}, Case{2, 128, false}, Case{3, 86, false},
                          Case{40, 100, false}, Case{200, 100, false}}) {
        SCOPED_TRACE(testing::Message() << c.chains << " chains of " << c.length);
        const std::optional<QVariantMap> dictionary =
            Hub::PropertyList::parse(Hub::Test::sharedNestingList(c.chains, c.length));
        EXPECT_EQ(dictionary.has_value(), c.read);
        if (dictionary) {
            EXPECT_EQ(levelsOf(*dictionary), 1 + c.chains * c.length);
        }
    }
}

// Text in a binary list is read only when the list, written back as XML,
// reads the same: a carriage return survives the trip; characters XML cannot
// spell are refused, as the XML reader refuses them.
TEST(BundleInfoRead, BinaryTextReadsTheSameOnceWrittenBack)
{
    struct Case {
        const char* name;
        QByteArray text; // the encoded text object
        std::optional<QString> read;
    };
    for (const Case& c : {
             Case{"line ends of either kind", QByteArray("\x55" "a\r\nb\r", 6), u"a\r\nb\r"_s},
             Case{"a pair of halves", QByteArray("\x62\xD8\x3D\xDE\x00", 5), u"\U0001F600"_s},
             Case{"a control character", QByteArray("\x51\x01", 2), std::nullopt},
             Case{"U+FFFE", QByteArray("\x61\xFF\xFE", 3), std::nullopt},
             Case{"half a pair", QByteArray("\x62\xD8\x3D\x00\x41", 5), std::nullopt},
         }) {
        SCOPED_TRACE(c.name);
        const auto dictionary = Hub::PropertyList::parse(binaryListOf({"\xD1\x01\x02", "\x51k", c.text}));
        EXPECT_EQ(dictionary.has_value(), c.read.has_value());
        if (dictionary && c.read) {
            EXPECT_EQ(dictionary->value(u"k"_s), QVariant(*c.read));
            EXPECT_EQ(Hub::PropertyList::parse(Hub::PropertyList::serialize(*dictionary)), dictionary);
        }
    }
}

} // namespace
