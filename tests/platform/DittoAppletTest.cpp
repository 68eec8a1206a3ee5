#include "Base/Process.h"
#include "Platform/SecureExtract.h"

#include "BundleFactory.h"
#include "QStringPrinter.h"
#include "TestFiles.h"
#include "ToolsPaths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Hub::Shell::Result;
using Hub::Test::BundlePlan;
using Hub::Test::readFile;
namespace BundleFactory = Hub::Test::BundleFactory;

Result ditto(const QStringList& arguments)
{
    return Hub::Shell::run(Hub::Test::buildTreeTools().ditto, arguments, 60.0);
}

mode_t modeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Every path below `root`, relative, sorted; a dangling link counts.
QStringList tree(const QString& root)
{
    QStringList paths;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.push_back(QDir(root).relativeFilePath(it.next()));
    paths.sort();
    return paths;
}

// Random bytes stand for sampled audio; text and code shrink.
QByteArray noiseOf(quint32 seed)
{
    QByteArray noise(300 * 1024, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    return noise;
}

// A bundle with files that zip stores, deflates, and barely or never fills.
BundlePlan mixedBundle(const QByteArray& noise)
{
    BundlePlan recipe;
    recipe.name = u"Echos.vst3"_s;
    recipe.withFile(u"Contents/Resources/noise.bin"_s, noise)
        .withFile(u"Contents/Resources/text.txt"_s, QByteArray("delay feedback ").repeated(10000))
        .withFile(u"Contents/Resources/tiny.txt"_s, "x")
        .withFile(u"Contents/Resources/empty.txt"_s, QByteArray());
    return recipe;
}

// One entry of a zip that the test writes itself, hostile ones included.
struct ZipEntry {
    QByteArray path;
    unsigned type = AE_IFREG;
    int mode = 0644;
    QByteArray content;
    QByteArray linkTarget; // symbolic links
};

void writeZip(const QString& zipPath, const QList<ZipEntry>& entries)
{
    archive* zip = archive_write_new();
    archive_write_set_format_zip(zip);
    ASSERT_EQ(archive_write_open_filename(zip, QFile::encodeName(zipPath).constData()), ARCHIVE_OK);
    for (const ZipEntry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.path.constData());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, mode_t(e.mode));
        if (e.type == AE_IFLNK)
            archive_entry_set_symlink(entry, e.linkTarget.constData());
        archive_entry_set_size(entry, e.type == AE_IFREG ? e.content.size() : 0);
        ASSERT_EQ(archive_write_header(zip, entry), ARCHIVE_OK) << archive_error_string(zip);
        if (e.type == AE_IFREG && !e.content.isEmpty())
            archive_write_data(zip, e.content.constData(), size_t(e.content.size()));
        archive_entry_free(entry);
    }
    archive_write_close(zip);
    archive_write_free(zip);
}

// Each entry of a zip, in order: its name, and with `withMethod` how it is
// held ("uncompressed" or "deflation") after a blank.
QStringList zipEntries(const QString& zipPath, bool withMethod)
{
    QStringList entries;
    archive* reader = archive_read_new();
    archive_read_support_format_zip(reader);
    if (archive_read_open_filename(reader, QFile::encodeName(zipPath).constData(), 65536) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
            QString line = QString::fromUtf8(archive_entry_pathname(entry));
            if (withMethod)
                line += u' ' + QString::fromLatin1(archive_format_name(reader)).section(u'(', 1).chopped(1);
            entries.push_back(line);
        }
    }
    archive_read_free(reader);
    return entries;
}

QStringList zipNames(const QString& zipPath) { return zipEntries(zipPath, false); }

