#include "LocalService.h"

#include "BundleFactory.h"
#include "BundleSigner.h"
#include "PackageBuilder.h"
#include "ToolsPaths.h"

#include "Base/Config.h"
#include "Base/Process.h"
#include "Base/Versions.h"
#include "Catalog/CatalogLoader.h"
#include "Catalog/SharedTypes.h"
#include "Reports/ReportSpool.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace Hub::LocalService {

namespace {

[[noreturn]] void fail(const QString& what)
{
    throw std::runtime_error("hub-local-service: " + what.toStdString());
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        fail(u"cannot write "_s + path);
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(u"cannot read "_s + path);
    return file.readAll();
}

QString sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QJsonArray strings(const QStringList& list)
{
    return QJsonArray::fromStringList(list);
}

const QStringList kArchs{u"arm64"_s, u"x86_64"_s};

// One product of the catalog. Everything a tab, a row or the page shows
// somewhere is covered by at least one of them.
struct ProductPlan {
    QString id;
    QString name;
    QString tagline;
    QString kind = u"plugin"_s;
    QStringList formats{u"vst3"_s, u"au"_s};
    QString status = u"paid"_s; // paid, free, coming_soon, invite
    QString price = u"$39"_s;
    // The tint is the window's colour behind the product's page: a dark
    // one, as the window's own, since the page's text is light.
    QString accent, accentText, tint, tile, tileText;
    QString version;             // empty: no release (coming soon)
    QString minMacOS = u"11.0"_s;
    QStringList history;         // earlier versions, newest first, for the change log
    bool package = false;        // ships as an installer package
    bool feed = false;           // its release comes from a release feed (a disk image)
    QString displayName;
    QString settingsFolder;
};

// The table leaves out the fields a product does not use.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
QList<ProductPlan> productPlans()
{
    QList<ProductPlan> plans;
    const auto add = [&plans](ProductPlan plan) { plans.append(std::move(plan)); };
    add({u"echo"_s, u"Echo"_s, u"A tape echo whose wobble stays in time with the song."_s, u"plugin"_s,
         {u"vst3"_s, u"au"_s}, u"free"_s, QString(), u"#E8A33D"_s, u"#2B1A00"_s, u"#17120A"_s, u"#3A2A12"_s,
         u"#F6E3C4"_s, u"1.2.0"_s, u"11.0"_s, {u"1.1.0"_s, u"1.0.0"_s}, false, false, QString(),
         u"Tarn Audio/Echo"_s});
    add({u"drift"_s, u"Drift"_s, u"Slow chorus and pitch drift for pads that breathe."_s, u"plugin"_s,
         {u"vst3"_s, u"au"_s}, u"paid"_s, u"$39"_s, u"#6FA8DC"_s, u"#0B1E2A"_s, u"#0C131A"_s, u"#1D3448"_s,
         u"#D8E8F6"_s, u"2.1.0"_s, u"11.0"_s, {u"2.0.0"_s, u"1.4.0"_s}});
    add({u"lumen"_s, u"Lumen"_s, u"A shimmer reverb in open beta for invited testers."_s, u"plugin"_s,
         {u"vst3"_s, u"au"_s}, u"paid"_s, u"$59"_s, u"#B48EDB"_s, u"#21103A"_s, u"#140F1A"_s, u"#2E1F44"_s,
         u"#E6D9F5"_s, u"0.9.2"_s, u"11.0"_s, {u"0.9.0"_s}});
    add({u"halo"_s, u"Halo"_s, u"A vocal doubler, coming this spring."_s, u"plugin"_s, {u"vst3"_s, u"au"_s},
         u"coming_soon"_s, QString(), u"#F2C94C"_s, u"#2E2400"_s, u"#16140A"_s, u"#40361A"_s, u"#F8EBC0"_s});
    add({u"fieldnote"_s, u"Fieldnote"_s, u"A sketchbook recorder that files takes by song."_s, u"app"_s,
         {u"app"_s}, u"paid"_s, u"$29"_s, u"#58B09C"_s, u"#08231D"_s, u"#0B1613"_s, u"#163A31"_s, u"#D2EEE6"_s,
         u"1.0.4"_s, u"11.0"_s, {u"1.0.0"_s}});
    add({u"loom"_s, u"Loom"_s, u"A standalone sample librarian, installed with its own installer."_s, u"app"_s,
         {u"app"_s}, u"paid"_s, u"$19"_s, u"#D9825B"_s, u"#2A1206"_s, u"#1A100B"_s, u"#472416"_s, u"#F4D9CC"_s,
         u"3.0.1"_s, u"11.0"_s, {u"3.0.0"_s}, true});
    add({u"basalt"_s, u"Basalt"_s, u"A heavy compressor that needs a newer system than this one."_s, u"plugin"_s,
         {u"vst3"_s, u"au"_s}, u"paid"_s, u"$49"_s, u"#5D6D7E"_s, u"#FFFFFF"_s, u"#111417"_s, u"#2C3540"_s,
         u"#DCE2E8"_s, u"1.0.0"_s, u"99.0"_s});
    add({u"moraine"_s, u"Moraine"_s, u"A granular freezer shared with your account only."_s, u"plugin"_s,
         {u"vst3"_s, u"au"_s}, u"invite"_s, QString(), u"#8FB573"_s, u"#142208"_s, u"#101609"_s, u"#26381A"_s,
         u"#DCEBD0"_s, u"0.4.0"_s, u"11.0"_s});
    add({u"glasswing"_s, u"Glasswing"_s, u"A bright plate reverb that stays out of the vocal's way."_s,
         u"plugin"_s, {u"vst3"_s, u"au"_s}, u"paid"_s, u"$49"_s, u"#7FB8D6"_s, u"#0B1E2A"_s, u"#0B1519"_s,
         u"#1C3442"_s, u"#DDEEF6"_s, u"1.5.0"_s, u"11.0"_s, {u"1.4.2"_s}, false, true});
    add({u"sedge"_s, u"Sedge"_s, u"A free tilt equaliser with one knob that matters."_s, u"plugin"_s,
         {u"vst3"_s}, u"free"_s, QString(), u"#9CCC65"_s, u"#1B2A0A"_s, u"#10160A"_s, u"#2F4418"_s, u"#DFF0CB"_s,
         u"1.2.0"_s, u"11.0"_s, {u"1.1.3"_s}});
    add({u"tallow"_s, u"Tallow"_s, u"A warm tube saturator, as an Audio Unit only."_s, u"plugin"_s, {u"au"_s},
         u"paid"_s, u"$25"_s, u"#E57373"_s, u"#2C0B0B"_s, u"#1A0E0E"_s, u"#4A1E1E"_s, u"#F5D4D4"_s, u"2.3.0"_s,
         u"11.0"_s, {u"2.2.0"_s}});
    add({u"scree"_s, u"Scree"_s, u"Über-dense distortion for drums: crunch, clank and rattle."_s, u"plugin"_s,
         {u"vst3"_s, u"au"_s}, u"paid"_s, u"$35"_s, u"#A1887F"_s, u"#21140F"_s, u"#16110F"_s, u"#3B2C26"_s,
         u"#E9DFDB"_s, u"2.0.1"_s, u"11.0"_s, {u"2.0.0"_s, u"1.9.0"_s}, false, false, u"Scree Drum Crusher"_s});
    return plans;
}
#pragma GCC diagnostic pop

QStringList notesFor(const ProductPlan& plan, const QString& version)
{
    if (version == plan.version)
        return {u"Fixes a click when automating the mix quickly."_s,
                u"Presets now remember the output level."_s};
    return {u"Lower CPU use at high sample rates."_s, u"New preset browser with favourites."_s};
}

// The product's formats as the catalog words them for people ("VST3").
QStringList formatWords(const QStringList& formats)
{
    QStringList words;
    for (const QString& format : formats)
        words << label(*pluginFormatFromRaw(format));
    return words;
}

QString extensionOf(const QString& format)
{
    if (format == "vst3"_L1)
        return u".vst3"_s;
    if (format == "au"_L1)
        return u".component"_s;
    return u".app"_s;
}

// Four letters for an Audio Unit's subtype, from the identifier.
QString subtypeOf(const QString& id)
{
    QString code = id.left(4);
    while (code.size() < 4)
        code += u'x';
    code[0] = code[0].toUpper();
    return code;
}

} // namespace

