#include "BundleFactory.h"
#include "BundleSigner.h"
#include "QStringPrinter.h"
#include "TestPKI.h"
#include "ToolsPaths.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Installer/PluginInstaller.h"
#include "Installer/Signing/CodeResources.h"
#include "Installer/Signing/CodeSignature.h"
#include "Installer/Signing/Requirement.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

using namespace Qt::StringLiterals;
using namespace Hub;
using Hub::Test::BundleFactory::create;
using Hub::Test::BundlePlan;

namespace {

const QString kFixed = u"anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] exists and "
                       u"certificate leaf[field.1.2.840.113635.100.6.1.13] exists"_s;
const QString kID = u"com.tarnaudio.fixture"_s;

QString brokenPrefix(const QString& name)
{
    return name + u" has a broken signature, so the hub won't install it. ("_s;
}

QString notOursSentence(const QString& name)
{
    return name + u" isn't signed by Tarnaudio, so the hub won't install it."_s;
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void makeLink(const QString& target, const QString& link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0) << link.toStdString();
}

void setMode(const QString& path, mode_t mode)
{
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0) << path.toStdString();
}

class CodeSignatureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_pki = std::make_unique<Hub::Test::TestPKI>(); }
    static void TearDownTestSuite() { s_pki.reset(); }

    const Hub::Test::TestPKI& pki() const { return *s_pki; }

    // A plug-in bundle with data, a folder, an internal link and a nested
    // framework, all signed by `signer`.
    QString signedBundle(const Hub::Test::SigningIdentity& signer, const QString& name = u"Fixture.vst3"_s)
    {
        QString path = unsignedBundle(name);
        Hub::Test::signBundle(path, signer, kID);
        return path;
    }

    QString unsignedBundle(const QString& name = u"Fixture.vst3"_s)
    {
        BundlePlan recipe;
        recipe.name = name;
        recipe.withFile(u"Contents/Resources/data.bin"_s, QByteArray(4096, 'd'))
            .withFile(u"Contents/Resources/Presets/Warm.preset"_s, "warm")
            .withSymlink(u"Contents/Resources/current.bin"_s, u"data.bin"_s)
            .withFile(u"Contents/Frameworks/Engine.framework/Contents/Info.plist"_s, "<plist/>")
            .withFile(u"Contents/Frameworks/Engine.framework/Contents/MacOS/Engine"_s, "engine code");
        return create(m_dir.path(), recipe);
    }

    // The sentence verify throws, or "accepted".
    QString outcome(const QString& bundle, const std::optional<QString>& bundleID = kID, bool allowUnsigned = false)
    {
        try {
            CodeSignature::verify(bundle, bundleID, allowUnsigned, pki().anchors());
            return u"accepted"_s;
        } catch (const HubError& error) {
            return error.errorDescription();
        }
    }

    QTemporaryDir m_dir;
    static inline std::unique_ptr<Hub::Test::TestPKI> s_pki;
};

// --- The requirement text and its language --------------------------------

TEST(RequirementText, IdentifierClauseOnlyWhenPresentAndNotEmpty)
{
    EXPECT_EQ(CodeSignature::requirement(u"com.tarnaudio.ember"_s, u"TARNAUDIO1"_s),
              kFixed + u" and identifier \"com.tarnaudio.ember\" and certificate leaf[subject.OU] = \"TARNAUDIO1\""_s);
    EXPECT_EQ(CodeSignature::requirement(std::nullopt, u"TARNAUDIO1"_s),
              kFixed + u" and certificate leaf[subject.OU] = \"TARNAUDIO1\""_s);
    EXPECT_EQ(CodeSignature::requirement(u""_s, u"TARNAUDIO1"_s),
              kFixed + u" and certificate leaf[subject.OU] = \"TARNAUDIO1\""_s);
}

TEST(RequirementText, CompilesToTheClausesItSays)
{
    const auto compiled = Requirement::compile(CodeSignature::requirement(u"com.tarnaudio.ember"_s, u"TEAM123456"_s));
    ASSERT_TRUE(compiled);
    EXPECT_TRUE(compiled->anchorApple());
    EXPECT_EQ(compiled->fields(),
              (std::vector<Requirement::FieldExists>{{Requirement::Slot::one, u"1.2.840.113635.100.6.2.6"_s},
                                                     {Requirement::Slot::leaf, u"1.2.840.113635.100.6.1.13"_s}}));
    EXPECT_EQ(compiled->subjectOUs(), (std::vector<Requirement::SubjectOU>{{Requirement::Slot::leaf, u"TEAM123456"_s}}));
    EXPECT_EQ(compiled->identifiers(), std::vector<QString>{u"com.tarnaudio.ember"_s});
}