class Ditto : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QFileInfo(Hub::Test::buildTreeTools().ditto).isExecutable()); }

    // Extracts a hostile zip into a fresh folder holding one file of its own;
    // the refusal must leave that folder exactly as it was.
    void expectRefused(const QList<ZipEntry>& entries, const char* why)
    {
        SCOPED_TRACE(why);
        const QString zip = m_dir.filePath(u"hostile.zip"_s);
        QFile::remove(zip);
        writeZip(zip, entries);
        const QString out = m_dir.filePath(u"out/deeper"_s);
        QDir(m_dir.filePath(u"out"_s)).removeRecursively();
        QDir().mkpath(out);
        QFile mine(out + u"/mine.txt"_s);
        ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
        mine.write("mine");
        mine.close();

        const Result result = ditto({u"-x"_s, u"-k"_s, zip, out});
        EXPECT_NE(result.status, 0);
        EXPECT_TRUE(result.output.startsWith(u"ditto: "_s)) << result.output.toStdString();
        EXPECT_EQ(tree(m_dir.filePath(u"out"_s)), (QStringList{u"deeper"_s, u"deeper/mine.txt"_s}));
        EXPECT_EQ(readFile(out + u"/mine.txt"_s), "mine");
    }

    QTemporaryDir m_dir;
};

// --- Archive and unpack keep a bundle exactly ------------------------------------

TEST_F(Ditto, ABundleSurvivesTheRoundTripWithItsModesAndInternalLinks)
{
    BundlePlan recipe;
    recipe.name = u"Echos.vst3"_s;
    recipe.withFile(u"Contents/Resources/preset.xml"_s, "<preset/>")
        .withFile(u"Contents/Frameworks/Lib.framework/Versions/A/Lib"_s, "library")
        .withSymlink(u"Contents/Frameworks/Lib.framework/Versions/Current"_s, u"A"_s)
        .withSymlink(u"Contents/Frameworks/Lib.framework/Lib"_s, u"Versions/Current/Lib"_s);
    const QString bundle = BundleFactory::create(m_dir.filePath(u"src"_s), recipe);

    const QString zip = m_dir.filePath(u"Echos.zip"_s);
    Result result = ditto({u"-c"_s, u"-k"_s, u"--keepParent"_s, bundle, zip});
    ASSERT_EQ(result.status, 0) << result.output.toStdString();
    // One top-level entry: the bundle under its own name.
    for (const QString& name : zipNames(zip))
        EXPECT_TRUE(name == u"Echos.vst3/"_s || name.startsWith(u"Echos.vst3/"_s)) << name.toStdString();

    const QString out = m_dir.filePath(u"unpacked"_s);
    result = ditto({u"-x"_s, u"-k"_s, zip, out});
    ASSERT_EQ(result.status, 0) << result.output.toStdString();

    const QString copy = out + u"/Echos.vst3"_s;
    EXPECT_EQ(tree(copy), tree(bundle));
    EXPECT_EQ(readFile(copy + u"/Contents/Info.plist"_s), readFile(bundle + u"/Contents/Info.plist"_s));
    EXPECT_EQ(readFile(copy + u"/Contents/MacOS/Echos"_s), recipe.executable);
    EXPECT_EQ(modeOf(copy + u"/Contents/MacOS/Echos"_s), 0755u);
    EXPECT_TRUE(QFileInfo(copy + u"/Contents/Frameworks/Lib.framework/Lib"_s).isSymLink());
    EXPECT_EQ(readFile(copy + u"/Contents/Frameworks/Lib.framework/Lib"_s), "library");
    char target[64] = {};
    ASSERT_GT(::readlink(QFile::encodeName(copy + u"/Contents/Frameworks/Lib.framework/Versions/Current"_s).constData(),
                         target, sizeof target - 1),
              0);
    EXPECT_STREQ(target, "A");
}

