#include "Platform/FileMoves.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