TEST(RequirementText, TextOutsideTheLanguageDoesNotCompile)
{
    const QString refused[] = {
        u""_s,
        u"   "_s,
        u"anchor apple"_s,
        u"anchor apple generic and"_s,
        u"and anchor apple generic"_s,
        u"anchor apple generic or identifier \"x\""_s,
        u"(anchor apple generic)"_s,
        u"anchor apple generic and not identifier \"x\""_s,
        u"anchor apple generic identifier \"x\""_s,
        u"certificate 2[field.1.2.3] exists"_s,
        u"certificate root[field.1.2.3] exists"_s,
        u"certificate leaf[field.1.2.3]"_s,
        u"certificate leaf[field.abc] exists"_s,
        u"certificate leaf[field.1.02.3] exists"_s,
        u"certificate leaf[subject.CN] = \"x\""_s,
        u"certificate leaf[subject.OU] \"x\""_s,
        u"certificate leaf[subject.OU] = TEAM"_s,
        u"identifier com.tarnaudio.x"_s,
        u"identifier \"com.tarnaudio.x"_s,
        u"identifier \"a\\\"b\""_s,
        u"identifier \"x\" extra"_s,
        u"cdhash H\"0011\""_s,
        u"info[CFBundleIdentifier] = \"x\""_s,
    };
    for (const QString& text : refused)
        EXPECT_FALSE(Requirement::compile(text)) << text.toStdString();

    // Clause order carries no meaning in a conjunction.
    const auto reordered = Requirement::compile(u"identifier \"x\" and anchor apple generic"_s);
    ASSERT_TRUE(reordered);
    EXPECT_TRUE(reordered->anchorApple());
    EXPECT_EQ(reordered->identifiers(), std::vector<QString>{u"x"_s});
}

TEST(PlainBundleID, Table)
{
    const QString valid255 = u"a"_s + QString(254, u'b');
    const struct {
        std::optional<QString> id;
        bool plain;
    } cases[] = {
        {std::nullopt, false},
        {u""_s, false},
        {u".com.tarnaudio"_s, false},
        {u"-com.tarnaudio"_s, false},
        {u"com.tarnaudio ember"_s, false},
        {u"com.tarnaudio_ember"_s, false},
        {u"com/tarnaudio"_s, false},
        {u"com.tarnäudio"_s, false},
        {u"com.tarnaudio.\"x"_s, false},
        {u"com.tarnaudio\n"_s, false},
        {valid255 + u"c"_s, false},
        {valid255, true},
        {u"a"_s, true},
        {u"7"_s, true},
        {u"com.tarnaudio.ember-2"_s, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodeSignature::isPlainBundleID(c.id), c.plain) << c.id.value_or(u"<none>"_s).toStdString();
}

// --- Who signed: the maker's requirement ------------------------------------

TEST_F(CodeSignatureTest, MakerSignedBundlePasses)
{
    const QString bundle = signedBundle(pki().maker());
    EXPECT_EQ(outcome(bundle), u"accepted"_s);
    EXPECT_EQ(outcome(bundle + u"/"_s), u"accepted"_s);
}

TEST_F(CodeSignatureTest, SignersOtherThanTheMakerAreNotTarnaudio)
{
    const std::pair<const char*, const Hub::Test::SigningIdentity*> signers[] = {
        {"other team", &pki().otherTeam()},
        {"foreign root", &pki().foreign()},
        {"leaf without the marker", &pki().noMarker()},
        {"expired leaf", &pki().expired()},
    };
    for (const auto& [label, signer] : signers) {
        const QString bundle = signedBundle(*signer, QString::fromLatin1(label).replace(u' ', u'-') + u".vst3"_s);
        EXPECT_EQ(outcome(bundle), notOursSentence(QFileInfo(bundle).fileName())) << label;
    }
}

// The chain is judged when a trusted time stamp says the bundle was signed,
// so the maker's older bundles stay the maker's after a certificate expires;
// without one, today. The signing time a signature states itself is the
// signer's word: an expired key could backdate a signature forever.
TEST_F(CodeSignatureTest, TheChainMustHoldWhenATrustedTimeStampSaysItWasSigned)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const Hub::Test::SigningIdentity& expired = pki().expired(); // valid from 30 days ago until yesterday
    const Hub::Test::TimeStamper& stamper = pki().timeStamper();
    const Hub::Test::SigningIdentity backdated = expired.signedAt(now.addDays(-15));
    const struct {
        const char* label;
        Hub::Test::SigningIdentity signer;
        bool makers;
    } cases[] = {
        {"expired leaf, backdated by its own signing time", backdated, false},
        {"expired leaf, time-stamped while valid", backdated.timeStampedBy(stamper.at(now.addDays(-15))), true},
        {"expired leaf, stamped while valid by an authority not pinned",
         backdated.timeStampedBy(pki().foreignTimeStamper().at(now.addDays(-15))), false},
        {"expired leaf, stamped while valid over other bytes",
         backdated.timeStampedBy(stamper.at(now.addDays(-15)).overOther()), false},
        {"expired leaf, time-stamped after it expired", expired.timeStampedBy(stamper.at(now.addSecs(-3600))), false},
        {"expired leaf, time-stamped before it was valid", expired.timeStampedBy(stamper.at(now.addDays(-31))), false},
        {"expired leaf, no signing time", expired.signedWithoutTime(), false},
        {"valid leaf, no signing time", pki().maker().signedWithoutTime(), true},
        {"valid leaf, its own signing time before it was valid", pki().maker().signedAt(now.addDays(-1)), true},
        {"valid leaf, time-stamped before it was valid", pki().maker().timeStampedBy(stamper.at(now.addDays(-1))), false},
        {"valid leaf, time-stamped after it expires", pki().maker().timeStampedBy(stamper.at(now.addDays(60))), false},
        {"valid leaf, stamped by an authority not pinned", pki().maker().timeStampedBy(pki().foreignTimeStamper()), true},
        {"leaf valid from tomorrow, time-stamped then", pki().notYetValid().timeStampedBy(stamper.at(now.addDays(2))),
         false},
    };
    int index = 0;
    for (const auto& c : cases) {
        const QString name = u"Case"_s + QString::number(++index) + u".vst3"_s;
        const QString bundle = signedBundle(c.signer, name);
        EXPECT_EQ(outcome(bundle), c.makers ? u"accepted"_s : notOursSentence(name)) << c.label;
        const std::optional<QString> team = c.makers ? std::optional(Config::teamID()) : std::nullopt;
        EXPECT_EQ(CodeSignature::teamID(bundle, pki().anchors()), team) << c.label;
    }
    // A build that pins no time-stamping anchor trusts no time stamp.
    const QString stamped = signedBundle(backdated.timeStampedBy(stamper.at(now.addDays(-15))), u"Unpinned.vst3"_s);
    EXPECT_EQ(CodeSignature::teamID(stamped, TrustAnchors::fromPem(pki().anchorPem())), std::nullopt);
}