std::optional<Fault> faultNamed(const QString& name)
{
    if (name == "checksum"_L1)
        return Fault::checksum;
    if (name == "stall"_L1)
        return Fault::stall;
    if (name == "unauthorized"_L1)
        return Fault::unauthorized;
    return std::nullopt;
}

LocalService::LocalService(const QString& folder, Fault fault)
    : m_folder(QDir(folder).absolutePath())
    , m_fault(fault)
{
    if (!QDir().mkpath(m_folder))
        fail(u"cannot make "_s + m_folder);
    m_accounts = {
        {u"ada@tarn.example"_s, u"tarn-try-1"_s, u"Ada Lindqvist"_s, u"424242"_s},
        {u"bo@tarn.example"_s, u"tarn-try-2"_s, u"Bo Sørensen"_s, std::nullopt},
    };
    m_server = std::make_unique<Test::TestHttpsServer>();
    buildCatalog();
    route();
    writeProfile();
}

LocalService::~LocalService()
{
    // The server goes first: no handler may run on what follows.
    m_clerk.reset();
    m_hub.reset();
    m_server.reset();
}

QString LocalService::path(const QString& relative) const
{
    return QDir(m_folder).filePath(relative);
}

QString LocalService::profilePath() const
{
    return path(u"profile.json"_s);
}

