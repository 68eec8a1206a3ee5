#include "Installer/Placement/PrivilegedRunner.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>

// hubtarn-admin SCRIPT [ARGUMENT...]
//
// The one program an installed Tarnhub runs as the administrator, through
// pkexec under its own polkit policy, so the password dialog says what the
// password is for. It runs SCRIPT under /bin/sh with the arguments as $1,
// $2, ... through the same status wrapper as the build tree's fallback: the
// script's own 126 and 127 become 125, leaving those two to pkexec (a
// dismissed dialog, a refusal). The script carries its own tool paths, so
// nothing here reads the environment.
int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("usage: hubtarn-admin SCRIPT [ARGUMENT...]\n", stderr);
        return 2;
    }
    QStringList arguments;
    for (int i = 2; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QStringList shell = Hub::PrivilegedRunner::shellArguments(QString::fromLocal8Bit(argv[1]), arguments);

    std::vector<QByteArray> encoded{QByteArrayLiteral("/bin/sh")};
    for (const QString& argument : shell)
        encoded.push_back(argument.toLocal8Bit());
    std::vector<char*> pointers;
    for (QByteArray& argument : encoded)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    ::execv("/bin/sh", pointers.data());
    std::fprintf(stderr, "hubtarn-admin: /bin/sh: %s\n", std::strerror(errno));
    return 125;
}