TEST_F(Ditto, IncompressibleFilesAreStoredAndEveryByteComesBack)
{
    const QByteArray noise = noiseOf(11);
    const BundlePlan recipe = mixedBundle(noise);
    const QString bundle = BundleFactory::create(m_dir.filePath(u"src"_s), recipe);
    const QString zip = m_dir.filePath(u"Echos.zip"_s);
    ASSERT_EQ(ditto({u"-c"_s, u"-k"_s, u"--keepParent"_s, bundle, zip}).status, 0);

    const QStringList methods = zipEntries(zip, true);
    EXPECT_TRUE(methods.contains(u"Echos.vst3/Contents/Resources/noise.bin uncompressed"_s)) << methods.join(u", "_s).toStdString();
    EXPECT_TRUE(methods.contains(u"Echos.vst3/Contents/Resources/text.txt deflation"_s)) << methods.join(u", "_s).toStdString();
    EXPECT_LT(QFileInfo(zip).size(), noise.size() + 40 * 1024);

    const QString out = m_dir.filePath(u"unpacked"_s);
    ASSERT_EQ(ditto({u"-x"_s, u"-k"_s, zip, out}).status, 0);
    for (const char* file : {"noise.bin", "text.txt", "tiny.txt", "empty.txt"}) {
        const QString path = u"/Echos.vst3/Contents/Resources/"_s + QString::fromLatin1(file);
        EXPECT_EQ(readFile(out + path), readFile(m_dir.filePath(u"src"_s) + path)) << file;
    }
    EXPECT_EQ(tree(out + u"/Echos.vst3"_s), tree(bundle));
}

// The digests extraction reports are those of the bytes it left on disk,
// stored and deflated entries, one-byte and empty files alike; links and
// folders have none.
TEST_F(Ditto, ExtractionReportsTheDigestOfEveryFileItWrote)
{
    BundlePlan recipe = mixedBundle(noiseOf(7));
    recipe.withSymlink(u"Contents/Resources/link.txt"_s, u"tiny.txt"_s);
    const QString bundle = BundleFactory::create(m_dir.filePath(u"src"_s), recipe);
    const QString zip = m_dir.filePath(u"Echos.zip"_s);
    ASSERT_EQ(ditto({u"-c"_s, u"-k"_s, u"--keepParent"_s, bundle, zip}).status, 0);

    const QString out = m_dir.filePath(u"unpacked"_s);
    ASSERT_TRUE(QDir().mkpath(out));
    Hub::SecureExtract::WrittenFiles written;
    Hub::SecureExtract::extract(Hub::SecureExtract::check(zip, Hub::SecureExtract::Formats::zip), out, &written);

    QStringList files;
    for (const QString& path : tree(out)) {
        const QFileInfo info(out + u'/' + path);
        if (info.isFile() && !info.isSymLink())
            files.append(path);
    }
    QStringList reported;
    for (const auto& [path, file] : written.files) {
        reported.append(path);
        const QByteArray bytes = readFile(out + u'/' + path);
        EXPECT_EQ(file.size, bytes.size()) << path.toStdString();
        EXPECT_EQ(file.sha256, QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()) << path.toStdString();
    }
    EXPECT_EQ(reported, files);
    EXPECT_TRUE(files.contains(u"Echos.vst3/Contents/Resources/empty.txt"_s));
}

TEST_F(Ditto, WithoutKeepParentTheArchiveHoldsTheContents)
{
    BundlePlan recipe;
    recipe.name = u"Echos.component"_s;
    const QString bundle = BundleFactory::create(m_dir.filePath(u"src"_s), recipe);
    const QString zip = m_dir.filePath(u"contents.zip"_s);
    ASSERT_EQ(ditto({u"-c"_s, u"-k"_s, bundle, zip}).status, 0);
    EXPECT_TRUE(zipNames(zip).contains(u"Contents/Info.plist"_s));
}

TEST_F(Ditto, AFailedArchiveLeavesNoFile)
{
    const QString zip = m_dir.filePath(u"none.zip"_s);
    const Result result = ditto({u"-c"_s, u"-k"_s, u"--keepParent"_s, m_dir.filePath(u"missing.vst3"_s), zip});
    EXPECT_NE(result.status, 0);
    EXPECT_FALSE(result.output.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(zip));
}

// --- Hostile archives are refused before anything is written ----------------------

