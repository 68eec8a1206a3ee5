#include "Catalog/CatalogRecords.h"
#include "Base/Versions.h"

#include "QStringPrinter.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace Hub;
using namespace Qt::StringLiterals;

namespace Hub {
[[maybe_unused]] static void PrintTo(const Release::Fit& fit, std::ostream* os)
{
    constexpr const char* kNames[] = {"needsMacOS", "fine", "needsAppleSilicon", "needsIntel"};
    *os << kNames[static_cast<int>(fit.kind)];
    if (fit.kind == Release::FitKind::needsMacOS)
        *os << '(' << fit.minimum.toStdString() << ')';
}
[[maybe_unused]] static void PrintTo(const Release& r, std::ostream* os) { *os << r.toJson().toStdString(); }
} // namespace Hub

namespace {

// ---- Version numbers ------------------------------------------------------

TEST(VersionParts, LeadingNumericRunSplitOnDots)
{
    struct Case {
        QString text;
        QList<qint64> parts;
    };
    for (const Case& c : {
             Case{u"1.2.3"_s, {1, 2, 3}},
             Case{u"..1..2."_s, {1, 2}},
             Case{u""_s, {}},
             Case{u"v1.2"_s, {}},
             Case{u" 1.2"_s, {}},
             // Other numeric characters extend the run but do not read as digits.
             Case{u"1\u00BD.2"_s, {0, 2}},
             Case{u"\u0663.1"_s, {0, 1}},
             Case{u"\U0001D7D0.5"_s, {0, 5}}, // a digit outside the 16-bit range
             Case{u"1.\U0001D7D0.5x"_s, {1, 0, 5}},
             Case{u"9223372036854775807"_s, {9223372036854775807LL}},
             Case{u"9223372036854775808"_s, {0}},
             Case{u"99999999999999999999.1"_s, {0, 1}},
         }) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(Versions::parts(c.text), c.parts);
    }
}

struct Comparison {
    const char* a;
    const char* b;
    std::strong_ordering expected;
};

class VersionCompare : public testing::TestWithParam<Comparison> {};

[[maybe_unused]] void PrintTo(const Comparison& c, std::ostream* os) { *os << c.a << " vs " << c.b; }

TEST_P(VersionCompare, OrdersPartByPart)
{
    const QString a = QString::fromUtf8(GetParam().a);
    const QString b = QString::fromUtf8(GetParam().b);
    const std::strong_ordering expected = GetParam().expected;
    EXPECT_TRUE(Versions::compare(a, b) == expected);
    EXPECT_TRUE(Versions::compare(b, a) == 0 <=> expected); // the reverse question, the reverse answer
    EXPECT_EQ(Versions::isNewer(a, b), expected == std::strong_ordering::greater);
    EXPECT_EQ(Versions::isNewer(b, a), expected == std::strong_ordering::less);
}

INSTANTIATE_TEST_SUITE_P(MissingPartsAreZero, VersionCompare, testing::Values(
    Comparison{"1.2", "1.2.0", std::strong_ordering::equal},
    Comparison{"1.0.1", "1", std::strong_ordering::greater},
    Comparison{"", "", std::strong_ordering::equal},
    Comparison{"", "0.0", std::strong_ordering::equal},
    Comparison{"v1", "0", std::strong_ordering::equal}));

INSTANTIATE_TEST_SUITE_P(NumericNotTextual, VersionCompare, testing::Values(
    Comparison{"1.9", "1.10", std::strong_ordering::less},
    Comparison{"2", "1.99.99", std::strong_ordering::greater},
    Comparison{"10.0", "9.9", std::strong_ordering::greater},
    Comparison{"01.2", "1.2", std::strong_ordering::equal},
    Comparison{"9223372036854775807", "9223372036854775806", std::strong_ordering::greater}));

