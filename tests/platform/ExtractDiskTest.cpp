#include "CraftedArchives.h"
#include "QStringPrinter.h"
#include "SmallDisk.h"
#include "TestFiles.h"

#include "Platform/FileMoves.h"
#include "Platform/SecureExtract.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Hub;
namespace SmallDisk = Hub::Test::SmallDisk;
using Kind = SecureExtract::Error::Kind;
using Hub::Test::CraftedEntry;
using Hub::Test::craftedZip;

namespace {

// A tar of regular files, in order, ending in its two empty blocks.
QByteArray tarOf(const QList<std::pair<QByteArray, QByteArray>>& files)
{
    std::vector<char> buffer(4 << 20);
    size_t used = 0;
    std::unique_ptr<archive, decltype(&archive_write_free)> tar(archive_write_new(), archive_write_free);
    archive_write_set_format_pax_restricted(tar.get());
    archive_write_set_bytes_in_last_block(tar.get(), 1);
    archive_write_open_memory(tar.get(), buffer.data(), buffer.size(), &used);
    for (const auto& [name, bytes] : files) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname(entry.get(), name.constData());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), bytes.size());
        EXPECT_EQ(archive_write_header(tar.get(), entry.get()), ARCHIVE_OK);
        EXPECT_EQ(archive_write_data(tar.get(), bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    EXPECT_EQ(archive_write_close(tar.get()), ARCHIVE_OK);
    return QByteArray(buffer.data(), qsizetype(used));
}

std::optional<SecureExtract::Error> extractionError(const QString& archive, SecureExtract::Formats formats,
                                                    const QString& folder)
{
    try {
        SecureExtract::extract(SecureExtract::check(archive, formats), folder);
    } catch (const SecureExtract::Error& error) {
        return error;
    }
    return std::nullopt;
}

class ExtractDiskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SmallDisk::available())
            GTEST_SKIP() << SmallDisk::why().toStdString();
        // A write into a pipe the extraction has closed must fail, not end the test.
        std::signal(SIGPIPE, SIG_IGN);
        m_disk = std::make_unique<QTemporaryDir>(SmallDisk::root() + u"/extract-XXXXXX"_s);
        ASSERT_TRUE(m_disk->isValid());
        m_folder = m_disk->filePath(u"out"_s);
        Hub::Test::writeAll(m_folder + u"/mine.txt"_s, "mine");
    }

    QStringList folderNow() const { return Hub::Test::treeListing(m_folder); }

    QTemporaryDir m_elsewhere; // archives, off the small disk
    std::unique_ptr<QTemporaryDir> m_disk;
    QString m_folder;
};

// ---- A disk that fills up during the extraction -------------------------------

struct FillRow {
    const char* name;
    bool beforeLastEntry; // else before the first
};

class ExtractOntoAFillingDisk : public ExtractDiskTest, public ::testing::WithParamInterface<FillRow> {};

