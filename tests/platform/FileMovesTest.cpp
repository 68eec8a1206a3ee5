#include "Platform/FileMoves.h"

#include "AsOtherUser.h"
#include "QStringPrinter.h"
#include "TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Hub::Test::readFile;
using Hub::Test::writeFile;

namespace {

namespace FileMoves = Hub::FileMoves;

mode_t modeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The subject side of the tests below: this executable, run again as another
// user, moves the job's "from" to its "to" and writes how that went.
constexpr char kSubjectVariable[] = "HUB_FILEMOVES_SUBJECT";

int runSubject(const QString& jobPath)
{
    const QMap<QString, QString> job = Hub::Test::readJob(jobPath);
    QString result = u"moved"_s;
    try {
        FileMoves::moveNoReplace(job[u"from"_s], job[u"to"_s]);
    } catch (const Hub::FileError& error) {
        result = u"refused "_s + QString::number(error.code().value());
    }
    try {
        Hub::Test::writeAll(job[u"result"_s], result.toUtf8());
    } catch (...) {
        return 3;
    }
    return 0;
}

[[maybe_unused]] ::testing::Environment* const kSubject =
    Hub::Test::addSubjectEnvironment(kSubjectVariable, runSubject);

// --- Nothing is ever replaced --------------------------------------------------

TEST(MoveNoReplace, AnExistingTargetRefusesTheMoveAndBothStay)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(u"new"_s), "new");
    writeFile(dir.filePath(u"old"_s), "old");
    try {
        FileMoves::moveNoReplace(dir.filePath(u"new"_s), dir.filePath(u"old"_s));
        ADD_FAILURE() << "the move replaced its target";
    } catch (const Hub::FileError& error) {
        EXPECT_EQ(error.code(), std::errc::file_exists);
        EXPECT_EQ(error.path(), dir.filePath(u"old"_s));
    }
    EXPECT_EQ(readFile(dir.filePath(u"new"_s)), "new");
    EXPECT_EQ(readFile(dir.filePath(u"old"_s)), "old");
}

TEST(MoveNoReplace, ADanglingLinkAtTheTargetCountsAsTaken)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(u"item"_s), "item");
    ASSERT_EQ(::symlink("/nonexistent", QFile::encodeName(dir.filePath(u"link"_s)).constData()), 0);
    EXPECT_THROW(FileMoves::moveNoReplace(dir.filePath(u"item"_s), dir.filePath(u"link"_s)), Hub::FileError);
    EXPECT_EQ(readFile(dir.filePath(u"item"_s)), "item");
}

TEST(MoveNoReplace, ALinkIsMovedAsTheLink)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(u"target"_s), "target");
    ASSERT_EQ(::symlink("target", QFile::encodeName(dir.filePath(u"link"_s)).constData()), 0);
    FileMoves::moveNoReplace(dir.filePath(u"link"_s), dir.filePath(u"moved"_s));
    EXPECT_EQ(QFileInfo(dir.filePath(u"moved"_s)).symLinkTarget(), dir.filePath(u"target"_s));
    EXPECT_EQ(readFile(dir.filePath(u"target"_s)), "target");
    EXPECT_FALSE(FileMoves::existsNoFollow(dir.filePath(u"link"_s)));
}

TEST(MoveNoReplace, AMissingItemIsAnError)
{
    QTemporaryDir dir;
    try {
        FileMoves::moveNoReplace(dir.filePath(u"none"_s), dir.filePath(u"to"_s));
        ADD_FAILURE();
    } catch (const Hub::FileError& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_EQ(error.description(), u"No such file or directory"_s);
        EXPECT_FALSE(error.isPermissionError());
    }
}

TEST(Exchange, TwoNamesSwapTheirItems)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(u"a/Contents/x"_s), "a");
    writeFile(dir.filePath(u"b/Contents/x"_s), "b");
    FileMoves::exchange(dir.filePath(u"a"_s), dir.filePath(u"b"_s));
    EXPECT_EQ(readFile(dir.filePath(u"a/Contents/x"_s)), "b");
    EXPECT_EQ(readFile(dir.filePath(u"b/Contents/x"_s)), "a");
    EXPECT_THROW(FileMoves::exchange(dir.filePath(u"a"_s), dir.filePath(u"missing"_s)), Hub::FileError);
    EXPECT_EQ(readFile(dir.filePath(u"a/Contents/x"_s)), "b");
}

