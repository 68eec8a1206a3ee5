#include "Applets.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

struct Applet {
    std::string_view name;
    int (*main)(int, char**);
};

constexpr Applet kApplets[] = {
    {"ditto", dittoMain},
    {"codesign", codesignMain},
    {"auval", auvalMain},
    {"PlistBuddy", plistBuddyMain},
    {"chmod", chmodMain},
    {"killall", killallMain},
    {"hdiutil", hdiutilMain},
    {"spctl", spctlMain},
    {"pkgutil", pkgutilMain},
    {"installer", installerMain},
};

std::string_view baseName(const char* path)
{
    const std::string_view text(path ? path : "");
    const auto slash = text.rfind('/');
    return slash == std::string_view::npos ? text : text.substr(slash + 1);
}

int usage()
{
    std::fputs("usage: hubtools <applet> [arguments...]\n       <applet> [arguments...]  (through a link named after it)\napplets:",
               stderr);
    for (const Applet& applet : kApplets)
        std::fprintf(stderr, " %.*s", int(applet.name.size()), applet.name.data());
    std::fputc('\n', stderr);
    return 2;
}

} // namespace

bool honoursTestSwitches()
{
    const QDir helpers = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absoluteDir();
    return helpers.dirName() != QLatin1String("Helpers")
           || QFileInfo(helpers.absolutePath()).dir().dirName() != QLatin1String("Contents");
}

// Called through a link named after a tool, or as "hubtools <tool> ...".
int main(int argc, char** argv)
{
    if (argc < 1)
        return usage();
    std::string_view name = baseName(argv[0]);
    if (name == "hubtools") {
        if (argc < 2)
            return usage();
        ++argv;
        --argc;
        name = baseName(argv[0]);
    }
    for (const Applet& applet : kApplets)
        if (applet.name == name)
            return applet.main(argc, argv);
    std::fprintf(stderr, "hubtools: no applet named %.*s\n", int(name.size()), name.data());
    return usage();
}
