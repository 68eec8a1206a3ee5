#include "PrivateNamespaces.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace Hub::Test {

namespace {

bool writeProcFile(const char* path, const std::string& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return ok;
}

std::string failed(const std::string& step) { return step + ": " + std::strerror(errno); }

} // namespace

bool enterPrivateNamespaces(int kinds, std::string& why)
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(kinds) != 0) {
            why = failed("unshare as root");
            return false;
        }
        return true;
    }
    if (::unshare(CLONE_NEWUSER | kinds) != 0) {
        why = failed("unshare with a user namespace, as `unshare -r` does");
        return false;
    }
    if (!writeProcFile("/proc/self/setgroups", "deny") || !writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
        || !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        why = failed("mapping the user into its namespace");
        return false;
    }
    return true;
}

} // namespace Hub::Test