TEST_F(CodeSignatureTest, SignedUnderAnotherIdentifierIsNotTheCatalogsBundle)
{
    const QString bundle = signedBundle(pki().maker());
    EXPECT_EQ(outcome(bundle, u"com.tarnaudio.other"_s), notOursSentence(u"Fixture.vst3"_s));
    // Without an identifier the team alone decides.
    EXPECT_EQ(outcome(bundle, std::nullopt, true), u"accepted"_s);
}

TEST_F(CodeSignatureTest, AnUnpinnedAnchorTrustsNobody)
{
    const QString bundle = signedBundle(pki().maker());
    try {
        CodeSignature::verify(bundle, kID, false, TrustAnchors::fromPem(pki().foreignAnchorPem()));
        FAIL() << "accepted under a foreign anchor";
    } catch (const HubError& error) {
        EXPECT_EQ(error.errorDescription(), notOursSentence(u"Fixture.vst3"_s));
    }
    // This build pins no anchor unless HUB_SIGNING_ANCHOR names one: then even
    // the maker's test signature must not pass.
    if (TrustAnchors::pinned().pem().isEmpty()) {
        EXPECT_THROW(CodeSignature::verify(bundle, kID, false), HubError);
    }
}

TEST_F(CodeSignatureTest, IdentifierThatIsNotPlainIsRefusedBeforeAnyCheck)
{
    // Unsigned, so any signature check would give another sentence.
    const QString bundle = unsignedBundle();
    const QString sentence = u"Fixture.vst3 has no usable bundle id in the catalog, so the hub won't install it."_s;
    EXPECT_EQ(outcome(bundle, u"com.tarnaudio.x\" or anchor apple generic and identifier \"y"_s), sentence);
    EXPECT_EQ(outcome(bundle, std::nullopt), sentence);
    EXPECT_EQ(outcome(bundle, u""_s), sentence);
}

// --- allowUnsigned waives the requirement, never the seal -------------------

