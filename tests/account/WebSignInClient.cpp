// A second process for the hand-off tests.
//   websignin_client send <socket> <url>   hands <url> over as a second launch does;
//                                          exit 0 when acknowledged, 1 otherwise.
//   websignin_client raw <socket> <line>   writes <line> over a bare connection, as a
//                                          program of another user could; prints the
//                                          reply. Exit 0 on "ok", 1 on another reply,
//                                          2 when it cannot connect, 3 when the
//                                          connection closes without a reply.
//   websignin_client listen <socket> <x>   a bare listener, as a program of another user
//                                          could set up; prints whatever the first
//                                          connection sends. Exit 0 once one came.
#include "Platform/CallbackInbox.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr std::chrono::milliseconds kTimeout{5000};

int raw(const char* socketPath, const char* line)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath, sizeof(address.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        return 2;
    const std::string text = std::string(line) + '\n';
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
        return 3;
    std::string reply;
    char chunk[64];
    for (;;) {
        pollfd entry {fd, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(kTimeout.count())) <= 0)
            break;
        const ssize_t got = ::recv(fd, chunk, sizeof(chunk), 0);
        if (got <= 0)
            break;
        reply.append(chunk, static_cast<size_t>(got));
    }
    ::close(fd);
    std::fputs(reply.c_str(), stdout);
    if (reply.empty())
        return 3;
    return reply == "ok\n" ? 0 : 1;
}

int listenBare(const char* socketPath)
{
    // Listening before the name appears, so whoever sees the name can connect.
    const std::string readyPath = std::string(socketPath) + ".new";
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, readyPath.c_str(), sizeof(address.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0
        || ::chmod(readyPath.c_str(), 0666) != 0 || ::listen(fd, 1) != 0
        || ::rename(readyPath.c_str(), socketPath) != 0)
        return 2;
    pollfd waiting {fd, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(kTimeout.count())) <= 0)
        return 3;
    const int connection = ::accept(fd, nullptr, nullptr);
    if (connection < 0)
        return 3;
    std::string received;
    char chunk[1024];
    for (;;) {
        pollfd entry {connection, POLLIN, 0};
        if (::poll(&entry, 1, 1000) <= 0)
            break;
        const ssize_t got = ::recv(connection, chunk, sizeof(chunk), 0);
        if (got <= 0)
            break;
        received.append(chunk, static_cast<size_t>(got));
    }
    std::fputs(received.c_str(), stdout);
    ::close(connection);
    ::close(fd);
    ::unlink(socketPath);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: websignin_client send|raw|listen <socket> <url>\n");
        return 64;
    }
    const std::string mode = argv[1];
    if (mode == "raw")
        return raw(argv[2], argv[3]);
    if (mode == "listen")
        return listenBare(argv[2]);
    if (mode == "send") {
        const QUrl url(QString::fromUtf8(argv[3]));
        return Hub::CallbackInbox::send(QString::fromUtf8(argv[2]), url, kTimeout) ? 0 : 1;
    }
    return 64;
}