TEST_F(Ditto, DotDotPathsAreRefused)
{
    expectRefused({{"Echos.vst3/Contents/ok.txt", AE_IFREG, 0644, "fine", {}},
                   {"Echos.vst3/../../escaped.txt", AE_IFREG, 0644, "evil", {}}},
                  "dot-dot");
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(u"escaped.txt"_s)));
    expectRefused({{"../escaped.txt", AE_IFREG, 0644, "evil", {}}}, "leading dot-dot");
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(u"out/escaped.txt"_s)));
}

TEST_F(Ditto, AbsolutePathsAreRefused)
{
    const QByteArray absolute = QFile::encodeName(m_dir.filePath(u"absolute.txt"_s));
    expectRefused({{absolute, AE_IFREG, 0644, "evil", {}}}, "absolute");
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(u"absolute.txt"_s)));
}

TEST_F(Ditto, LinksLeavingTheFolderAreRefused)
{
    expectRefused({{"Echos.vst3/Contents/etc", AE_IFLNK, 0777, {}, "/etc"}}, "absolute link");
    expectRefused({{"Echos.vst3/Contents/up", AE_IFLNK, 0777, {}, "../../../.."}}, "relative link out");
    // Read as text, x -> self/.. stays inside the bundle; followed, self is
    // the extraction folder and self/.. its parent.
    expectRefused({{"Echos.vst3/self", AE_IFLNK, 0777, {}, ".."},
                   {"Echos.vst3/x", AE_IFLNK, 0777, {}, "self/.."}},
                  "links through links");
    expectRefused({{"Echos.vst3/a", AE_IFLNK, 0777, {}, "b"}, {"Echos.vst3/b", AE_IFLNK, 0777, {}, "a"}},
                  "a loop");
}

TEST_F(Ditto, WritingThroughALinkOfTheArchiveIsRefused)
{
    expectRefused({{"Echos.vst3/Contents", AE_IFLNK, 0777, {}, "Real"},
                   {"Echos.vst3/Contents/file", AE_IFREG, 0644, "x", {}}},
                  "through an internal link");
}

TEST_F(Ditto, SetIdBitsAreCleared)
{
    const QString zip = m_dir.filePath(u"setid.zip"_s);
    writeZip(zip, {{"Echos.vst3/", AE_IFDIR, 02755, {}, {}},
                   {"Echos.vst3/tool", AE_IFREG, 04755, "tool", {}},
                   {"Echos.vst3/group", AE_IFREG, 02711, "group", {}},
                   {"Echos.vst3/sticky", AE_IFDIR, 01777, {}, {}}});
    const QString out = m_dir.filePath(u"out"_s);
    const Result result = ditto({u"-x"_s, u"-k"_s, zip, out});
    ASSERT_EQ(result.status, 0) << result.output.toStdString();
    EXPECT_EQ(modeOf(out + u"/Echos.vst3/tool"_s), 0755u);
    EXPECT_EQ(modeOf(out + u"/Echos.vst3/group"_s), 0711u);
    EXPECT_EQ(modeOf(out + u"/Echos.vst3"_s), 0755u);
    EXPECT_EQ(modeOf(out + u"/Echos.vst3/sticky"_s), 0777u);
    EXPECT_EQ(readFile(out + u"/Echos.vst3/tool"_s), "tool");
}

TEST_F(Ditto, ACorruptArchiveFailsWithAMessage)
{
    const QString zip = m_dir.filePath(u"corrupt.zip"_s);
    QFile file(zip);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("PK\x03\x04", 4) + QByteArray(200, '\x5a'));
    file.close();
    const Result result = ditto({u"-x"_s, u"-k"_s, zip, m_dir.filePath(u"out"_s)});
    EXPECT_NE(result.status, 0);
    EXPECT_TRUE(result.output.startsWith(u"ditto: "_s)) << result.output.toStdString();
}

// --- A damaged archive fails whole ---------------------------------------------------

// Two deflated entries, then one of the ways a transfer or a disk damages
// them: each must fail, through the applet and through the library, and
// leave nothing of the archive behind.
struct Damage {
    const char* name;
    void (*apply)(QByteArray& zip);
};

