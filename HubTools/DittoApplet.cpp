#include "Applets.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
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

constexpr int kMaxLinkHops = 40;

using ReadPtr = std::unique_ptr<archive, decltype(&archive_read_free)>;
using WritePtr = std::unique_ptr<archive, decltype(&archive_write_free)>;

int fail(const std::string& message)
{
    std::fprintf(stderr, "ditto: %s\n", message.c_str());
    return 1;
}

int usage()
{
    std::fputs("usage: ditto -c -k [--keepParent] source archive.zip\n"
               "       ditto -x -k archive.zip folder\n"
               "       ditto [--noacl] source destination\n",
               stderr);
    return 2;
}

std::vector<std::string> components(const std::string& path)
{
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : path) {
        if (c == '/') {
            if (!piece.empty() && piece != ".")
                pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty() && piece != ".")
        pieces.push_back(piece);
    return pieces;
}

std::string joined(const std::vector<std::string>& pieces, size_t count)
{
    std::string path;
    for (size_t i = 0; i < count && i < pieces.size(); ++i) {
        if (i)
            path += '/';
        path += pieces[i];
    }
    return path;
}

// --- create ------------------------------------------------------------

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
    if (archive_write_open_filename(zip.get(), destination.c_str()) != ARCHIVE_OK)
        return fail(destination + ": " + archive_error_string(zip.get()));

    auto abandon = [&](const std::string& message) {
        zip.reset();
        ::unlink(destination.c_str());
        return fail(message);
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
        if (archive_write_header(zip.get(), entry.get()) < ARCHIVE_WARN)
            return abandon(relative + ": " + archive_error_string(zip.get()));
        if (archive_entry_filetype(entry.get()) == AE_IFREG && archive_entry_size(entry.get()) > 0
            && copyData(disk.get(), zip.get()) != ARCHIVE_OK)
            return abandon(relative + ": " + (archive_error_string(disk.get()) ? archive_error_string(disk.get())
                                                                                 : "write failed"));
    }
    if (archive_write_close(zip.get()) != ARCHIVE_OK)
        return abandon(destination + ": " + archive_error_string(zip.get()));
    return 0;
}

// --- extract -----------------------------------------------------------

struct EntryInfo {
    std::string path; // normalised, relative
    unsigned type = 0;
    std::string linkTarget;  // for symbolic links
    std::string hardlink;    // for hard links
};

// Follows `target` from the folder holding `linkPath` through the
// archive's own links; false when it would leave the extraction folder.
bool staysInside(const std::string& linkPath, const std::string& target,
                 const std::map<std::string, std::string>& links)
{
    if (target.empty() || target.front() == '/')
        return false;
    std::vector<std::string> stack = components(linkPath);
    stack.pop_back();
    std::deque<std::string> pending;
    for (auto& piece : components(target))
        pending.push_back(piece);
    // components() drops "."; ".." pieces stay and are handled below.
    int hops = 0;
    while (!pending.empty()) {
        const std::string piece = pending.front();
        pending.pop_front();
        if (piece == "..") {
            if (stack.empty())
                return false;
            stack.pop_back();
            continue;
        }
        stack.push_back(piece);
        const auto link = links.find(joined(stack, stack.size()));
        if (link == links.end())
            continue;
        if (++hops > kMaxLinkHops || link->second.empty() || link->second.front() == '/')
            return false;
        stack.pop_back();
        const auto more = components(link->second);
        pending.insert(pending.begin(), more.begin(), more.end());
    }
    return true;
}

std::optional<std::string> checkedPath(const char* raw)
{
    if (!raw || !*raw || raw[0] == '/')
        return std::nullopt;
    const auto pieces = components(raw);
    if (pieces.empty())
        return std::nullopt;
    for (const auto& piece : pieces)
        if (piece == "..")
            return std::nullopt;
    return joined(pieces, pieces.size());
}

ReadPtr openZip(const std::string& archivePath, std::string& error)
{
    ReadPtr reader(archive_read_new(), archive_read_free);
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), 1 << 16) != ARCHIVE_OK) {
        error = archivePath + ": " + archive_error_string(reader.get());
        reader.reset();
    }
    return reader;
}