QString LocalService::address() const
{
    return m_server->url(u"/"_s).toString(QUrl::StripTrailingSlash);
}

void LocalService::serve(const std::string& path, Served served)
{
    m_files[path] = std::move(served);
}

void LocalService::buildCatalog()
{
    const ToolPaths tools = Test::buildTreeTools();

    // A signed bundle of one format and version, zipped as the maker ships it.
    const auto bundle = [&](const ProductPlan& plan, const QString& format, const QString& version,
                            const QString& into) {
        Test::BundlePlan recipe;
        recipe.name = plan.name + extensionOf(format);
        recipe.bundleID = u"com.tarnaudio."_s + plan.id + u'.' + format;
        recipe.shortVersion = version;
        recipe.bundleVersion = version;
        if (format == "au"_L1)
            recipe.withComponent(u"aufx"_s, subtypeOf(plan.id), u"Trna"_s, u"Tarn Audio: "_s + plan.name);
        recipe.withFile(u"Contents/Resources/about.txt"_s,
                        (plan.name + u' ' + version + u" (" + format + u")\n" + plan.tagline + u'\n').toUtf8());
        const QString made = Test::BundleFactory::create(into, recipe);
        Test::signBundle(made, m_pki.maker());
        return made;
    };
    const auto zip = [&](const QString& folder, const QString& into) {
        QDir().mkpath(QFileInfo(into).absolutePath());
        const Shell::Result zipped = Shell::run(tools.ditto, {u"-c"_s, u"-k"_s, u"--keepParent"_s, folder, into}, 120);
        if (zipped.status != 0)
            fail(u"cannot zip "_s + folder + u": "_s + zipped.output);
        return readBytes(into);
    };

    // An installer package of one format's bundle, as the maker signs it.
    const auto package = [&](const ProductPlan& plan, const QString& format, const QString& location,
                             const QString& file) {
        const QString made = bundle(plan, format, plan.version,
                                    path(u"bundles/"_s + plan.id + u'/' + plan.version + u"/package"_s));
        Test::PackageSpec recipe;
        recipe.identifier = u"com.tarnaudio."_s + plan.id + u".pkg"_s;
        recipe.version = plan.version;
        recipe.installLocation = location;
        QDir().mkpath(QFileInfo(file).absolutePath());
        Test::PackageBuilder::build(file, {made}, recipe, m_pki);
        return readBytes(file);
    };

    QJsonArray products;
    for (const ProductPlan& plan : productPlans()) {
        QJsonObject product{
            {u"id"_s, plan.id},           {u"name"_s, plan.name},     {u"tagline"_s, plan.tagline},
            {u"kind"_s, plan.kind},       {u"formats"_s, strings(formatWords(plan.formats))}, {u"status"_s, plan.status},
            {u"accent"_s, plan.accent},   {u"accent_text"_s, plan.accentText}, {u"tint"_s, plan.tint},
            {u"tile"_s, plan.tile},       {u"tile_text"_s, plan.tileText},
            {u"page_url"_s, QString(u"https://tarnaudio.example/plugins/"_s + plan.id)},
            {u"icon"_s, QString(u"img/icons/"_s + plan.id + u".png"_s)},
        };
        if (!plan.price.isEmpty()) {
            product.insert(u"price"_s, plan.price);
            product.insert(u"buy_url"_s, QString(u"https://tarnaudio.example/buy/"_s + plan.id));
        }
        if (!plan.displayName.isEmpty())
            product.insert(u"display_name"_s, plan.displayName);
        if (!plan.settingsFolder.isEmpty())
            product.insert(u"settings_folder"_s, plan.settingsFolder);

        if (!plan.version.isEmpty()) {
            QJsonArray history;
            for (const QString& version : QStringList{plan.version} + plan.history)
                history.append(QJsonObject{{u"version"_s, version},
                                           {u"date"_s, QString(u"2026-11-0"_s + QString::number(1 + history.size()))},
                                           {u"notes"_s, strings(notesFor(plan, version))}});
            product.insert(u"releases"_s, history);

            QJsonObject release{{u"version"_s, plan.version},
                                {u"min_macos"_s, plan.minMacOS},
                                {u"notes"_s, notesFor(plan, plan.version).first()},
                                {u"archs"_s, strings(kArchs)}};
            const QString base = u"/downloads/"_s + plan.id + u'/' + plan.version + u'/';
            if (plan.package) {
                const QByteArray bytes =
                    package(plan, u"app"_s, u"/Applications"_s,
                            path(u"downloads/"_s + plan.id + u'-' + plan.version + u".pkg"_s));
                // Where its installer puts it, so a scan finds the copy.
                product.insert(u"install"_s,
                               QJsonObject{{u"bundles"_s, QJsonArray{QString(u"/Applications/"_s + plan.name + u".app"_s)}}});
                release.insert(u"pkg_url"_s, m_server->url(base + u"package"_s).toString());
                release.insert(u"sha256"_s, sha256(bytes));
                release.insert(u"size"_s, bytes.size());
                serve(QString(base + u"package"_s).toStdString(), {bytes, "application/octet-stream"});
            } else {
                QJsonArray artifacts;
                for (const QString& format : plan.formats) {
                    const QString folder = path(u"bundles/"_s + plan.id + u'/' + plan.version + u'/' + format);
                    const QString made = bundle(plan, format, plan.version, folder);
                    const QByteArray bytes =
                        zip(made, path(u"downloads/"_s + plan.id + u'/' + plan.version + u'/' + format + u".zip"_s));
                    QJsonObject artifact{{u"format"_s, format},
                                         {u"url"_s, m_server->url(base + format).toString()},
                                         {u"sha256"_s, sha256(bytes)},
                                         {u"size"_s, bytes.size()},
                                         {u"bundle"_s, QFileInfo(made).fileName()},
                                         {u"bundle_id"_s, QString(u"com.tarnaudio."_s + plan.id + u'.' + format)},
                                         {u"archs"_s, strings(kArchs)}};
                    if (format == "au"_L1)
                        artifact.insert(u"au"_s, QJsonObject{{u"type"_s, u"aufx"_s},
                                                             {u"subtype"_s, subtypeOf(plan.id)},
                                                             {u"manufacturer"_s, u"Trna"_s}});
                    artifacts.append(artifact);
                    Served served{bytes, "application/zip"};
                    if (plan.id == QLatin1StringView(kUpdateProduct)) {
                        served.corrupt = m_fault == Fault::checksum;
                        served.stall = m_fault == Fault::stall;
                    }
                    serve(QString(base + format).toStdString(), std::move(served));
                }
                release.insert(u"artifacts"_s, artifacts);
            }
            product.insert(u"release"_s, release);
        }

        if (plan.feed) {
            // The feed announces a disk image holding the installer package.
            const QByteArray pkg = package(plan, u"vst3"_s, u"/Library/Audio/Plug-Ins/VST3"_s,
                                           path(u"downloads/"_s + plan.id + u'-' + plan.version + u".pkg"_s));
            const QString imageName = plan.name + u'-' + plan.version + u".dmg"_s;
            const QString image = path(u"downloads/"_s + imageName);
            Test::PackageBuilder::diskImage(image, {{plan.name + u".pkg"_s, pkg}});
            const QByteArray bytes = readBytes(image);
            const QString imagePath = u"/images/"_s + imageName;
            serve(imagePath.toStdString(), {bytes, "application/octet-stream"});
            const QJsonObject feed{
                {u"releases"_s,
                 QJsonObject{{u"standard"_s,
                              QJsonObject{{u"version"_s, plan.version},
                                          {u"download_url"_s, m_server->url(imagePath).toString()},
                                          {u"sha256"_s, QJsonObject{{imageName, sha256(bytes)}}},
                                          {u"notes"_s, notesFor(plan, plan.version).first()},
                                          {u"archs"_s, strings(kArchs)},
                                          {u"min_macos"_s, plan.minMacOS}}}}}};
            const QString feedPath = u"/feeds/"_s + plan.id + u".json"_s;
            serve(feedPath.toStdString(), {QJsonDocument(feed).toJson(), "application/json"});
            // The image's package puts the VST3 in the all-users place; the
            // feed's release names no artifacts, so this is how a scan finds it.
            product.insert(u"install"_s, QJsonObject{{u"bundles"_s, QJsonArray{QString(
                                                          u"/usr/local/lib/vst3/"_s + plan.name + u".vst3"_s)}}});
            product.insert(u"feed"_s, QJsonObject{{u"url"_s, m_server->url(feedPath).toString()},
                                                  {u"format"_s, u"a2m"_s},
                                                  {u"channel"_s, u"standard"_s}});
        }
        products.append(product);
    }

    // Older copies of the products with updates, as the user's own.
    for (const ProductPlan& plan : productPlans()) {
        const QByteArray id = plan.id.toLatin1();
        if (id != kUpdateProduct && std::find(kMoreUpdates.begin(), kMoreUpdates.end(), id) == kMoreUpdates.end())
            continue;
        bundle(plan, u"vst3"_s, plan.history.first(), path(u"home-seed/.vst3"_s));
    }
    // A problem an earlier run left, so the settings tab has a report to send.
    Report earlier;
    earlier.product = u"glasswing"_s;
    earlier.code = u"hub.install.downloading"_s;
    earlier.version = u"1.4.2"_s;
    earlier.message = u"The download of Glasswing stopped: the connection was lost."_s;
    if (!ReportSpool(path(u"home-seed"_s)).record(earlier).recorded())
        fail(u"cannot write the earlier problem report"_s);

    // A newer Tarnhub, as the update package its own update installs.
    const QList<qint64> current = Versions::parts(Config::hubVersion());
    const QString newer = QString::number(current.value(0)) + u'.' + QString::number(current.value(1) + 1) + u".0"_s;
    Test::BundlePlan hubRecipe;
    hubRecipe.name = u"Tarnhub.app"_s;
    hubRecipe.bundleID = Config::bundleID();
    hubRecipe.shortVersion = newer;
    hubRecipe.withFile(u"Contents/MacOS/hubtarn"_s, "#!/bin/sh\necho 'Tarnhub (local service build)'\n");
    const QString hubApp = Test::BundleFactory::create(path(u"bundles/hub/"_s + newer), hubRecipe);
    Test::signBundle(hubApp, m_pki.maker());
    Test::PackageSpec hubPackage;
    hubPackage.identifier = Config::bundleID();
    hubPackage.version = newer;
    const QString hubFile = path(u"downloads/Tarnhub-"_s + newer + u".pkg"_s);
    Test::PackageBuilder::build(hubFile, {hubApp}, hubPackage, m_pki);
    const QByteArray hubBytes = readBytes(hubFile);
    const QString hubPath = u"/downloads/hub/"_s + newer + u"/package"_s;
    serve(hubPath.toStdString(), {hubBytes, "application/octet-stream"});

    const QJsonObject catalog{
        {u"schema"_s, 1},
        {u"updated"_s, u"2026-12-01T12:00:00Z"_s},
        {u"hub"_s, QJsonObject{{u"version"_s, newer},
                               {u"pkg_url"_s, m_server->url(hubPath).toString()},
                               {u"sha256"_s, sha256(hubBytes)},
                               {u"size"_s, hubBytes.size()},
                               {u"min_macos"_s, u"11.0"_s},
                               {u"notes"_s, u"Shows each product's change log on its page."_s},
                               {u"archs"_s, strings(kArchs)}}},
        {u"hub_releases"_s,
         QJsonArray{QJsonObject{{u"version"_s, newer},
                                {u"date"_s, u"2026-12-01"_s},
                                {u"notes"_s, strings({u"Shows each product's change log on its page."_s,
                                                      u"Updates install one after another without asking."_s})}},
                    QJsonObject{{u"version"_s, Config::hubVersion()},
                                {u"date"_s, u"2026-11-30"_s},
                                {u"notes"_s, strings({u"First public release."_s})}}}},
        {u"products"_s, products},
    };
    const QByteArray document = QJsonDocument(catalog).toJson();
    // The program must be able to read what it is served; a mistake here
    // would otherwise show only as an empty window.
    CatalogLoader::decode(document);
    writeBytes(path(u"catalog.json"_s), document);
    serve("/catalog.json", {document, "application/json"});
}

