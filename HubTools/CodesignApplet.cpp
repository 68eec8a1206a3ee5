#include "Applets.h"

#include "Installer/Signing/CodeSignature.h"
#include "Installer/Signing/Requirement.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

using namespace Qt::StringLiterals;

// codesign --verify [--deep] [--strict] [-v...] [-R=<requirement> | -R <file>] <path>...
//
// Verification only: bundles are signed by the maker's release tooling, never
// on a musician's computer. Every check is deep and strict whether or not
// --deep and --strict are given, so a script can't ask for less by omission.
// Exit status as the platform's tool: 0 valid, 1 invalid, 2 bad arguments,
// 3 valid but the -R requirement is not satisfied. A signer that doesn't
// chain to the anchor is never valid: 1 without -R, 3 with it, whatever the
// requirement asks.
//
// --anchors=<pem file> replaces the compiled-in anchor for this run, in a
// copy outside an installed bundle only (see honoursTestSwitches). Tests
// use it (through a wrapper in place of the tool) to trust their own PKI.
namespace {

using namespace Hub;

constexpr int kExitValid = 0;
constexpr int kExitInvalid = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRequirementFailed = 3;

void say(const QString& line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

int usage(const QString& problem)
{
    say(u"codesign: "_s + problem);
    say(u"usage: codesign --verify [--deep] [--strict] [-v] [-R=<requirement>|-R <file>] <path>..."_s);
    return kExitUsage;
}

// "-R=text" arrives as "=text" (the option letter's attached argument): a
// leading '=' marks requirement text; anything else names a file holding it.
std::optional<QString> requirementText(const QString& value)
{
    if (value.startsWith(u'='))
        return value.mid(1);
    QFile file(value);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.readAll());
}

struct Options {
    bool verify = false;
    int verbose = 0;
    std::optional<QString> requirement;
    std::optional<QString> anchorsFile;
    std::vector<QString> paths;
};

// Fills the options; returns an error text for a command line it can't use.
std::optional<QString> parse(int argc, char** argv, Options& options)
{
    bool operands = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        const QString text = QString::fromLocal8Bit(argv[i]);
        const auto valueOf = [&](std::string_view option) -> std::optional<QString> {
            if (arg.size() > option.size() && arg.substr(0, option.size()) == option) {
                std::string_view rest = arg.substr(option.size());
                if (option.starts_with("--")) {
                    if (rest.front() != '=')
                        return std::nullopt;
                    rest.remove_prefix(1);
                }
                return QString::fromLocal8Bit(rest.data(), qsizetype(rest.size()));
            }
            if (arg == option && i + 1 < argc)
                return QString::fromLocal8Bit(argv[++i]);
            return std::nullopt;
        };
        if (operands || arg.empty() || arg.front() != '-') {
            options.paths.push_back(text);
        } else if (arg == "--") {
            operands = true;
        } else if (arg == "--verify") {
            options.verify = true;
        } else if (arg.size() >= 2 && arg.find_first_not_of('v', 1) == std::string_view::npos) {
            // -v is --verify; each further v raises the verbosity.
            for (size_t k = 1; k < arg.size(); ++k) {
                if (options.verify)
                    ++options.verbose;
                options.verify = true;
            }
        } else if (arg == "--verbose" || arg.starts_with("--verbose=")) {
            ++options.verbose;
        } else if (arg == "--deep" || arg == "--strict" || arg.starts_with("--strict=")) {
            // Always on.
        } else if (arg.starts_with("-R") || arg.starts_with("--test-requirement")) {
            const std::optional<QString> value = valueOf(arg.starts_with("-R") ? "-R" : "--test-requirement");
            if (!value)
                return u"-R needs a requirement"_s;
            options.requirement = requirementText(*value);
            if (!options.requirement)
                return u"can't read the requirement file "_s + *value;
        } else if (arg.starts_with("--anchors")) {
            if (!honoursTestSwitches())
                return u"unsupported option "_s + text + u" (an installed copy trusts its own anchors only)"_s;
            const std::optional<QString> value = valueOf("--anchors");
            if (!value)
                return u"--anchors needs a file"_s;
            options.anchorsFile = *value;
        } else {
            return u"unsupported option "_s + text + u" (only --verify is available)"_s;
        }
    }
    if (!options.verify)
        return u"only --verify is available"_s;
    if (options.paths.empty())
        return u"no path to verify"_s;
    return std::nullopt;
}

} // namespace

int codesignMain(int argc, char** argv)
{
    Options options;
    if (const std::optional<QString> problem = parse(argc, argv, options))
        return usage(*problem);

    TrustAnchors anchors = TrustAnchors::pinned();
    if (options.anchorsFile) {
        QFile file(*options.anchorsFile);
        if (!file.open(QIODevice::ReadOnly))
            return usage(u"can't read the anchor file "_s + *options.anchorsFile);
        anchors = TrustAnchors::fromPem(file.readAll());
    }
    std::optional<Requirement> requirement;
    if (options.requirement) {
        requirement = Requirement::compile(*options.requirement);
        if (!requirement)
            return usage(u"invalid requirement text ("_s + QString::number(CodeSignature::kStatusRequirementInvalid) + u')');
    }

    int exitStatus = kExitValid;
    for (const QString& path : options.paths) {
        const CodeSignature::Validity validity = CodeSignature::checkValidity(path, requirement, anchors);
        int status = kExitValid;
        if (validity.isValid()) {
            if (options.verbose > 0) {
                say(path + u": valid on disk"_s);
                if (requirement)
                    say(path + u": explicit requirement satisfied"_s);
            }
        } else if (validity.status == CodeSignature::kStatusRequirementFailed) {
            if (options.verbose > 0)
                say(path + u": valid on disk"_s);
            say(path + u": test-requirement: code failed to satisfy specified code requirement(s)"_s);
            status = kExitRequirementFailed;
        } else {
            const QString detail = validity.detail.isEmpty() ? u"OSStatus "_s + QString::number(validity.status)
                                                             : validity.detail;
            say(path + u": "_s + detail);
            status = kExitInvalid;
        }
        if (exitStatus == kExitValid)
            exitStatus = status;
    }
    return exitStatus;
}
