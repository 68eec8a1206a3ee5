#include "Applets.h"

#include "Platform/SecureExtract.h"
#include "Platform/ToolPaths.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ditto's three modes that the installer runs:
//   ditto -c -k [--keepParent] SOURCE ARCHIVE.zip   create a zip
//   ditto -x -k ARCHIVE.zip FOLDER                  extract a zip
//   ditto [--noacl] SOURCE DESTINATION              copy a tree
// Extraction checks the whole archive before it writes anything: a download
// or backup that names a path outside the folder is refused untouched.

namespace fs = std::filesystem;

namespace {

using ReadPtr = std::unique_ptr<archive, decltype(&archive_read_free)>;
using WritePtr = std::unique_ptr<archive, decltype(&archive_write_free)>;

int fail(const std::string& message)
{
    std::fprintf(stderr, "ditto: %s\n", message.c_str());
    return 1;
}

// The same, with the status that tells a full disk from other failures.
int fail(const std::string& message, int error)
{
    const int status = fail(message);
    return error == ENOSPC || error == EDQUOT ? Hub::kToolExitDiskFull : status;
}

int usage()
{
    std::fputs("usage: ditto -c -k [--keepParent] source archive.zip\n"
               "       ditto -x -k archive.zip folder\n"
               "       ditto [--noacl] source destination\n",
               stderr);
    return 2;
}

// --- create ------------------------------------------------------------

// Archives are made at the fastest deflate level, and a file whose first
// bytes do not shrink at that level is stored as it is: sampled audio,
// images and compressed resources make up most of a plug-in, and deflating
// them costs seconds per hundred megabytes for nothing. Any zip reader
// unpacks both kinds of entry.
constexpr std::size_t kSampleBytes = 64 * 1024;
constexpr std::size_t kSmallFile = 4 * 1024;

bool shrinks(const char* path, la_int64_t size)
{
    if (size <= la_int64_t(kSmallFile))
        return true;
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true; // the reader reports the real problem
    std::vector<Bytef> sample(std::min<std::size_t>(kSampleBytes, std::size_t(size)));
    const ssize_t got = ::pread(fd, sample.data(), sample.size(), 0);
    ::close(fd);
    if (got <= 0)
        return true;
    uLongf packedSize = compressBound(uLong(got));
    std::vector<Bytef> packed(packedSize);
    if (compress2(packed.data(), &packedSize, sample.data(), uLong(got), Z_BEST_SPEED) != Z_OK)
        return true;
    // Less than a tenth saved is not worth deflating the whole file for.
    return packedSize < uLongf(got) - uLongf(got) / 10;
}

int copyData(archive* disk, archive* zip)
{
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        const int r = archive_read_data_block(disk, &block, &size, &offset);
        if (r == ARCHIVE_EOF)
            return ARCHIVE_OK;
        if (r < ARCHIVE_WARN)
            return r;
        if (archive_write_data(zip, block, size) < 0)
            return ARCHIVE_FATAL;
    }
}

int createZip(const std::string& source, const std::string& destination, bool keepParent)
{
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0)
        return fail(source + ": " + std::strerror(errno));

    ReadPtr disk(archive_read_disk_new(), archive_read_free);
    WritePtr zip(archive_write_new(), archive_write_free);
    // Links are archived as links, never followed.
    archive_read_disk_set_symlink_physical(disk.get());
    archive_write_set_format_zip(zip.get());
    // Each entry's data goes straight to the file, without another copy
    // through a block buffer.
    archive_write_set_bytes_per_block(zip.get(), 0);
    if (archive_write_set_format_option(zip.get(), "zip", "compression-level", "1") != ARCHIVE_OK)
        return fail(std::string("compression: ") + archive_error_string(zip.get()));
    if (archive_write_open_filename(zip.get(), destination.c_str()) != ARCHIVE_OK)
        return fail(destination + ": " + archive_error_string(zip.get()), archive_errno(zip.get()));

    // The writer's errno decides the status, taken before the writer goes.
    auto abandon = [&](const std::string& message) {
        const int error = archive_errno(zip.get());
        zip.reset();
        ::unlink(destination.c_str());
        return fail(message, error);
    };

    const std::string parentName = fs::path(source).lexically_normal().filename().string();
    std::string root = fs::path(source).lexically_normal().string();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    if (archive_read_disk_open(disk.get(), root.c_str()) != ARCHIVE_OK)
        return abandon(root + ": " + archive_error_string(disk.get()));

    for (;;) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), archive_entry_free);
        const int r = archive_read_next_header2(disk.get(), entry.get());
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return abandon(archive_error_string(disk.get()));
        archive_read_disk_descend(disk.get());

        std::string path = archive_entry_pathname(entry.get());
        std::string relative = path.size() > root.size() ? path.substr(root.size() + 1) : std::string();
        if (keepParent)
            relative = relative.empty() ? parentName : parentName + '/' + relative;
        if (relative.empty())
            continue;
        archive_entry_set_pathname(entry.get(), relative.c_str());
        // Owners and groups of this machine mean nothing on another.
        archive_entry_set_uid(entry.get(), 0);
        archive_entry_set_gid(entry.get(), 0);
        archive_entry_set_uname(entry.get(), nullptr);
        archive_entry_set_gname(entry.get(), nullptr);
        if (archive_entry_filetype(entry.get()) == AE_IFREG) {
            const bool deflate = shrinks(archive_entry_sourcepath(entry.get()), archive_entry_size(entry.get()));
            if ((deflate ? archive_write_zip_set_compression_deflate(zip.get())
                         : archive_write_zip_set_compression_store(zip.get()))
                != ARCHIVE_OK)
                return abandon(std::string("compression: ") + archive_error_string(zip.get()));
        }
        if (archive_write_header(zip.get(), entry.get()) < ARCHIVE_WARN)
            return abandon(relative + ": " + archive_error_string(zip.get()));
        if (archive_entry_filetype(entry.get()) == AE_IFREG && archive_entry_size(entry.get()) > 0
            && copyData(disk.get(), zip.get()) != ARCHIVE_OK) {
            const char* why = archive_error_string(zip.get()) ? archive_error_string(zip.get())
                                                              : archive_error_string(disk.get());
            return abandon(relative + ": " + (why ? why : "write failed"));
        }
    }
    if (archive_write_close(zip.get()) != ARCHIVE_OK)
        return abandon(destination + ": " + archive_error_string(zip.get()));
    return 0;
}