// The archive comes through a named pipe, so the disk fills at a known
// point: after the extraction checked the free space, before the entry the
// row names.
TEST_P(ExtractOntoAFillingDisk, FailsAsDiskFullAndLeavesNoPaddedFile)
{
    const QByteArray last = Hub::Test::noise(64 * 1024, 7);
    const QByteArray tar =
        tarOf({{"Echo.vst3/Contents/Info.plist", "<plist/>\n"}, {"Echo.vst3/Contents/MacOS/Echo", last}});
    // The last entry's data begins where its padded data and the two end
    // blocks, counted back from the end, begin.
    const qsizetype lastData = tar.size() - 1024 - (last.size() + 511) / 512 * 512;
    const QString pipe = m_elsewhere.filePath(u"archive.tar"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString lastFile = m_folder + u"/Echo.vst3/Contents/MacOS/Echo"_s;
    const QStringList before = folderNow();

    const QByteArray pipeName = QFile::encodeName(pipe);
    const auto feed = [&](int fd, qsizetype from, qsizetype to) {
        for (qsizetype at = from; at < to;) {
            const ssize_t n = ::write(fd, tar.constData() + at, size_t(to - at));
            if (n <= 0)
                return;
            at += n;
        }
    };
    // Should a reader end without opening the pipe, its writer must not
    // wait for it for ever.
    const auto releaseWriter = [&] { ::close(::open(pipeName.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)); };

    // The check reads the archive whole, once.
    std::optional<SecureExtract::Checked> checked;
    {
        std::jthread whole([&] {
            const int fd = ::open(pipeName.constData(), O_WRONLY | O_CLOEXEC);
            feed(fd, 0, tar.size());
            ::close(fd);
        });
        try {
            checked = SecureExtract::check(pipe, SecureExtract::Formats::zipOrTar);
        } catch (const SecureExtract::Error& error) {
            ADD_FAILURE() << error.message().toStdString();
        }
        releaseWriter();
    }
    ASSERT_TRUE(checked);

    // Then the extraction reads it again, and the disk fills where the row says.
    std::atomic<bool> done = false;
    std::atomic<bool> filled = false;
    std::optional<SecureExtract::Error> error;
    {
        std::jthread feeder([&] {
            // Opened once the extraction has opened its end, after it
            // checked the free space.
            const int fd = ::open(pipeName.constData(), O_WRONLY | O_CLOEXEC);
            if (GetParam().beforeLastEntry) {
                // The last entry's header and its first bytes: the reader
                // gives out no header before it has some of what follows.
                feed(fd, 0, lastData + 4096);
                // The last entry's file is made from its header; by then
                // every entry before it is written in full.
                while (!done && !FileMoves::existsNoFollow(lastFile))
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                filled = SmallDisk::leaveFree(m_disk->path(), 0);
                feed(fd, lastData + 4096, tar.size());
            } else {
                filled = SmallDisk::leaveFree(m_disk->path(), 0);
                feed(fd, 0, tar.size());
            }
            ::close(fd);
        });
        try {
            SecureExtract::extract(*checked, m_folder);
        } catch (const SecureExtract::Error& failure) {
            error = failure;
        }
        done = true;
        releaseWriter();
    }

    ASSERT_TRUE(filled);
    ASSERT_TRUE(error) << "the extraction succeeded on a full disk";
    EXPECT_EQ(error->kind(), Kind::diskFull) << error->message().toStdString();
    EXPECT_EQ(folderNow(), before);
}

INSTANTIATE_TEST_SUITE_P(Extract, ExtractOntoAFillingDisk,
                         ::testing::Values(FillRow{"BeforeTheFirstEntry", false}, FillRow{"BeforeTheLastEntry", true}),
                         [](const ::testing::TestParamInfo<FillRow>& info) { return std::string(info.param.name); });

// ---- Archives that claim or hold more than they should ---------------------------

struct RefusalRow {
    enum Names { theFolder, theArchive, theEntry };
    const char* name;
    QByteArray (*archive)();
    SecureExtract::Formats formats;
    Kind kind;
    Names names; // what the refusal is about: a write that failed would name its entry
};

class RefusesBeforeWriting : public ExtractDiskTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(RefusesBeforeWriting, WithItsReasonAndLeavesTheFolderAsItWas)
{
    const RefusalRow& row = GetParam();
    const QString archive = m_elsewhere.filePath(u"archive"_s);
    Hub::Test::writeAll(archive, row.archive());
    const QStringList before = folderNow();
    const long long free = SmallDisk::freeBytes(m_disk->path());

    const std::optional<SecureExtract::Error> error = extractionError(archive, row.formats, m_folder);
    ASSERT_TRUE(error) << "the archive was extracted";
    EXPECT_EQ(error->kind(), row.kind) << error->message().toStdString();
    const QString subject = row.names == RefusalRow::theFolder    ? m_folder
                            : row.names == RefusalRow::theArchive ? archive
                                                               : u"small.bin"_s;
    EXPECT_EQ(error->subject(), subject);
    EXPECT_EQ(folderNow(), before);
    EXPECT_EQ(SmallDisk::freeBytes(m_disk->path()), free);
}

INSTANTIATE_TEST_SUITE_P(
    Extract, RefusesBeforeWriting,
    ::testing::Values(
        // 64 MB of zeros in a 64 kB zip, for a 2 MiB disk: refused by its
        // declared size against the free space, not by the disk filling up.
        RefusalRow{"BombLargerThanTheFreeSpace",
                   [] { return craftedZip({CraftedEntry{"zeros.bin", QByteArray(64 << 20, '\0'), 64u << 20}}); },
                   SecureExtract::Formats::zip, Kind::diskFull, RefusalRow::theFolder},
        // More than any one product may unpack to, refused from its header.
        RefusalRow{"ClaimPastTheCap", [] { return Hub::Test::claimingTar(9'000'000'000ull); },
                   SecureExtract::Formats::zipOrTar, Kind::tooLarge, RefusalRow::theArchive},
        // States a kilobyte, inflates to 16 MB: stopped at the first block
        // past what it declared.
        RefusalRow{"DataLargerThanDeclared",
                   [] { return craftedZip({CraftedEntry{"small.bin", QByteArray(16 << 20, '\0'), 1024}}); },
                   SecureExtract::Formats::zip, Kind::moreThanDeclared, RefusalRow::theEntry}),
    [](const ::testing::TestParamInfo<RefusalRow>& info) { return std::string(info.param.name); });

} // namespace
