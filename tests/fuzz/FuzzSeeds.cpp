// Writes the fuzz targets' seed corpora from the tests' own fixtures: the
// built-in catalog, fixture bundles, packages and disk images, the fake
// services' replies. Usage: fuzz_seeds <folder>; one subfolder per target.
#include "Catalog/CatalogLoader.h"
#include "Platform/PropertyList.h"
#include "Reports/Report.h"

#include "BundleFactory.h"
#include "CraftedArchives.h"
#include "FakeClerkService.h"
#include "HostileLists.h"
#include "PackageBuilder.h"
#include "TestFiles.h"
#include "TestPKI.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <exception>

using namespace Qt::StringLiterals;

namespace {

using namespace Hub;
using namespace Hub::Test;

QString g_root;

void seed(const QString& target, const QString& name, const QByteArray& bytes)
{
    const QString folder = g_root + u'/' + target;
    QDir().mkpath(folder);
    writeFile(folder + u'/' + name, bytes);
}

// The archive target reads a format selector before the archive.
QByteArray selected(char selector, const QString& file)
{
    return QByteArray(1, selector) + readFile(file);
}

// A service reply: the status in two bytes, then the body.
QByteArray reply(int status, const QByteArray& body)
{
    return QByteArray(1, char((status - 100) >> 8)) + char((status - 100) & 0xff) + body;
}

BundlePlan component()
{
    BundlePlan recipe;
    recipe.name = u"Echos.component"_s;
    recipe.bundleVersion = u"1.0.0.7"_s;
    recipe.withComponent(u"aufx"_s, u"Echo"_s, u"Tarn"_s, u"Tarnaudio: Echos"_s)
        .withComponent(u"aumf"_s, u"Ech2"_s, u"Tarn"_s)
        .withFile(u"Contents/Resources/notes.txt"_s, "notes\n")
        .withSymlink(u"Contents/Resources/link"_s, u"notes.txt"_s);
    return recipe;
}

void catalogSeeds()
{
    const QByteArray builtIn = readFile(QStringLiteral(HUB_SOURCE_DIR "/HubTarn/Resources/catalog.json"));
    seed(u"catalog"_s, u"built-in.json"_s, builtIn);
    seed(u"catalog"_s, u"built-in-compact.json"_s, CatalogLoader::decode(builtIn).toJson());
    // Numbers and marks a reader of doubles and of UTF-8 gets wrong.
    const auto withSize = [](const QByteArray& size) -> QByteArray {
        return R"({"schema":1,"products":[{"id":"a","name":"A","tagline":"t","kind":"plugin","status":"free",)"
               R"("release":{"version":"1","size":)" + size + "}}]}";
    };
    seed(u"catalog"_s, u"long-one.json"_s, withSize("1" + QByteArray(1'000'001, '0') + "e-1000001"));
    seed(u"catalog"_s, u"fraction-past-2-52.json"_s, withSize("-8446744073709550.04"));
    seed(u"catalog"_s, u"fraction-past-2-62.json"_s, withSize("4611686018427387904.5"));
    seed(u"catalog"_s, u"byte-order-marks.json"_s,
         "{\"schema\":1,\"\xEF\xBB\xBFproducts\":[],\"products\":[{\"id\":\"\xEF\xBB\xBF" "a\\n\xEF\xBB\xBF\"}]}");
    seed(u"catalog"_s, u"fraction-at-2-52.json"_s, withSize("4503599627370496.5"));
    // Half a surrogate pair, in a value and in a key, and text after the object.
    const auto withTagline = [](const QByteArray& tagline) -> QByteArray {
        return R"({"schema":1,"products":[{"id":"a","name":"A","tagline":")" + tagline
               + R"(","kind":"plugin","status":"free"}]})";
    };
    seed(u"catalog"_s, u"high-half-alone.json"_s, withTagline(R"(cut \ud83d)"));
    seed(u"catalog"_s, u"low-half-alone.json"_s, withTagline(R"(\udc00 and \ud83d\u0041)"));
    seed(u"catalog"_s, u"half-in-a-key.json"_s, R"({"\ud83d":1,"schema":1,"products":[]})");
    seed(u"catalog"_s, u"text-after.json"_s, R"({"schema":1,"products":[]} x)");
    seed(u"catalog"_s, u"second-object.json"_s, R"({"schema":1,"products":[]}{"schema":1,"products":[]})");
    seed(u"catalog"_s, u"stray-bracket.json"_s, R"({"schema":1,"products":[]}])");
}

void propertyListSeeds()
{
    seed(u"plist"_s, u"component.plist"_s, BundleFactory::infoPlist(component()));
    BundlePlan app;
    app.name = u"Tarnhub.app"_s;
    seed(u"plist"_s, u"app.plist"_s, BundleFactory::infoPlist(app));
    const QVariantMap everyType{
        {u"text"_s, u"Tarnaudio & <friends>"_s},
        {u"whole"_s, qint64(-42)},
        {u"fraction"_s, 2.5},
        {u"yes"_s, true},
        {u"no"_s, false},
        {u"bytes"_s, QByteArray("\x00\x01\xfe", 3)},
        {u"list"_s, QVariantList{u"a"_s, 1, QVariantList{}, QVariantMap{}}},
        {u"nested"_s, QVariantMap{{u"inner"_s, QVariantMap{{u"deep"_s, u"value"_s}}}}},
    };
    seed(u"plist"_s, u"every-type.plist"_s, PropertyList::serialize(everyType));
    // Lists shared by reference, nesting right up to the cap and one past it.
    seed(u"plist"_s, u"shared-nesting-256.plist"_s, sharedNestingList(3, 85));
    seed(u"plist"_s, u"shared-nesting-257.plist"_s, sharedNestingList(2, 128));
}