INSTANTIATE_TEST_SUITE_P(SuffixesIgnored, VersionCompare, testing::Values(
    Comparison{"2.0b3", "2.0", std::strong_ordering::equal},
    Comparison{"2.0-rc1", "2.0b7", std::strong_ordering::equal},
    Comparison{"1.2-beta", "1.3", std::strong_ordering::less}));

INSTANTIATE_TEST_SUITE_P(UnreadablePiecesAreZero, VersionCompare, testing::Values(
    Comparison{"1\u00BD.2", "0.2", std::strong_ordering::equal},
    Comparison{"99999999999999999999", "0", std::strong_ordering::equal},
    Comparison{"99999999999999999999", "1", std::strong_ordering::less}));

TEST(VersionMacOS, MinimumSatisfied)
{
    EXPECT_TRUE(Versions::macOSSatisfies(std::nullopt, u"10.9"_s));
    EXPECT_TRUE(Versions::macOSSatisfies(u""_s, u"1"_s));
    EXPECT_TRUE(Versions::macOSSatisfies(u"12"_s, u"12.0.0"_s));
    EXPECT_TRUE(Versions::macOSSatisfies(u"12.3"_s, u"13.0"_s));
    EXPECT_FALSE(Versions::macOSSatisfies(u"12.3"_s, u"12.2.9"_s));
    EXPECT_FALSE(Versions::macOSSatisfies(u"11.0"_s, u"10.15.7"_s));
}

// ---- Releases -------------------------------------------------------------

const QString kPkg = u"https://tarnaudio.example/a.pkg"_s;
const QString kDmg = u"https://tarnaudio.example/a.dmg"_s;
const QString kBadAddress = u"http://a b/a.pkg"_s;
const QStringList kArm{u"arm64"_s};
const QStringList kIntel{u"x86_64"_s};
const QStringList kBoth{u"arm64"_s, u"x86_64"_s};
const QStringList kNone{};

Artifact artifact(std::optional<QStringList> archs, const QString& bundle = u"A.vst3"_s)
{
    Artifact a;
    a.url = u"https://tarnaudio.example/a.zip"_s;
    a.sha256 = u"aa"_s;
    a.bundle = bundle;
    a.archs = std::move(archs);
    return a;
}

// The builders below leave out everything the case does not name.
Release release(std::optional<QStringList> archs = std::nullopt, std::optional<QString> pkg = std::nullopt,
                std::optional<QString> minMacOS = std::nullopt)
{
    Release r;
    r.version = u"1.0"_s;
    r.archs = std::move(archs);
    r.pkgURL = std::move(pkg);
    r.minMacOS = std::move(minMacOS);
    return r;
}

Release withArtifacts(std::vector<std::optional<QStringList>> archsPerArtifact, std::optional<QString> minMacOS = {},
                      std::optional<QStringList> releaseArchs = {})
{
    Release r = release(std::move(releaseArchs), kPkg, std::move(minMacOS));
    r.artifacts.emplace();
    for (auto& archs : archsPerArtifact)
        r.artifacts->push_back(artifact(std::move(archs)));
    return r;
}

struct FitCase {
    const char* name;
    Release release;
    const char* cpu;
    const char* macOS;
    Release::Fit expected;
};

[[maybe_unused]] void PrintTo(const FitCase& c, std::ostream* os) { *os << c.name; }

class ReleaseFit : public testing::TestWithParam<FitCase> {};

