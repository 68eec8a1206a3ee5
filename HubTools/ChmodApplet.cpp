#include "Applets.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/xattr.h>
#include <unistd.h>

// chmod [-R] [-f] -N FILE...
//
// Removes every access-control list: POSIX ACLs live in two extended
// attributes, and removing them is what `setfacl -b` does. A file without
// ACLs, or a file system without them, is already in the wanted state.
// Symbolic links are never followed. Every other chmod command line goes to
// the system's chmod unchanged.

namespace fs = std::filesystem;

namespace {

constexpr const char* kSystemChmod = "/bin/chmod";
constexpr const char* kAclAttributes[] = {"system.posix_acl_access", "system.posix_acl_default"};

bool stripAcls(const fs::path& path, bool quiet)
{
    for (const char* attribute : kAclAttributes) {
        if (::lremovexattr(path.c_str(), attribute) == 0 || errno == ENODATA || errno == ENOTSUP)
            continue;
        if (!quiet)
            std::fprintf(stderr, "chmod: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

int chmodMain(int argc, char** argv)
{
    bool recursive = false;
    bool quiet = false;
    bool strip = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string flags = argv[i] + 1;
        if (flags.find_first_not_of("RfN") != std::string::npos)
            break;
        recursive |= flags.find('R') != std::string::npos;
        quiet |= flags.find('f') != std::string::npos;
        strip |= flags.find('N') != std::string::npos;
    }
    if (!strip) {
        ::execv(kSystemChmod, argv);
        std::fprintf(stderr, "chmod: %s: %s\n", kSystemChmod, std::strerror(errno));
        return 1;
    }
    if (i >= argc) {
        std::fputs("usage: chmod [-R] [-f] -N file...\n", stderr);
        return 2;
    }
    bool ok = true;
    for (; i < argc; ++i) {
        const fs::path root = argv[i];
        std::error_code ec;
        const auto status = fs::symlink_status(root, ec);
        if (ec || !fs::exists(status)) {
            if (!quiet)
                std::fprintf(stderr, "chmod: %s: No such file or directory\n", argv[i]);
            ok = false;
            continue;
        }
        ok &= stripAcls(root, quiet);
        if (!recursive || !fs::is_directory(status))
            continue;
        for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
            ok &= stripAcls(it->path(), quiet);
        if (ec) {
            if (!quiet)
                std::fprintf(stderr, "chmod: %s: %s\n", argv[i], ec.message().c_str());
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
