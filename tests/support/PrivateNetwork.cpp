#include "PrivateNetwork.h"

#include "PrivateNamespaces.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Hub::Test::PrivateNetwork {

namespace {

std::string s_why = "the private network was never prepared";

std::string failed(const char* step)
{
    return std::string(step) + ": " + std::strerror(errno);
}

bool loopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        s_why = failed("a socket to raise loopback");
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(request.ifr_flags | IFF_UP);
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (!ok)
        s_why = failed("raising loopback");
    ::close(fd);
    return ok;
}

// Takes every query on 127.0.0.1:53 and never reads one: the sender waits
// its whole time-out, as behind a server that drops queries. The socket
// stays open for the life of the process.
bool silentNameServer()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        s_why = failed("binding the silent name server to 127.0.0.1:53");
        return false;
    }
    return true;
}

bool pointResolverAtIt(const char* options)
{
    // Nothing mounted here may reach the rest of the machine.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        s_why = failed("making the mounts private");
        return false;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/hub-resolv-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        s_why = failed("mkstemp");
        return false;
    }
    const std::string text = std::string("nameserver 127.0.0.1\noptions ") + options + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    const bool mounted = written && ::mount(path.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
    if (!mounted)
        s_why = failed(written ? "mounting a resolv.conf over /etc/resolv.conf" : "writing a resolv.conf");
    ::unlink(path.c_str());
    return mounted;
}

} // namespace

void prepare(const char* resolverOptions)
{
    if (!enterPrivateNamespaces(CLONE_NEWNS | CLONE_NEWNET, s_why) || !loopbackUp() || !silentNameServer() || !pointResolverAtIt(resolverOptions))
        return;
    s_why.clear();
}

bool available() { return s_why.empty(); }

QString why()
{
    return QStringLiteral("no private network with a silent name server (") + QString::fromStdString(s_why)
           + QStringLiteral("); it needs root or unprivileged user namespaces");
}

QString deadName() { return QStringLiteral("feeds.tarnaudio.test"); }

long long failedConnectionAttempts()
{
    // Two "Tcp:" lines: the field names, then their values.
    // A /proc file has no size: read to its end, not to atEnd().
    QFile file(QStringLiteral("/proc/net/snmp"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QList<QByteArray> names;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.startsWith("Tcp:"))
            continue;
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (names.isEmpty()) {
            names = fields;
            continue;
        }
        const qsizetype at = names.indexOf("AttemptFails");
        return at > 0 && at < fields.size() ? fields[at].toLongLong() : -1;
    }
    return -1;
}

} // namespace Hub::Test::PrivateNetwork