qsizetype secondEntryOffset(const QByteArray& zip) { return zip.indexOf(QByteArray("PK\x03\x04", 4), 4); }

const Damage kDamages[] = {
    {"one bit flipped inside the first deflated entry",
     [](QByteArray& zip) { zip[secondEntryOffset(zip) / 2] = char(zip[secondEntryOffset(zip) / 2] ^ 0x10); }},
    {"cut short after the first entry", [](QByteArray& zip) { zip.truncate(secondEntryOffset(zip)); }},
    {"cut short inside the first entry", [](QByteArray& zip) { zip.truncate(secondEntryOffset(zip) - 8); }},
    {"the second entry cut short", [](QByteArray& zip) { zip.truncate(secondEntryOffset(zip) + 100); }},
};

TEST_F(Ditto, ADamagedZipFailsAndLeavesNothing)
{
    QByteArray text;
    for (int line = 0; line < 400; ++line)
        text += "preset line " + QByteArray::number(line * 7919 % 1000) + '\n';
    const QString good = m_dir.filePath(u"good.zip"_s);
    writeZip(good, {{"Echos.vst3/Contents/Resources/presets.txt", AE_IFREG, 0644, text, {}},
                    {"Echos.vst3/Contents/Resources/more.txt", AE_IFREG, 0644, text, {}}});
    const QByteArray intact = readFile(good);
    ASSERT_GT(secondEntryOffset(intact), 0);
    ASSERT_LT(secondEntryOffset(intact), text.size() / 2) << "the entries must be deflated";

    for (const Damage& damage : kDamages) {
        SCOPED_TRACE(damage.name);
        QByteArray bytes = intact;
        damage.apply(bytes);
        const QString zip = m_dir.filePath(u"damaged.zip"_s);
        Hub::Test::writeFile(zip, bytes);

        const QString out = m_dir.filePath(u"out"_s);
        const Result result = ditto({u"-x"_s, u"-k"_s, zip, out});
        EXPECT_NE(result.status, 0);
        EXPECT_TRUE(result.output.startsWith(u"ditto: "_s)) << result.output.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out)) << tree(out).join(u' ').toStdString();

        // Into a folder the caller made: it keeps only what it held.
        QDir().mkpath(out);
        Hub::Test::writeFile(out + u"/mine.txt"_s, "mine");
        EXPECT_THROW(Hub::SecureExtract::extract(Hub::SecureExtract::check(zip, Hub::SecureExtract::Formats::zip), out),
                     Hub::SecureExtract::Error);
        EXPECT_EQ(tree(out), QStringList{u"mine.txt"_s});
        QDir(out).removeRecursively();
    }
}

// --- Copy mode, for the all-users placement ----------------------------------------

TEST_F(Ditto, CopyKeepsLinksAndModes)
{
    BundlePlan recipe;
    recipe.name = u"Echos.vst3"_s;
    recipe.withSymlink(u"Contents/current"_s, u"MacOS/Echos"_s);
    const QString bundle = BundleFactory::create(m_dir.filePath(u"src"_s), recipe);
    const QString copy = m_dir.filePath(u"work/1/Echos.vst3"_s);
    const Result result = ditto({u"--noacl"_s, bundle, copy});
    ASSERT_EQ(result.status, 0) << result.output.toStdString();
    EXPECT_EQ(tree(copy), tree(bundle));
    EXPECT_TRUE(QFileInfo(copy + u"/Contents/current"_s).isSymLink());
    EXPECT_EQ(modeOf(copy + u"/Contents/MacOS/Echos"_s), 0755u);
    EXPECT_NE(ditto({u"--noacl"_s, m_dir.filePath(u"missing"_s), copy}).status, 0);
}

TEST_F(Ditto, UnknownCommandLinesAreUsageErrors)
{
    EXPECT_EQ(ditto({u"-x"_s, u"-k"_s, u"only-one"_s}).status, 2);
    EXPECT_EQ(ditto({u"--frobnicate"_s, u"a"_s, u"b"_s}).status, 2);
}

} // namespace