void reportSeeds()
{
    Report report;
    report.product = u"echos"_s;
    report.code = u"au.load_failed"_s;
    report.version = u"1.4.2"_s;
    report.format = u"au"_s;
    report.host = u"Reaper"_s;
    report.os = u"14.0.0"_s;
    report.arch = u"arm64"_s;
    report.machineID = u"0123456789abcdef"_s;
    report.reporter = u"plugin"_s;
    report.message = u"Couldn't open /home/someone/Music/set.rpp"_s;
    report.count = 3;
    report.firstAt = 1764500000;
    report.lastAt = 1764586400;
    report.context = ReportContext{{u"sampleRate"_s, 48000.0}, {u"offline"_s, true}, {u"device"_s, u"USB"_s}};
    seed(u"report"_s, u"full.json"_s, report.encode().value());
    Report smallest;
    smallest.product = u"hub"_s;
    smallest.code = u"install"_s;
    seed(u"report"_s, u"smallest.json"_s, smallest.encode().value());
    // A plug-in's file: a message cut mid-emoji, a fraction at 2^52.
    seed(u"report"_s, u"plugin-written.json"_s,
         R"({"v":1,"product":"echos","code":"au.x","message":"cut \ud83d","context":{"n":4503599627370496.5}})");
}

void archiveSeeds(const QString& work)
{
    const QString bundle = BundleFactory::create(work + u"/items"_s, component());
    PackageBuilder::writePayload(work + u"/payload.tar.gz"_s, {bundle});
    PackageBuilder::diskImage(work + u"/image.zip"_s, {{u"Echos/"_s, {}},
                                                       {u"Echos/Read Me.txt"_s, "Drag the bundle.\n"},
                                                       {u"Echos.pkg"_s, "not really a package"}});
    seed(u"archive"_s, u"disk-image.zip"_s, selected(0, work + u"/image.zip"_s));
    seed(u"archive"_s, u"disk-image-any.zip"_s, selected(1, work + u"/image.zip"_s));
    seed(u"archive"_s, u"bundle.tar.gz"_s, selected(1, work + u"/payload.tar.gz"_s));
    // Sizes that lie: a file that inflates past what it states, files that
    // claim more than any product unpacks to.
    seed(u"archive"_s, u"lying-size.zip"_s,
         QByteArray(1, 0) + craftedZip({{"Echos.component/Contents/Info.plist", QByteArray(64 * 1024, ' '), 512}}));
    seed(u"archive"_s, u"claims-too-much.zip"_s,
         QByteArray(1, 0) + craftedZip({{"a.bin", "a", 0xfffffffeu}, {"b.bin", "b", 0xfffffffeu}}));
    seed(u"archive"_s, u"claims-too-much.tar"_s, QByteArray(1, 1) + claimingTar(9'000'000'000ull));
}

void packageSeeds(const QString& work)
{
    const TestPKI pki;
    const QString bundle = BundleFactory::create(work + u"/package-items"_s, component());
    PackageSpec signedRecipe;
    PackageBuilder::build(work + u"/signed.pkg"_s, {bundle}, signedRecipe, pki);
    seed(u"package"_s, u"signed.pkg"_s, readFile(work + u"/signed.pkg"_s));
    PackageSpec unsignedRecipe;
    unsignedRecipe.signer = PackageSpec::Signer::none;
    unsignedRecipe.ticket = false;
    PackageBuilder::build(work + u"/unsigned.pkg"_s, {bundle}, unsignedRecipe, pki);
    seed(u"package"_s, u"unsigned.pkg"_s, readFile(work + u"/unsigned.pkg"_s));
}

void replySeeds()
{
    seed(u"signin"_s, u"error.json"_s,
         QByteArray::fromStdString(FakeClerkService::errorBody("form_password_incorrect", "Password is incorrect.",
                                                               "Password is incorrect. Try again.")));
    seed(u"service"_s, u"device"_s,
         reply(200, R"({"device_token":"dt_1","device_id":"dev_1","user":{"id":"u_1","email":"a@b.example","name":"A"}})"));
    seed(u"service"_s, u"download"_s, reply(200, R"({"url":"https://127.0.0.1/files/echos-1.4.2.zip"})"));
    seed(u"service"_s, u"named-error"_s, reply(403, R"({"error":"no_license","message":"You don't own this."})"));
    seed(u"service"_s, u"unauthorized"_s, reply(401, "{}"));
    seed(u"service"_s, u"proxy-error"_s, reply(502, "<html>Bad gateway</html>"));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
        return 2;
    }
    g_root = QFile::decodeName(argv[1]);
    try {
        QTemporaryDir work;
        if (!work.isValid())
            throw std::runtime_error("no temporary folder");
        catalogSeeds();
        propertyListSeeds();
        reportSeeds();
        archiveSeeds(work.path());
        packageSeeds(work.path());
        replySeeds();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", error.what());
        return 1;
    }
    return 0;
}