TEST_P(ReleaseFit, Matrix)
{
    const FitCase& c = GetParam();
    EXPECT_EQ(c.release.fit(QString::fromUtf8(c.cpu), QString::fromUtf8(c.macOS)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(MacOSFirst, ReleaseFit, testing::Values(
    FitCase{"Older", withArtifacts({kArm}, u"13.0"_s), "arm64", "12.6", Release::Fit::needsMacOS(u"13.0"_s)},
    FitCase{"OlderNumerically", release(kArm, kPkg, u"11.0"_s), "arm64", "10.15.7", Release::Fit::needsMacOS(u"11.0"_s)},
    FitCase{"OlderAndNoProcessorFits", withArtifacts({kNone}, u"13"_s), "x86_64", "12", Release::Fit::needsMacOS(u"13"_s)},
    FitCase{"OlderWithoutDownload", release(kIntel, std::nullopt, u"15"_s), "arm64", "14.0", Release::Fit::needsMacOS(u"15"_s)},
    FitCase{"EqualSatisfies", withArtifacts({kArm}, u"13.0"_s), "arm64", "13", Release::Fit::fine()}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Artifacts, ReleaseFit, testing::Values(
    FitCase{"DefaultIsArm", withArtifacts({std::nullopt}), "arm64", "14", Release::Fit::fine()},
    FitCase{"DefaultOnX86", withArtifacts({std::nullopt}), "x86_64", "14", Release::Fit::needsAppleSilicon()},
    FitCase{"X86OnlyOnArm", withArtifacts({kIntel}), "arm64", "14", Release::Fit::needsIntel()},
    FitCase{"AnyArtifactFits", withArtifacts({kArm, kIntel}), "x86_64", "14", Release::Fit::fine()},
    FitCase{"EmptyListSupportsNothing", withArtifacts({kNone}), "arm64", "14", Release::Fit::needsIntel()},
    FitCase{"EmptyListAndX86", withArtifacts({kNone, kIntel}), "arm64", "14", Release::Fit::needsIntel()},
    FitCase{"ArtifactsOverruleRelease", withArtifacts({kIntel}, {}, kArm), "arm64", "14", Release::Fit::needsIntel()},
    FitCase{"UnknownProcessor", withArtifacts({kBoth}), "ppc", "14", Release::Fit::needsAppleSilicon()}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(WholeRelease, ReleaseFit, testing::Values(
    FitCase{"NoDownloadIsFine", release(kIntel), "arm64", "14", Release::Fit::fine()},
    FitCase{"UnparsableDownloadIsFine", release(kIntel, kBadAddress), "arm64", "14", Release::Fit::fine()},
    FitCase{"EmptyArtifactListUsesRelease", withArtifacts({}, {}, kIntel), "arm64", "14", Release::Fit::needsIntel()},
    FitCase{"DefaultIsArm", release(std::nullopt, kPkg), "arm64", "14", Release::Fit::fine()},
    FitCase{"DefaultOnX86", release(std::nullopt, kPkg), "x86_64", "14", Release::Fit::needsAppleSilicon()},
    FitCase{"X86OnlyOnArm", release(kIntel, kPkg), "arm64", "14", Release::Fit::needsIntel()},
    FitCase{"EmptyListSupportsNothing", release(kNone, kPkg), "arm64", "14", Release::Fit::needsIntel()},
    FitCase{"BothOnX86", release(kBoth, kPkg), "x86_64", "14", Release::Fit::fine()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReleaseDownload, PackageThenDiskImage)
{
    Release r = release();
    r.sha256 = u"ab"_s;
    EXPECT_EQ(r.download(), std::nullopt);
    EXPECT_FALSE(r.installable());

    r.dmgURL = kDmg;
    EXPECT_EQ(r.download(), (Release::Download{QUrl(kDmg), u"ab"_s, false}));
    r.pkgURL = kPkg;
    EXPECT_EQ(r.download(), (Release::Download{QUrl(kPkg), u"ab"_s, true}));
    EXPECT_TRUE(r.installable());

    // A package address that does not parse must not hide a usable disk image.
    r.pkgURL = kBadAddress;
    EXPECT_EQ(r.download(), (Release::Download{QUrl(kDmg), u"ab"_s, false}));
    r.pkgURL = QString();
    r.sha256.reset();
    EXPECT_EQ(r.download(), (Release::Download{QUrl(kDmg), std::nullopt, false}));

    r.dmgURL = u"https://a b/x.dmg"_s;
    EXPECT_EQ(r.download(), std::nullopt);
    EXPECT_FALSE(r.installable());
    r.artifacts = std::vector<Artifact>{};
    EXPECT_FALSE(r.installable());
    r.artifacts->push_back(artifact(kNone));
    EXPECT_TRUE(r.installable());
}

TEST(ReleaseArtifacts, FilteredByProcessorInOrder)
{
    EXPECT_EQ(release().artifactsOn(u"arm64"_s), std::nullopt);

    Release r = release();
    r.artifacts = std::vector<Artifact>{artifact(kIntel, u"intel"_s), artifact(std::nullopt, u"default"_s),
                                        artifact(kBoth, u"both"_s), artifact(kNone, u"none"_s)};
    const auto bundles = [&](const QString& cpu) {
        QStringList out;
        const auto kept = r.artifactsOn(cpu);
        for (const Artifact& a : kept.value())
            out.push_back(a.bundle);
        return out;
    };
    EXPECT_EQ(bundles(u"arm64"_s), (QStringList{u"default"_s, u"both"_s}));
    EXPECT_EQ(bundles(u"x86_64"_s), (QStringList{u"intel"_s, u"both"_s}));
    EXPECT_EQ(r.artifactsOn(u"ppc"_s), std::vector<Artifact>{});
}

TEST(ReleaseSystemText, NamesTheProcessorsAndLeavesOutTheMinimum)
{
    struct Case {
        const char* name;
        Release release;
        QString text;
    };
    const QString apple = u"an Arm computer"_s;
    const QString both = u"an x86-64 or Arm computer"_s;
    for (const Case& c : {
             Case{"nothing listed", release(), apple},
             Case{"release lists x86-64", release(kIntel), both},
             Case{"artifacts decide over release", withArtifacts({kArm, std::nullopt}, {}, kIntel), apple},
             Case{"one artifact lists x86-64", withArtifacts({kArm, kBoth}), both},
             Case{"empty artifact list falls back", withArtifacts({}, {}, kBoth), both},
             // The other platform's minimum version is nothing to compare here.
             Case{"minimum", release(std::nullopt, std::nullopt, u"12.0"_s), apple},
             Case{"minimum with Intel", withArtifacts({kIntel}, u"10.15"_s), both},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.release.systemText(), c.text);
    }
}

TEST(ReleaseFreshInstall, SwapsInTheFullImage)
{
    Release update = withArtifacts({kArm}, u"12.0"_s, kBoth);
    update.dmgURL = kDmg;
    update.sha256 = u"upd"_s;
    update.size = 10;
    update.notes = u"Notes"_s;
    update.fullDmgURL = u"https://tarnaudio.example/full.dmg"_s;
    update.fullSHA256 = u"full"_s;
    update.fullSize = 9007199254740993;

    const Release expected{.version = update.version, .pkgURL = std::nullopt,
                           .dmgURL = u"https://tarnaudio.example/full.dmg"_s, .sha256 = u"full"_s,
                           .size = 9007199254740993, .minMacOS = update.minMacOS, .notes = update.notes,
                           .artifacts = update.artifacts, .archs = update.archs, .fullDmgURL = std::nullopt,
                           .fullSHA256 = std::nullopt, .fullSize = std::nullopt};
    EXPECT_EQ(update.forFreshInstall(), expected);

    // The update's checksum and size describe another file: never carry them over.
    update.fullSHA256.reset();
    update.fullSize.reset();
    const Release fresh = update.forFreshInstall();
    EXPECT_EQ(fresh.dmgURL, u"https://tarnaudio.example/full.dmg"_s);
    EXPECT_EQ(fresh.sha256, std::nullopt);
    EXPECT_EQ(fresh.size, std::nullopt);

    for (const std::optional<QString>& full : {std::optional<QString>(), std::optional(u""_s), std::optional(kBadAddress)}) {
        update.fullDmgURL = full;
        EXPECT_EQ(update.forFreshInstall(), update);
    }
}

} // namespace