// --- Across file systems: copy, then remove -------------------------------------

class AcrossFileSystems : public ::testing::Test {
protected:
    void SetUp() override
    {
        struct stat a {}, b {};
        if (::stat(QFile::encodeName(m_here.path()).constData(), &a) != 0 || !m_there.isValid()
            || ::stat(QFile::encodeName(m_there.path()).constData(), &b) != 0 || a.st_dev == b.st_dev)
            GTEST_SKIP() << "needs /dev/shm on a file system other than the temporary folder's";
    }

    QTemporaryDir m_here;
    QTemporaryDir m_there{u"/dev/shm/hubtest-XXXXXX"_s};
};

TEST_F(AcrossFileSystems, ABundleArrivesWholeWithModesAndLinks)
{
    const QString bundle = m_here.filePath(u"Echos.vst3"_s);
    writeFile(bundle + u"/Contents/MacOS/Echos"_s, "binary");
    ::chmod(QFile::encodeName(bundle + u"/Contents/MacOS/Echos"_s).constData(), 0755);
    writeFile(bundle + u"/Contents/Resources/a.txt"_s, "a");
    ::chmod(QFile::encodeName(bundle + u"/Contents/Resources"_s).constData(), 0750);
    ASSERT_EQ(::symlink("MacOS/Echos", QFile::encodeName(bundle + u"/Contents/current"_s).constData()), 0);

    const QString target = m_there.filePath(u"Echos.vst3"_s);
    FileMoves::moveNoReplace(bundle, target);

    EXPECT_FALSE(FileMoves::existsNoFollow(bundle));
    EXPECT_EQ(readFile(target + u"/Contents/MacOS/Echos"_s), "binary");
    EXPECT_EQ(modeOf(target + u"/Contents/MacOS/Echos"_s), 0755u);
    EXPECT_EQ(modeOf(target + u"/Contents/Resources"_s), 0750u);
    EXPECT_EQ(readFile(target + u"/Contents/Resources/a.txt"_s), "a");
    EXPECT_EQ(QFile::symLinkTarget(target + u"/Contents/current"_s), target + u"/Contents/MacOS/Echos"_s);
    EXPECT_TRUE(QFileInfo(target + u"/Contents/current"_s).isSymLink());
    // No partial copy is left beside it.
    EXPECT_EQ(QDir(m_there.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{u"Echos.vst3"_s});
}

// Every item below `root`, the root included: path, type and mode, owner and
// group, modification time to the nanosecond, then content or link target.
QStringList metadataListing(const QString& root)
{
    QStringList lines;
    const auto describe = [&](const QString& path, const QString& relative) {
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return lines.append(relative + u" <missing>"_s);
        QString line = relative + u' ' + QString::number(st.st_mode, 8) + u' ' + QString::number(st.st_uid) + u':'
                       + QString::number(st.st_gid) + u' ' + QString::number(st.st_mtim.tv_sec) + u'.'
                       + QString::number(st.st_mtim.tv_nsec);
        if (S_ISLNK(st.st_mode))
            line += u" -> "_s + QFile::decodeName(std::filesystem::read_symlink(Hub::Test::nativePath(path)).c_str());
        else if (S_ISREG(st.st_mode))
            line += u' ' + QString::fromUtf8(readFile(path));
        lines.append(line);
    };
    describe(root, u"."_s);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        describe(path, QDir(root).relativeFilePath(path));
    }
    lines.sort();
    return lines;
}

// A bundle whose items each carry their own mode, owner and time, with a
// read-only folder among them.
struct MetadataItem {
    QString path; // relative; a trailing "/" makes a folder, `link` a link
    mode_t mode;
    uid_t owner;
    QString link = {};
};