// The whole archive's entries, or a refusal naming the first bad one.
std::optional<std::vector<EntryInfo>> survey(const std::string& archivePath, std::string& error)
{
    ReadPtr reader = openZip(archivePath, error);
    if (!reader)
        return std::nullopt;
    std::vector<EntryInfo> entries;
    std::map<std::string, std::string> links;
    archive_entry* entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN) {
            error = archivePath + ": " + archive_error_string(reader.get());
            return std::nullopt;
        }
        const char* raw = archive_entry_pathname(entry);
        const auto path = checkedPath(raw);
        if (!path) {
            error = std::string(raw ? raw : "") + ": refusing a path outside the destination";
            return std::nullopt;
        }
        EntryInfo info{*path, unsigned(archive_entry_filetype(entry)), {}, {}};
        if (const char* hard = archive_entry_hardlink(entry)) {
            const auto target = checkedPath(hard);
            if (!target) {
                error = *path + ": refusing a hard link outside the destination";
                return std::nullopt;
            }
            info.hardlink = *target;
        } else if (info.type == AE_IFLNK) {
            const char* target = archive_entry_symlink(entry);
            info.linkTarget = target ? target : "";
            links[*path] = info.linkTarget;
        } else if (info.type != AE_IFREG && info.type != AE_IFDIR) {
            error = *path + ": refusing a special file";
            return std::nullopt;
        }
        entries.push_back(std::move(info));
        if (archive_read_data_skip(reader.get()) < ARCHIVE_WARN) {
            error = archivePath + ": " + archive_error_string(reader.get());
            return std::nullopt;
        }
    }
    for (const EntryInfo& info : entries) {
        // Nothing may be written through a link of the archive itself.
        const auto pieces = components(info.path);
        for (size_t n = 1; n < pieces.size(); ++n) {
            if (links.count(joined(pieces, n))) {
                error = info.path + ": refusing a path through a symbolic link";
                return std::nullopt;
            }
        }
        if (info.type == AE_IFLNK && info.hardlink.empty() && !staysInside(info.path, info.linkTarget, links)) {
            error = info.path + ": refusing a symbolic link to " + info.linkTarget + " outside the destination";
            return std::nullopt;
        }
    }
    return entries;
}

int extractZip(const std::string& archivePath, const std::string& folder)
{
    std::string error;
    if (!survey(archivePath, error))
        return fail(error);

    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return fail(folder + ": " + ec.message());
    const std::string absoluteArchive = fs::absolute(archivePath, ec).string();
    // Entries are written relative to the folder, so the secure flags can
    // refuse every absolute name.
    if (::chdir(folder.c_str()) != 0)
        return fail(folder + ": " + std::strerror(errno));

    ReadPtr reader = openZip(absoluteArchive, error);
    if (!reader)
        return fail(error);
    WritePtr disk(archive_write_disk_new(), archive_write_free);
    archive_write_disk_set_options(disk.get(), ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_SYMLINKS
                                                   | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS | ARCHIVE_EXTRACT_PERM
                                                   | ARCHIVE_EXTRACT_TIME);
    archive_entry* entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return fail(archivePath + ": " + archive_error_string(reader.get()));
        // A plug-in never needs set-user-ID, set-group-ID or sticky bits, and
        // an extraction as root would otherwise keep them.
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        if (archive_write_header(disk.get(), entry) < ARCHIVE_WARN)
            return fail(std::string(archive_entry_pathname(entry)) + ": " + archive_error_string(disk.get()));
        if (archive_entry_size(entry) > 0) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            for (;;) {
                const int d = archive_read_data_block(reader.get(), &block, &size, &offset);
                if (d == ARCHIVE_EOF)
                    break;
                if (d < ARCHIVE_WARN)
                    return fail(std::string(archive_entry_pathname(entry)) + ": "
                                + archive_error_string(reader.get()));
                if (archive_write_data_block(disk.get(), block, size, offset) < ARCHIVE_WARN)
                    return fail(std::string(archive_entry_pathname(entry)) + ": " + archive_error_string(disk.get()));
            }
        }
        if (archive_write_finish_entry(disk.get()) < ARCHIVE_WARN)
            return fail(std::string(archive_entry_pathname(entry)) + ": " + archive_error_string(disk.get()));
    }
    if (archive_write_close(disk.get()) != ARCHIVE_OK)
        return fail(folder + ": " + archive_error_string(disk.get()));
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
        return fail(destination + ": " + ec.message());
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