TEST_F(CodeSignatureTest, AllowUnsignedDropsOnlyTheRequirement)
{
    EXPECT_EQ(outcome(signedBundle(pki().otherTeam(), u"Other.vst3"_s), u"not plain!"_s, true), u"accepted"_s);
    // Never the anchor: a signer the pinned anchors don't vouch for is nobody's.
    EXPECT_EQ(outcome(signedBundle(pki().foreign(), u"Foreign.vst3"_s), std::nullopt, true),
              notOursSentence(u"Foreign.vst3"_s));

    EXPECT_EQ(outcome(unsignedBundle(u"Plain.vst3"_s), std::nullopt, true),
              brokenPrefix(u"Plain.vst3"_s) + u"code object is not signed at all)"_s);
    const QString tampered = signedBundle(pki().otherTeam(), u"Tampered.vst3"_s);
    writeBytes(tampered + u"/Contents/Resources/Presets/Warm.preset"_s, "cold");
    EXPECT_TRUE(outcome(tampered, std::nullopt, true).startsWith(brokenPrefix(u"Tampered.vst3"_s)));
}

// --- The seal: nothing changed, added or removed ----------------------------

// Digests taken while unpacking stand in for reading the files; they are
// held against the seal like digests read from disk, in nested code too.
TEST_F(CodeSignatureTest, DigestsMeasuredWhileUnpackingAreHeldAgainstTheSeal)
{
    const QString bundle = signedBundle(pki().maker());
    const auto verifyWith = [&](const CodeSignature::MeasuredFiles& measured) -> QString {
        try {
            CodeSignature::verify(bundle, kID, false, pki().anchors(), measured);
            return u"accepted"_s;
        } catch (const HubError& error) {
            return error.errorDescription();
        }
    };
    const QByteArray warm = QCryptographicHash::hash("warm", QCryptographicHash::Sha256).toHex();
    const QByteArray other = QCryptographicHash::hash("WARM", QCryptographicHash::Sha256).toHex();
    const QString engine = u"Contents/Frameworks/Engine.framework/Contents/MacOS/Engine"_s;
    EXPECT_EQ(verifyWith({{u"Contents/Resources/Presets/Warm.preset"_s, {warm, 4, {}}}}), u"accepted"_s);
    EXPECT_EQ(verifyWith({{u"Contents/Resources/Presets/Warm.preset"_s, {other, 4, {}}}}),
              brokenPrefix(u"Fixture.vst3"_s) + u"a sealed resource was modified: Contents/Resources/Presets/Warm.preset)"_s);
    EXPECT_EQ(verifyWith({{engine, {other, 11, {}}}}),
              brokenPrefix(u"Fixture.vst3"_s) + u"a sealed resource was modified: "_s + engine + u')');
}

TEST_F(CodeSignatureTest, ChangedContentsBreakTheSignature)
{
    const struct {
        const char* label;
        std::function<void(const QString&)> change;
        const char* detail;
    } cases[] = {
        {"same-size edit", [](const QString& b) { writeBytes(b + u"/Contents/Resources/Presets/Warm.preset"_s, "WARM"); },
         "a sealed resource was modified: Contents/Resources/Presets/Warm.preset)"},
        {"one byte appended",
         [](const QString& b) { writeBytes(b + u"/Contents/Resources/data.bin"_s, QByteArray(4096, 'd') + 'x'); },
         "a sealed resource was modified: Contents/Resources/data.bin)"},
        {"file added", [](const QString& b) { writeBytes(b + u"/Contents/Resources/extra.txt"_s, "x"); },
         "a file was added after signing: Contents/Resources/extra.txt)"},
        {"folder added", [](const QString& b) { QDir().mkpath(b + u"/Contents/Empty"_s); },
         "a file was added after signing: Contents/Empty)"},
        {"file beside the signature",
         [](const QString& b) { writeBytes(b + u"/Contents/_CodeSignature/CodeDirectory"_s, "x"); },
         "a file was added after signing: Contents/_CodeSignature/CodeDirectory)"},
        {"file removed", [](const QString& b) { QFile::remove(b + u"/Contents/Resources/Presets/Warm.preset"_s); },
         "a sealed resource is missing: Contents/Resources/Presets/Warm.preset)"},
        {"data made executable", [](const QString& b) { setMode(b + u"/Contents/Resources/data.bin"_s, 0755); },
         "the permissions of a sealed resource changed: Contents/Resources/data.bin)"},
        {"set-user-id added", [](const QString& b) { setMode(b + u"/Contents/Resources/data.bin"_s, 04644); },
         "the permissions of a sealed resource changed: Contents/Resources/data.bin)"},
        {"link retargeted",
         [](const QString& b) {
             QFile::remove(b + u"/Contents/Resources/current.bin"_s);
             makeLink(u"Presets/Warm.preset"_s, b + u"/Contents/Resources/current.bin"_s);
         },
         "a symbolic link was changed: Contents/Resources/current.bin)"},
        {"link replaced by its file",
         [](const QString& b) {
             QFile::remove(b + u"/Contents/Resources/current.bin"_s);
             writeBytes(b + u"/Contents/Resources/current.bin"_s, QByteArray(4096, 'd'));
         },
         "a sealed resource was replaced: Contents/Resources/current.bin)"},
    };
    for (const auto& c : cases) {
        const QString name = QString::fromLatin1(c.label).replace(u' ', u'-') + u".vst3"_s;
        const QString bundle = signedBundle(pki().maker(), name);
        c.change(bundle);
        EXPECT_EQ(outcome(bundle), brokenPrefix(name) + QString::fromLatin1(c.detail)) << c.label;
        // The same change is just as broken when the requirement is waived.
        EXPECT_TRUE(outcome(bundle, std::nullopt, true).startsWith(brokenPrefix(name))) << c.label;
    }
}