const MetadataItem kBundleItems[] = {
    {u"/"_s, 0755, 0},
    {u"Contents/"_s, 0750, 1234},
    {u"Contents/MacOS/"_s, 0755, 0},
    {u"Contents/MacOS/Echos"_s, 0755, 0},
    {u"Contents/Resources/preset.xml"_s, 0444, Hub::Test::kNobody},
    {u"Contents/Resources/"_s, 0555, Hub::Test::kNobody},
    {u"Contents/private"_s, 0600, 1234},
    {u"Contents/current"_s, 0777, 1234, u"MacOS/Echos"_s},
};

// Lays out the items under `bundle`; owners only when the test runs as root.
void makeBundle(const QString& bundle)
{
    for (const MetadataItem& item : kBundleItems) {
        const QString path = QDir::cleanPath(bundle + u'/' + item.path);
        if (!item.link.isEmpty()) {
            ASSERT_EQ(::symlink(QFile::encodeName(item.link).constData(), QFile::encodeName(path).constData()), 0);
        } else if (item.path.endsWith(u'/')) {
            QDir().mkpath(path);
        } else {
            writeFile(path, item.path.toUtf8());
        }
    }
    long long second = 1'000'000'000;
    for (const MetadataItem& item : kBundleItems) {
        const QByteArray path = QFile::encodeName(QDir::cleanPath(bundle + u'/' + item.path));
        if (::geteuid() == 0) {
            ASSERT_EQ(::lchown(path.constData(), item.owner, item.owner + 1), 0);
        }
        if (item.link.isEmpty()) {
            ASSERT_EQ(::chmod(path.constData(), item.mode), 0);
        }
        second += 86'400;
        const struct timespec times[2] = {{second, 123}, {second, 456'789}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
}

TEST_F(AcrossFileSystems, EveryItemKeepsItsModeTimeAndOwner)
{
    const QString bundle = m_here.filePath(u"Echos.vst3"_s);
    makeBundle(bundle);
    const QStringList before = metadataListing(bundle);

    const QString target = m_there.filePath(u"Echos.vst3"_s);
    FileMoves::moveNoReplace(bundle, target);

    EXPECT_FALSE(FileMoves::existsNoFollow(bundle));
    EXPECT_EQ(metadataListing(target), before);
}

// The bundle's read-only folder is the user's own, but the user cannot
// empty it.
TEST_F(AcrossFileSystems, AUserCannotMoveATreeWithAFolderTheyCannotEmptyAndBothSidesStay)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running the subject as another user needs root";
    QTemporaryDir out;
    const QString bundle = m_here.filePath(u"Echos.vst3"_s);
    makeBundle(bundle);
    for (const QString& root : {m_here.path(), m_there.path(), out.path()})
        Hub::Test::chownTree(root, Hub::Test::kNobody);
    const QStringList before = metadataListing(bundle);

    Hub::Test::writeJob(out.filePath(u"job"_s), {{u"from"_s, bundle},
                                                  {u"to"_s, m_there.filePath(u"Echos.vst3"_s)},
                                                  {u"result"_s, out.filePath(u"result"_s)}});
    ASSERT_EQ(Hub::Test::runSelfAsNobody(kSubjectVariable, out.filePath(u"job"_s)), 0);

    // Refused before the copy: removing the original would have stopped at
    // the read-only folder and left a gutted bundle behind.
    EXPECT_EQ(readFile(out.filePath(u"result"_s)), "refused " + QByteArray::number(EACCES));
    EXPECT_EQ(metadataListing(bundle), before);
    EXPECT_EQ(QDir(m_there.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(AcrossFileSystems, ATakenTargetLeavesTheOriginal)
{
    writeFile(m_here.filePath(u"X.vst3/f"_s), "mine");
    writeFile(m_there.filePath(u"X.vst3/f"_s), "theirs");
    EXPECT_THROW(FileMoves::moveNoReplace(m_here.filePath(u"X.vst3"_s), m_there.filePath(u"X.vst3"_s)),
                 Hub::FileError);
    EXPECT_EQ(readFile(m_here.filePath(u"X.vst3/f"_s)), "mine");
    EXPECT_EQ(readFile(m_there.filePath(u"X.vst3/f"_s)), "theirs");
}

} // namespace