void LocalService::route()
{
    m_server->get("/(catalog\\.json|feeds/.*|downloads/.*|images/.*)",
                  [this](const httplib::Request& request, httplib::Response& response) {
                      const auto found = m_files.find(request.path);
                      if (found == m_files.end()) {
                          response.status = 404;
                          return;
                      }
                      const Served& served = found->second;
                      std::string bytes = served.bytes.toStdString();
                      if (served.corrupt)
                          bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x5a);
                      if (!served.stall) {
                          response.set_content(bytes, served.contentType);
                          return;
                      }
                      // Half the bytes, then nothing until the service stops.
                      response.set_content_provider(
                          bytes.size(), served.contentType,
                          [this, bytes](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                              if (offset < bytes.size() / 2) {
                                  sink.write(bytes.data() + offset, bytes.size() / 2 - offset);
                                  return true;
                              }
                              while (m_server->pause(std::chrono::milliseconds(500))) {
                              }
                              return false;
                          });
                  });

    m_hub = std::make_unique<Test::FakeHubService>(*m_server, "/api/v1/");
    m_clerk = std::make_unique<Test::FakeClerkService>(*m_server);
    // Password sign-in only: the browser sign-ins need the real providers.
    m_clerk->setEnvironment(R"({"auth_config":{"session_minter":false},"user_settings":{"social":{}}})");
    for (const Account& account : m_accounts) {
        Test::FakeClerkService::Account clerk;
        clerk.email = account.email.toStdString();
        clerk.password = account.password.toStdString();
        if (account.code) {
            clerk.secondFactors = {"email_code"};
            clerk.code = account.code->toStdString();
        }
        m_clerk->addAccount(clerk);
    }
    m_hub->setUserLookup([this](const std::string& token) -> std::optional<Test::FakeHubService::User> {
        const std::optional<std::string> email = m_clerk->accountOf(token);
        for (std::size_t i = 0; email && i < m_accounts.size(); ++i)
            if (m_accounts[i].email.toStdString() == *email)
                return Test::FakeHubService::User{"user_" + std::to_string(i + 1), *email,
                                                  m_accounts[i].name.toStdString()};
        return std::nullopt;
    });
    m_hub->setAccountFields(QJsonObject{{u"betas"_s, QJsonArray{u"lumen"_s}}, {u"products"_s, QJsonArray{u"moraine"_s}}});
    if (m_fault == Fault::unauthorized)
        m_hub->setReply("hub/account", {401, "{}"});
    m_hub->setObserver([this](const Test::FakeHubService::Call& call, const Test::FakeHubService::Reply& reply) {
        log(call, reply);
    });
}