TEST_F(CodeSignatureTest, WriteAccessIsNotSealed)
{
    // The all-users placement strips group and other write access before it
    // verifies; a maker's bundle must survive that.
    const QString bundle = signedBundle(pki().maker());
    setMode(bundle + u"/Contents/Resources/data.bin"_s, 0666);
    setMode(bundle + u"/Contents/MacOS/Fixture"_s, 0775);
    EXPECT_EQ(outcome(bundle), u"accepted"_s);
    setMode(bundle + u"/Contents/Resources/data.bin"_s, 0644);
    setMode(bundle + u"/Contents/MacOS/Fixture"_s, 0755);
    EXPECT_EQ(outcome(bundle), u"accepted"_s);
}

TEST_F(CodeSignatureTest, LinksLeavingTheBundleAreRefusedEvenWhenSealed)
{
    const struct {
        const char* label;
        std::function<void(const QString&)> add;
        const char* detail;
    } cases[] = {
        {"absolute", [](const QString& b) { makeLink(u"/etc/passwd"_s, b + u"/Contents/Resources/abs"_s); },
         "Contents/Resources/abs"},
        {"dot-dot", [](const QString& b) { makeLink(u"../../../outside"_s, b + u"/Contents/Resources/up"_s); },
         "Contents/Resources/up"},
        // Inside by its text alone; "up" is the bundle folder itself, so ".." leaves.
        {"through a linked folder",
         [](const QString& b) {
             makeLink(u"../.."_s, b + u"/Contents/Resources/up"_s);
             makeLink(u"up/../outside"_s, b + u"/Contents/Resources/sneaky"_s);
         },
         "Contents/Resources/sneaky"},
    };
    for (const auto& c : cases) {
        const QString name = QString::fromLatin1(c.label).replace(u' ', u'-') + u".vst3"_s;
        const QString bundle = unsignedBundle(name);
        c.add(bundle);
        Hub::Test::signBundle(bundle, pki().maker(), kID);
        EXPECT_EQ(outcome(bundle),
                  brokenPrefix(name) + u"a symbolic link leaves the bundle: "_s + QString::fromLatin1(c.detail) + u')')
            << c.label;
    }
}

TEST_F(CodeSignatureTest, NestedBundlesMustBeIntactOnTheirOwn)
{
    // The outer signature is renewed after the change, so only the nested
    // bundle's own signature can notice it.
    const QString tampered = signedBundle(pki().maker(), u"Tampered.vst3"_s);
    writeBytes(tampered + u"/Contents/Frameworks/Engine.framework/Contents/MacOS/Engine"_s, "evil code!!");
    Hub::Test::signBundleOnly(tampered, pki().maker(), kID);
    EXPECT_EQ(outcome(tampered),
              brokenPrefix(u"Tampered.vst3"_s)
                  + u"nested code is modified or invalid: Contents/Frameworks/Engine.framework "
                    u"(a sealed resource was modified: Contents/MacOS/Engine))"_s);
    EXPECT_TRUE(outcome(tampered, std::nullopt, true).startsWith(brokenPrefix(u"Tampered.vst3"_s)));

    const QString unsignedInside = unsignedBundle(u"Bare.vst3"_s);
    Hub::Test::signBundleOnly(unsignedInside, pki().maker(), kID);
    EXPECT_EQ(outcome(unsignedInside),
              brokenPrefix(u"Bare.vst3"_s)
                  + u"nested code is modified or invalid: Contents/Frameworks/Engine.framework "
                    u"(code object is not signed at all))"_s);

    // Nested code signed under a foreign root makes the whole bundle not the
    // maker's; nested code need not carry the outer identifier.
    const QString foreignInside = unsignedBundle(u"Mixed.vst3"_s);
    Hub::Test::signBundleOnly(foreignInside + u"/Contents/Frameworks/Engine.framework"_s, pki().foreign(), u"x.engine"_s);
    Hub::Test::signBundleOnly(foreignInside, pki().maker(), kID);
    EXPECT_EQ(outcome(foreignInside), notOursSentence(u"Mixed.vst3"_s));
    EXPECT_EQ(outcome(foreignInside, std::nullopt, true), notOursSentence(u"Mixed.vst3"_s));
    const QString otherIdentifier = unsignedBundle(u"Engine.vst3"_s);
    Hub::Test::signBundleOnly(otherIdentifier + u"/Contents/Frameworks/Engine.framework"_s, pki().maker(), u"x.engine"_s);
    Hub::Test::signBundleOnly(otherIdentifier, pki().maker(), kID);
    EXPECT_EQ(outcome(otherIdentifier), u"accepted"_s);
}

