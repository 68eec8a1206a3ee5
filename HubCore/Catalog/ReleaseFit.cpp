// Which releases and artifacts run on this machine, and what to download.
#include "Catalog/CatalogRecords.h"
#include "Base/Machine.h"
#include "Base/Versions.h"

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

// A release or artifact without a processor list was built for arm64 only;
// an empty list given in the catalog supports nothing.
const QStringList& processorsOr(const std::optional<QStringList>& archs)
{
    static const QStringList kDefault{u"arm64"_s};
    return archs ? *archs : kDefault;
}

bool parsesAsAddress(const std::optional<QString>& text)
{
    return text && !text->isEmpty() && QUrl(*text, QUrl::StrictMode).isValid();
}

} // namespace

bool Artifact::runsOn(const QString& cpu) const
{
    return processorsOr(archs).contains(cpu);
}

bool Artifact::runsHere() const
{
    return runsOn(Machine::cpu());
}

Release::Fit Release::fit(const QString& cpu, const QString& macOSVersion) const
{
    if (minMacOS && Versions::compare(macOSVersion, *minMacOS) == std::strong_ordering::less)
        return Fit::needsMacOS(*minMacOS);

    if (artifacts && !artifacts->empty()) {
        bool arm = false;
        for (const Artifact& a : *artifacts) {
            const QStringList& list = processorsOr(a.archs);
            if (list.contains(cpu))
                return Fit::fine();
            arm = arm || list.contains("arm64"_L1);
        }
        return arm ? Fit::needsAppleSilicon() : Fit::needsIntel();
    }

    if (!download())
        return Fit::fine();

    const QStringList& list = processorsOr(archs);
    if (list.contains(cpu))
        return Fit::fine();
    return list.contains("arm64"_L1) ? Fit::needsAppleSilicon() : Fit::needsIntel();
}

Release::Fit Release::fit() const
{
    return fit(Machine::cpu(), Machine::platformVersion());
}

std::optional<Release::Download> Release::download() const
{
    if (parsesAsAddress(pkgURL))
        return Download{QUrl(*pkgURL, QUrl::StrictMode), sha256, true};
    if (parsesAsAddress(dmgURL))
        return Download{QUrl(*dmgURL, QUrl::StrictMode), sha256, false};
    return std::nullopt;
}

bool Release::installable() const
{
    return (artifacts && !artifacts->empty()) || download().has_value();
}

bool Release::installableHere() const
{
    return installable() && fit() == Fit::fine();
}

std::optional<std::vector<Artifact>> Release::artifactsOn(const QString& cpu) const
{
    if (!artifacts)
        return std::nullopt;
    std::vector<Artifact> out;
    for (const Artifact& a : *artifacts)
        if (a.runsOn(cpu))
            out.push_back(a);
    return out;
}

std::optional<std::vector<Artifact>> Release::artifactsHere() const
{
    return artifactsOn(Machine::cpu());
}

QString Release::systemText() const
{
    bool intel = false;
    if (artifacts && !artifacts->empty()) {
        for (const Artifact& a : *artifacts)
            intel = intel || processorsOr(a.archs).contains("x86_64"_L1);
    } else {
        intel = processorsOr(archs).contains("x86_64"_L1);
    }
    // Everything built for x86-64 is offered to Arm computers too. The
    // minimum system a release names is the other platform's version,
    // which this system has none of to compare: it is left out.
    return intel ? u"an x86-64 or Arm computer"_s : u"an Arm computer"_s;
}

Release Release::forFreshInstall() const
{
    if (!parsesAsAddress(fullDmgURL))
        return *this;
    Release fresh = *this;
    fresh.pkgURL.reset();
    fresh.dmgURL = fullDmgURL;
    fresh.sha256 = fullSHA256;
    fresh.size = fullSize;
    fresh.fullDmgURL.reset();
    fresh.fullSHA256.reset();
    fresh.fullSize.reset();
    return fresh;
}

} // namespace Hub
