#include "Platform/FileMoves.h"
#include "Platform/Trash.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Hub::Test::readFile;
using Hub::Test::writeFile;

namespace {

namespace Trash = Hub::Trash;

class DesktopTrash : public ::testing::Test {
protected:
    QString home() const { return m_dir.filePath(u"home"_s); }
    QString files() const { return home() + u"/.local/share/Trash/files"_s; }
    QString info() const { return home() + u"/.local/share/Trash/info"_s; }
    QString item(const QString& relative, const QByteArray& content)
    {
        const QString path = m_dir.filePath(u"plugins/"_s + relative);
        writeFile(path, content);
        return path;
    }

    const QDateTime m_when{QDate(2024, 3, 5), QTime(14, 7, 9)};
    QTemporaryDir m_dir;
};

TEST_F(DesktopTrash, AnItemGoesToFilesWithAnInfoRecordTheFileManagerCanRestoreFrom)
{
    const QString bundle = m_dir.filePath(u"plugins/My Échos 100%.vst3"_s);
    writeFile(bundle + u"/Contents/MacOS/Echos"_s, "binary");

    const QString moved = Trash::moveToTrash(bundle, home(), m_when);

    EXPECT_EQ(moved, files() + u"/My Échos 100%.vst3"_s);
    EXPECT_EQ(readFile(moved + u"/Contents/MacOS/Echos"_s), "binary");
    EXPECT_FALSE(QFileInfo::exists(bundle));
    const QByteArray expectedPath = QFile::encodeName(m_dir.path()).replace(" ", "%20")
                                    + "/plugins/My%20%C3%89chos%20100%25.vst3";
    EXPECT_EQ(readFile(info() + u"/My Échos 100%.vst3.trashinfo"_s),
              "[Trash Info]\nPath=" + expectedPath + "\nDeletionDate=2024-03-05T14:07:09\n");
}

TEST_F(DesktopTrash, ANameInUseGetsANumberedNameAndNothingIsReplaced)
{
    EXPECT_EQ(Trash::moveToTrash(item(u"a/Foo.vst3"_s, "one"), home(), m_when), files() + u"/Foo.vst3"_s);
    EXPECT_EQ(Trash::moveToTrash(item(u"b/Foo.vst3"_s, "two"), home(), m_when), files() + u"/Foo 2.vst3"_s);
    EXPECT_EQ(Trash::moveToTrash(item(u"c/Foo.vst3"_s, "three"), home(), m_when), files() + u"/Foo 3.vst3"_s);
    EXPECT_EQ(Trash::moveToTrash(item(u"a/Foo"_s, "plain"), home(), m_when), files() + u"/Foo"_s);
    EXPECT_EQ(Trash::moveToTrash(item(u"b/Foo"_s, "plain two"), home(), m_when), files() + u"/Foo 2"_s);

    EXPECT_EQ(readFile(files() + u"/Foo.vst3"_s), "one");
    EXPECT_EQ(readFile(files() + u"/Foo 2.vst3"_s), "two");
    EXPECT_EQ(readFile(files() + u"/Foo 3.vst3"_s), "three");
    EXPECT_EQ(readFile(files() + u"/Foo 2"_s), "plain two");
    EXPECT_TRUE(readFile(info() + u"/Foo 2.vst3.trashinfo"_s).contains("/plugins/b/Foo.vst3\n"));
    EXPECT_TRUE(readFile(info() + u"/Foo 3.vst3.trashinfo"_s).contains("/plugins/c/Foo.vst3\n"));
}

TEST_F(DesktopTrash, AnOrphanedInfoRecordAlsoTakesItsName)
{
    writeFile(info() + u"/Bar.component.trashinfo"_s, "someone else's");
    EXPECT_EQ(Trash::moveToTrash(item(u"Bar.component"_s, "bar"), home(), m_when), files() + u"/Bar 2.component"_s);
    EXPECT_EQ(readFile(info() + u"/Bar.component.trashinfo"_s), "someone else's");
}

TEST_F(DesktopTrash, ALinkIsTrashedAsTheLink)
{
    const QString target = item(u"real.vst3"_s, "real");
    const QString link = m_dir.filePath(u"plugins/link.vst3"_s);
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
    const QString moved = Trash::moveToTrash(link, home(), m_when);
    EXPECT_TRUE(QFileInfo(moved).isSymLink());
    EXPECT_EQ(readFile(target), "real");
}

TEST_F(DesktopTrash, TheTrashFoldersArePrivate)
{
    Trash::moveToTrash(item(u"x.vst3"_s, "x"), home(), m_when);
    for (const QString& folder : {files(), info()}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder.toStdString();
    }
}

TEST_F(DesktopTrash, AFailedMoveLeavesTheItemAndNoInfoRecord)
{
    // A missing item.
    EXPECT_THROW(Trash::moveToTrash(m_dir.filePath(u"plugins/none.vst3"_s), home(), m_when), Hub::FileError);
    EXPECT_TRUE(QDir(info()).isEmpty() || !QFileInfo::exists(info()));

    // A Trash whose files folder is a file: nothing can go in.
    const QString kept = item(u"Kept.vst3"_s, "kept");
    writeFile(files(), "not a folder");
    EXPECT_THROW(Trash::moveToTrash(kept, home(), m_when), Hub::FileError);
    EXPECT_EQ(readFile(kept), "kept");
    EXPECT_TRUE(QDir(info()).entryList(QDir::Files).isEmpty());
}

TEST(TrashNames, NumberedCandidates)
{
    EXPECT_EQ(Trash::candidateName(u"Foo.component"_s, 1), u"Foo.component"_s);
    EXPECT_EQ(Trash::candidateName(u"Foo.component"_s, 2), u"Foo 2.component"_s);
    EXPECT_EQ(Trash::candidateName(u"Foo.bar.vst3"_s, 3), u"Foo.bar 3.vst3"_s);
    EXPECT_EQ(Trash::candidateName(u"Foo"_s, 2), u"Foo 2"_s);
    EXPECT_EQ(Trash::candidateName(u".hidden"_s, 2), u".hidden 2"_s);
}

} // namespace