// --- Unreadable, unsigned and hostile signatures ----------------------------

TEST_F(CodeSignatureTest, PathsThatAreNotBundlesCantBeReadAsCode)
{
    EXPECT_EQ(outcome(m_dir.filePath(u"Missing.vst3"_s)),
              u"Missing.vst3 can't be read as signed code (-67068), so the hub won't install it."_s);
    writeBytes(m_dir.filePath(u"File.vst3"_s), "not a folder");
    EXPECT_EQ(outcome(m_dir.filePath(u"File.vst3"_s)),
              u"File.vst3 can't be read as signed code (-67028), so the hub won't install it."_s);
    // A link is refused, not followed: what it points at can change later.
    const QString bundle = signedBundle(pki().maker());
    makeLink(bundle, m_dir.filePath(u"Link.vst3"_s));
    EXPECT_EQ(outcome(m_dir.filePath(u"Link.vst3"_s)),
              u"Link.vst3 can't be read as signed code (-67028), so the hub won't install it."_s);
    EXPECT_EQ(outcome(m_dir.filePath(u"Link.vst3/"_s)),
              u"Link.vst3 can't be read as signed code (-67028), so the hub won't install it."_s);
}

TEST_F(CodeSignatureTest, DamagedSignatureFilesAreBrokenNotAccepted)
{
    const QString bundle = signedBundle(pki().maker());
    const QString signature = bundle + u"/Contents/_CodeSignature/CodeSignature"_s;
    const QString manifest = bundle + u"/Contents/_CodeSignature/CodeResources"_s;
    const QByteArray goodSignature = readBytes(signature);
    const QByteArray goodManifest = readBytes(manifest);

    writeBytes(signature, goodSignature.left(goodSignature.size() / 2));
    EXPECT_EQ(outcome(bundle), brokenPrefix(u"Fixture.vst3"_s) + u"the signature can't be decoded)"_s);
    writeBytes(signature, goodSignature);

    QByteArray edited = goodManifest;
    edited.replace("Warm.preset", "Warm.presex");
    ASSERT_NE(edited, goodManifest);
    writeBytes(manifest, edited);
    EXPECT_EQ(outcome(bundle),
              brokenPrefix(u"Fixture.vst3"_s) + u"invalid signature (code or signature have been modified))"_s);
    writeBytes(manifest, goodManifest);

    QFile::remove(manifest);
    EXPECT_EQ(outcome(bundle), brokenPrefix(u"Fixture.vst3"_s) + u"the sealed resource list is missing)"_s);
    writeBytes(manifest, goodManifest);

    // A signature file that is a link is not read through.
    QFile::remove(signature);
    writeBytes(m_dir.filePath(u"elsewhere"_s), goodSignature);
    makeLink(m_dir.filePath(u"elsewhere"_s), signature);
    EXPECT_EQ(outcome(bundle), brokenPrefix(u"Fixture.vst3"_s) + u"the signature can't be read)"_s);
    QFile::remove(signature);
    writeBytes(signature, goodSignature);
    EXPECT_EQ(outcome(bundle), u"accepted"_s);
}

