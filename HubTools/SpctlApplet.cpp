#include "Applets.h"

#include "Installer/Packages/PackageArchive.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

// spctl -a|--assess [-v...] -t|--type install [--anchors=<pem file>] PACKAGE...
//
// The installation assessment only. A package is accepted when its
// signature is intact, chains to a trusted anchor through a developer
// authority, and its leaf is an installer certificate; the lines (on
// standard error, as the platform's tool writes them) are
//   <path>: accepted | <path>: rejected (<why>)
//   source=Notarized Developer ID | source=Developer ID | source=no usable signature
//   origin=<leaf's common name>             (with -vv, when signed by a developer)
// A signed package without a ticket is accepted as "Developer ID", the way
// the platform judged packages before notarisation was required; callers
// that demand notarisation read the source line.
// Exit status: 0 accepted, 3 rejected, 2 bad arguments.
//
// --anchors=<pem file> replaces the compiled-in anchor for this run, in a
// copy outside an installed bundle only (see honoursTestSwitches). Tests
// use it through a wrapper in place of the tool, as with codesign.
namespace {

using namespace Hub;

constexpr int kExitAccepted = 0;
constexpr int kExitUsage = 2;
constexpr int kExitRejected = 3;

void say(const QString& line) { std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData()); }

int usage(const QString& problem)
{
    say(u"spctl: "_s + problem);
    say(u"usage: spctl -a -vv -t install [--anchors=<pem>] <package>..."_s);
    return kExitUsage;
}

int assessOne(const QString& path, const TrustAnchors& anchors, int verbose)
{
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        say(path + u": rejected (no temporary folder)"_s);
        return kExitRejected;
    }
    PackageArchive::Assessment assessment;
    try {
        const QString expanded = scratch.filePath(u"expanded"_s);
        PackageArchive::expand(path, expanded);
        assessment = PackageArchive::assess(expanded, anchors);
    } catch (const PackageError& error) {
        say(path + u": rejected (the package can't be read: "_s + error.detail() + u')');
        if (verbose > 0)
            say(u"source=no usable signature"_s);
        return kExitRejected;
    }

    if (assessment.signature != PackageArchive::Assessment::Signature::developerID) {
        say(path + u": rejected ("_s + assessment.detail + u')');
        if (verbose > 0)
            say(u"source=no usable signature"_s);
        return kExitRejected;
    }
    say(path + u": accepted"_s);
    if (verbose > 0)
        say(assessment.notarized ? u"source=Notarized Developer ID"_s : u"source=Developer ID"_s);
    if (verbose > 1)
        say(u"origin="_s + assessment.origin);
    return kExitAccepted;
}

} // namespace

int spctlMain(int argc, char** argv)
{
    bool assess = false;
    int verbose = 0;
    std::optional<QString> type;
    std::optional<QString> anchorsFile;
    QStringList paths;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == "-a"_L1 || argument == "--assess"_L1) {
            assess = true;
        } else if (argument.size() >= 2 && argument.startsWith(u'-') && !argument.startsWith("--"_L1)
                   && argument.mid(1).count(u'v') == argument.size() - 1) {
            verbose += int(argument.size() - 1);
        } else if (argument == "--verbose"_L1) {
            ++verbose;
        } else if (argument == "-t"_L1 || argument == "--type"_L1) {
            if (++i >= argc)
                return usage(u"-t needs a type"_s);
            type = QString::fromLocal8Bit(argv[i]);
        } else if (argument.startsWith("--anchors="_L1)) {
            if (!honoursTestSwitches())
                return usage(u"unsupported option "_s + argument + u" (an installed copy trusts its own anchors only)"_s);
            anchorsFile = argument.mid(10);
        } else if (argument.startsWith(u'-')) {
            return usage(u"unsupported option "_s + argument);
        } else {
            paths.append(argument);
        }
    }
    if (!assess)
        return usage(u"only --assess is available"_s);
    if (type != "install"_L1)
        return usage(u"only the install type is available"_s);
    if (paths.isEmpty())
        return usage(u"no package to assess"_s);

    TrustAnchors anchors = TrustAnchors::pinned();
    if (anchorsFile) {
        QFile file(*anchorsFile);
        if (!file.open(QIODevice::ReadOnly))
            return usage(u"can't read the anchor file "_s + *anchorsFile);
        anchors = TrustAnchors::fromPem(file.readAll());
    }
    int status = kExitAccepted;
    for (const QString& path : paths) {
        const int one = assessOne(path, anchors, verbose);
        if (status == kExitAccepted)
            status = one;
    }
    return status;
}