// --- extract ---------------------------------------------------------

int extractZip(const std::string& archivePath, const std::string& folder)
{
    try {
        // Checked before the folder is made: a refused archive leaves nothing.
        const Hub::SecureExtract::Checked checked =
            Hub::SecureExtract::check(QFile::decodeName(archivePath.c_str()), Hub::SecureExtract::Formats::zip);
        // The first folder this call makes, so that a damaged archive takes
        // it away again and leaves nothing.
        fs::path made;
        for (fs::path at = fs::absolute(folder); !at.empty() && !fs::exists(fs::symlink_status(at));
             at = at.parent_path())
            made = at;
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec)
            return fail(folder + ": " + ec.message(), ec.value());
        try {
            Hub::SecureExtract::extract(checked, QFile::decodeName(folder.c_str()));
        } catch (const Hub::SecureExtract::Error&) {
            if (!made.empty())
                fs::remove_all(made, ec);
            throw;
        }
    } catch (const Hub::SecureExtract::Error& error) {
        return fail(error.message().toLocal8Bit().toStdString(),
                    error.kind() == Hub::SecureExtract::Error::Kind::diskFull ? ENOSPC : 0);
    }
    return 0;
}

// --- copy --------------------------------------------------------------

int copyTree(const std::string& source, const std::string& destination)
{
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(source, ec);
    if (ec || !fs::exists(status))
        return fail(source + ": " + (ec ? ec.message() : std::string("No such file or directory")));
    const fs::path parent = fs::path(destination).parent_path();
    if (!parent.empty())
        fs::create_directories(parent, ec);
    if (ec)
        return fail(parent.string() + ": " + ec.message());
    // Links are copied as links; access-control lists and extended
    // attributes are never copied.
    fs::copy(source, destination,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks | fs::copy_options::overwrite_existing,
             ec);
    if (ec)
        return fail(destination + ": " + ec.message(), ec.value());
    if (fs::is_directory(status)) {
        fs::permissions(destination, status.permissions(), fs::perm_options::replace, ec);
        if (ec)
            return fail(destination + ": " + ec.message());
    }
    return 0;
}

} // namespace

int dittoMain(int argc, char** argv)
{
    bool create = false;
    bool extract = false;
    bool zipFormat = false;
    bool keepParent = false;
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-c")
            create = true;
        else if (argument == "-x")
            extract = true;
        else if (argument == "-k")
            zipFormat = true;
        else if (argument == "--keepParent")
            keepParent = true;
        else if (argument == "--noacl")
            continue;
        else if (argument.size() > 1 && argument.front() == '-')
            return usage();
        else
            operands.push_back(argument);
    }
    if (operands.size() != 2 || (create && extract))
        return usage();
    if (create || extract) {
        if (!zipFormat)
            return fail("only zip archives (-k) are supported");
        return create ? createZip(operands[0], operands[1], keepParent) : extractZip(operands[0], operands[1]);
    }
    if (zipFormat || keepParent)
        return usage();
    return copyTree(operands[0], operands[1]);
}