TEST_F(CodeSignatureTest, SignedListsOutsideTheCanonicalFormAreRefused)
{
    const QString bundle = signedBundle(pki().maker());
    const QByteArray good = readBytes(bundle + u"/Contents/_CodeSignature/CodeResources"_s);
    ASSERT_TRUE(CodeResources::fromJson(good));

    const struct {
        const char* label;
        QByteArray manifest;
    } cases[] = {
        {"spaced", QByteArray(good).replace("\"format\":1", "\"format\": 1")},
        {"duplicate key", QByteArray(good).replace("{\"format\":1,", "{\"format\":1,\"format\":1,")},
        {"escaping path",
         QByteArray(good).replace("\"resources\":{", "\"resources\":{\"../x\":{\"mode\":420,\"type\":\"directory\"},")},
        {"signature folder listed",
         QByteArray(good).replace("\"resources\":{",
                                  "\"resources\":{\"Contents/_CodeSignature\":{\"mode\":493,\"type\":\"directory\"},")},
        {"unknown format", QByteArray(good).replace("\"format\":1", "\"format\":2")},
        {"not JSON", QByteArray("CodeResources")},
        {"empty", QByteArray()},
    };
    for (const auto& c : cases) {
        ASSERT_NE(c.manifest, good) << c.label;
        Hub::Test::writeSignature(bundle, pki().maker(), c.manifest);
        const QString result = outcome(bundle);
        EXPECT_TRUE(result.startsWith(brokenPrefix(u"Fixture.vst3"_s) + u"the resource list"_s))
            << c.label << ": " << result.toStdString();
    }
}

// --- The signer's team -------------------------------------------------------

TEST_F(CodeSignatureTest, TeamIDIsTheAnchoredLeafsOrganisationalUnit)
{
    const TrustAnchors anchors = pki().anchors();
    EXPECT_EQ(CodeSignature::teamID(signedBundle(pki().maker(), u"Maker.vst3"_s), anchors), Config::teamID());
    EXPECT_EQ(CodeSignature::teamID(signedBundle(pki().otherTeam(), u"Other.vst3"_s), anchors),
              QString::fromLatin1(Hub::Test::TestPKI::kOtherTeam));
    EXPECT_EQ(CodeSignature::teamID(unsignedBundle(u"Plain.vst3"_s), anchors), std::nullopt);
    EXPECT_EQ(CodeSignature::teamID(m_dir.filePath(u"Missing.vst3"_s), anchors), std::nullopt);
    // Anyone can put the maker's team in a certificate of their own root.
    EXPECT_EQ(CodeSignature::teamID(signedBundle(pki().foreign(), u"Foreign.vst3"_s), anchors), std::nullopt);

    // A changed file does not change who signed the bundle.
    const QString edited = signedBundle(pki().maker(), u"Edited.vst3"_s);
    writeBytes(edited + u"/Contents/Resources/Presets/Warm.preset"_s, "edited by the user");
    EXPECT_EQ(CodeSignature::teamID(edited, anchors), Config::teamID());
}

// --- The codesign tool the privileged scripts run ---------------------------

class CodesignAppletTest : public CodeSignatureTest {
protected:
    struct Run {
        int status;
        QString output;
    };

    Run codesign(const QStringList& arguments)
    {
        const QString anchorFile = m_dir.filePath(u"anchor.pem"_s);
        if (!QFile::exists(anchorFile))
            writeBytes(anchorFile, pki().anchorPem());
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(Hub::Test::buildTreeTools().codesign, QStringList{u"--anchors="_s + anchorFile} + arguments);
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
            return {-1, process.errorString()};
        return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
    }
};

TEST_F(CodesignAppletTest, ExitStatusesAsTheScriptsReadThem)
{
    const QString maker = signedBundle(pki().maker(), u"Maker.vst3"_s);
    const QString other = signedBundle(pki().otherTeam(), u"Other.vst3"_s);
    const QString plain = unsignedBundle(u"Plain.vst3"_s);
    const QString tampered = signedBundle(pki().maker(), u"Tampered.vst3"_s);
    writeBytes(tampered + u"/Contents/Resources/data.bin"_s, QByteArray(4096, 'e'));
    const QString requirement = u"-R="_s + CodeSignature::requirement(kID, Config::teamID());
    const QStringList verify{u"--verify"_s, u"--strict"_s, u"--deep"_s};

    EXPECT_EQ(codesign(verify + QStringList{requirement, maker}).status, 0);
    EXPECT_EQ(codesign(verify + QStringList{maker}).status, 0);

    const Run notOurs = codesign(verify + QStringList{requirement, other});
    EXPECT_EQ(notOurs.status, 3);
    EXPECT_TRUE(notOurs.output.contains(other + u": test-requirement: code failed to satisfy"_s)) << notOurs.output.toStdString();
    EXPECT_EQ(codesign(verify + QStringList{other}).status, 0);

    const Run broken = codesign(verify + QStringList{requirement, tampered});
    EXPECT_EQ(broken.status, 1);
    EXPECT_TRUE(broken.output.contains(u"a sealed resource was modified: Contents/Resources/data.bin"_s))
        << broken.output.toStdString();
    EXPECT_EQ(codesign(verify + QStringList{plain}).status, 1);
    EXPECT_EQ(codesign(verify + QStringList{requirement, m_dir.filePath(u"Missing.vst3"_s)}).status, 1);
}