void LocalService::log(const Test::FakeHubService::Call& call, const Test::FakeHubService::Reply& reply)
{
    QJsonObject line{{u"endpoint"_s, QString::fromStdString(call.endpoint)}, {u"status"_s, reply.status}};
    if (call.json)
        line.insert(u"body"_s, *call.json);
    else
        line.insert(u"text"_s, QString::fromStdString(call.body));
    const std::lock_guard lock(m_logLock);
    QFile file(path(u"service.log"_s));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
}

void LocalService::writeProfile()
{
    QFile::remove(path(u"tls-root.pem"_s));
    if (!QFile::copy(m_server->caBundle(), path(u"tls-root.pem"_s)))
        fail(u"cannot copy the TLS certificate"_s);
    writeBytes(path(u"signing-anchor.pem"_s), m_pki.anchorPem());

    QJsonArray accounts;
    for (const Account& account : m_accounts) {
        QJsonObject entry{{u"email"_s, account.email}, {u"password"_s, account.password}, {u"name"_s, account.name}};
        if (account.code)
            entry.insert(u"code"_s, *account.code);
        accounts.append(entry);
    }
    writeBytes(path(u"accounts.json"_s), QJsonDocument(accounts).toJson());

    // The publishable key's shape is the sign-in service's; the program
    // reaches the service at "sign_in" and only needs the key to be there.
    const QByteArray key = "pk_test_" + QByteArray("127.0.0.1$").toBase64(QByteArray::Base64UrlEncoding
                                                                          | QByteArray::OmitTrailingEquals);
    // Written last, in one step: a profile that exists is a service that answers.
    QJsonObject profile{
        {u"api_base"_s, m_hub->base().toString()},
        {u"catalog"_s, m_server->url(u"/catalog.json"_s).toString()},
        {u"sign_in"_s, m_clerk->base().toString()},
        {u"publishable_key"_s, QString::fromLatin1(key)},
        {u"tls_root"_s, path(u"tls-root.pem"_s)},
        {u"signing_anchor"_s, path(u"signing-anchor.pem"_s)},
    };
    // A stalled download is given up after seconds, not the program's minute.
    if (m_fault == Fault::stall)
        profile.insert(u"download_idle_timeout"_s, 6);
    writeBytes(profilePath(), QJsonDocument(profile).toJson());
}

} // namespace Hub::LocalService