// A seal made a minute ago with a certificate of one's own, naming the
// maker's team, is intact; every check that takes no requirement (or one
// that names no anchor) must still refuse it, and take the maker's.
TEST_F(CodesignAppletTest, ASelfSignedSealIsRefusedByEveryCheckWithoutARequirement)
{
    const QString anchorless = u"identifier \""_s + kID + u"\" and certificate leaf[subject.OU] = \""_s
                               + Config::teamID() + u'"';
    const QStringList verify{u"--verify"_s, u"--strict"_s, u"--deep"_s};
    Artifact artifact;
    artifact.format = PluginFormat::vst3;
    artifact.bundle = u"Fixture.vst3"_s;
    struct Row {
        const char* name;
        const Hub::Test::SigningIdentity* signer;
        bool accepted;
    };
    for (const Row& row : {Row{"the maker", &pki().maker(), true}, Row{"a self-signed certificate", &pki().selfSigned(), false}}) {
        SCOPED_TRACE(row.name);
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        BundlePlan recipe;
        recipe.name = u"Fixture.vst3"_s;
        recipe.bundleID = kID;
        recipe.shortVersion = u"1.0.0"_s;
        recipe.withFile(u"Contents/Resources/data.bin"_s, "data");
        const QString bundle = create(folder.path(), recipe);
        Hub::Test::signBundle(bundle, *row.signer, kID);
        const QString sentence = row.accepted ? u"accepted"_s : notOursSentence(u"Fixture.vst3"_s);

        EXPECT_EQ(outcome(bundle, std::nullopt, true), sentence);
        EXPECT_EQ(outcome(bundle, kID, true), sentence);
        EXPECT_EQ(CodeSignature::checkValidity(bundle, std::nullopt, pki().anchors()).isValid(), row.accepted);
        const std::optional<Requirement> compiled = Requirement::compile(anchorless);
        ASSERT_TRUE(compiled);
        EXPECT_EQ(CodeSignature::checkValidity(bundle, compiled, pki().anchors()).isValid(), row.accepted);
        // The staged check of an install that allows any signer.
        try {
            PluginInstaller::verifyStaged(bundle, artifact, u"1.0.0"_s, true, pki().anchors());
            EXPECT_TRUE(row.accepted);
        } catch (const HubError& error) {
            EXPECT_EQ(error.errorDescription(), sentence);
        }
        // The tool the privileged scripts run: 1 (invalid) without a
        // requirement, 3 (not satisfied) with one that names no anchor.
        const Run plain = codesign(verify + QStringList{bundle});
        EXPECT_EQ(plain.status, row.accepted ? 0 : 1) << plain.output.toStdString();
        EXPECT_EQ(codesign(verify + QStringList{u"-R="_s + anchorless, bundle}).status, row.accepted ? 0 : 3);
    }
}

TEST_F(CodesignAppletTest, RequirementFromAFileAndBadCommandLines)
{
    const QString maker = signedBundle(pki().maker(), u"Maker.vst3"_s);
    const QString requirementFile = m_dir.filePath(u"requirement.txt"_s);
    writeBytes(requirementFile, CodeSignature::requirement(u"com.tarnaudio.other"_s, Config::teamID()).toUtf8());
    EXPECT_EQ(codesign({u"-v"_s, u"-R"_s, requirementFile, maker}).status, 3);
    EXPECT_EQ(codesign({u"-v"_s, u"-R"_s, u"=identifier \""_s + kID + u'"', maker}).status, 0);

    EXPECT_EQ(codesign({u"--verify"_s, u"-R=anchor apple generic or identifier \"x\""_s, maker}).status, 2);
    EXPECT_EQ(codesign({u"--verify"_s, u"-R"_s, m_dir.filePath(u"no-such-file"_s), maker}).status, 2);
    EXPECT_EQ(codesign({u"--verify"_s}).status, 2);
    EXPECT_EQ(codesign({u"--display"_s, maker}).status, 2);
    EXPECT_EQ(codesign({maker}).status, 2);
}

} // namespace
