// Where the program connects and whom it trusts: the build's own values
// unless it runs sandboxed with a service profile, and a profile that
// cannot be used is refused with a sentence, never half taken.
#include "Shell/AppServices.h"
#include "Shell/ServiceProfile.h"
#include "Shell/SystemWorkspace.h"

#include "Account/ClerkFAPI.h"
#include "Account/ClerkIdentity.h"
#include "Account/HubAPI.h"
#include "Base/Config.h"
#include "Installer/PluginInstaller.h"
#include "Model/SystemSeams.h"

#include "TestFiles.h"
#include "TestPKI.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace Hub::Test {
namespace {

class ServiceProfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        writeAll(path(u"tls.pem"_s), m_pki.foreignAnchorPem());
        writeAll(path(u"anchor.pem"_s), m_pki.anchorPem());
        writeAll(path(u"not-a-certificate.pem"_s), "-----BEGIN NOTHING-----\n");
    }

    void TearDown() override
    {
        qunsetenv("HUBTARN_SANDBOX");
        qunsetenv("HUBTARN_SERVICE_PROFILE");
        qunsetenv("HUBTARN_TEST_DRIVER");
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QJsonObject profileObject() const
    {
        return {{u"api_base"_s, u"https://127.0.0.1:4443/api/v1/"_s},
                {u"catalog"_s, u"https://127.0.0.1:4443/catalog.json"_s},
                {u"sign_in"_s, u"https://127.0.0.1:4443"_s},
                {u"publishable_key"_s, u"pk_test_local"_s},
                {u"tls_root"_s, path(u"tls.pem"_s)},
                {u"signing_anchor"_s, path(u"anchor.pem"_s)}};
    }

    QString write(const QByteArray& bytes, const QString& name = u"profile.json"_s) const
    {
        writeAll(path(name), bytes);
        return path(name);
    }

    QString write(const QJsonObject& object) const { return write(QJsonDocument(object).toJson()); }

    // What the services built for `sandbox` connect to and trust.
    struct Wiring {
        QUrl api;
        QUrl catalog;
        QUrl reports;
        std::optional<QUrl> signIn;
        QString caBundle;
        QString installCaBundle;
        QByteArray anchors;
        std::optional<QString> home;
        // The package path: the anchor file its tools trust (empty: their
        // own), the anchor of the installed application, the target, and
        // whether it asks for the administrator.
        QString packageAnchorsFile;
        QByteArray packageAnchors;
        QString packageTarget;
        bool packageAsAdministrator = true;
        std::optional<double> downloadIdleTimeout;
        // "deadline/rate/window" of the catalog's, the installer's and the
        // package path's sessions.
        QStringList limits;
        bool recordsOpened = false; // addresses go to a log, not the desktop
    };

    static Wiring wiring(const std::optional<Shell::Sandbox>& sandbox)
    {
        Shell::AppServices built = Shell::makeAppServices(sandbox);
        const HubModelServices& services = built.model;
        Wiring out;
        out.api = std::dynamic_pointer_cast<const HubAPI>(services.service)->base();
        out.catalog = services.catalog.catalogURL;
        out.reports = services.reports.base;
        if (const auto& fapi = std::dynamic_pointer_cast<const ClerkIdentity>(services.identity)->fapi())
            out.signIn = fapi->base();
        out.caBundle = services.caBundle;
        const auto installer =
            std::dynamic_pointer_cast<const PluginInstaller>(services.installerFor({}, std::stop_token()));
        out.installCaBundle = installer->configuration().caBundle;
        out.anchors = installer->anchors.pem();
        out.home = services.home;
        const CorePackageInstaller::Setup& packages =
            std::dynamic_pointer_cast<const CorePackageInstaller>(services.packages)->setup();
        out.packageAnchorsFile = packages.scriptTools.anchors;
        out.packageAnchors = packages.anchors.pem();
        out.packageTarget = packages.scriptTools.target;
        out.packageAsAdministrator = !packages.execute;
        out.downloadIdleTimeout = installer->downloadIdleTimeout;
        for (const Http::Limits& limits : {services.httpLimits, installer->configuration().limits, packages.limits})
            out.limits.append(QString::number(limits.fetchDeadline) + u'/'
                              + QString::number(limits.downloadRate.bytesPerSecond) + u'/'
                              + QString::number(limits.downloadRate.window));
        out.recordsOpened = std::dynamic_pointer_cast<Shell::RecordingWorkspace>(services.workspace) != nullptr;
        return out;
    }

    QTemporaryDir m_dir;
    TestPKI m_pki;
};

// Nothing outside the build changes a run that is not sandboxed: the
// profile variable is not even read, be the file good or bad.
TEST_F(ServiceProfileTest, OutsideTheSandboxNoProfileChangesConnectionsOrTrust)
{
    QJsonObject shortened = profileObject();
    shortened.insert(u"download_idle_timeout"_s, 8);
    const QString good = write(shortened);
    // Nor does the test driver's variable: the desktop still opens addresses.
    qputenv("HUBTARN_TEST_DRIVER", QFile::encodeName(path(u"driver.so"_s)));
    for (const QString& profile : {good, write("not json", u"bad.json"_s), path(u"missing.json"_s)}) {
        qunsetenv("HUBTARN_SANDBOX");
        qputenv("HUBTARN_SERVICE_PROFILE", QFile::encodeName(profile));
        std::optional<Shell::Sandbox> sandbox;
        EXPECT_NO_THROW(sandbox = Shell::sandboxFromEnvironment()) << profile.toStdString();
        EXPECT_FALSE(sandbox.has_value());

        const Wiring wired = wiring(sandbox);
        EXPECT_EQ(wired.api, Config::apiBase());
        EXPECT_EQ(wired.catalog, Config::catalogURL());
        EXPECT_EQ(wired.reports, Config::apiBase());
        EXPECT_EQ(wired.caBundle, QString()) << "the system's roots";
        EXPECT_EQ(wired.installCaBundle, QString());
        EXPECT_EQ(wired.anchors, TrustAnchors::pinned().pem());
        EXPECT_EQ(wired.home, std::nullopt);
        EXPECT_EQ(wired.packageAnchorsFile, QString()) << "the package tools' own anchor";
        EXPECT_EQ(wired.packageAnchors, TrustAnchors::pinned().pem());
        EXPECT_EQ(wired.packageTarget, u"/"_s);
        EXPECT_TRUE(wired.packageAsAdministrator);
        EXPECT_EQ(wired.downloadIdleTimeout, std::nullopt);
        EXPECT_EQ(wired.limits, QStringList(3, u"60/1024/30"_s));
        EXPECT_FALSE(wired.recordsOpened);
        EXPECT_EQ(wired.signIn, ClerkIdentity::frontendAPI(Config::clerkPublishableKey()));
    }
}

TEST_F(ServiceProfileTest, ASandboxedRunTakesEveryAddressAndTrustFromItsProfile)
{
    qputenv("HUBTARN_SANDBOX", "1");
    qputenv("HUBTARN_SERVICE_PROFILE", QFile::encodeName(write(profileObject())));
    const std::optional<Shell::Sandbox> sandbox = Shell::sandboxFromEnvironment();
    ASSERT_TRUE(sandbox && sandbox->profile);
    EXPECT_EQ(sandbox->home, Config::homeFolder());

    const Wiring wired = wiring(sandbox);
    EXPECT_EQ(wired.api, QUrl(u"https://127.0.0.1:4443/api/v1/"_s));
    EXPECT_EQ(wired.catalog, QUrl(u"https://127.0.0.1:4443/catalog.json"_s));
    EXPECT_EQ(wired.reports, QUrl(u"https://127.0.0.1:4443/api/v1/"_s));
    EXPECT_EQ(wired.signIn, QUrl(u"https://127.0.0.1:4443"_s));
    EXPECT_EQ(wired.caBundle, path(u"tls.pem"_s));
    EXPECT_EQ(wired.installCaBundle, path(u"tls.pem"_s));
    EXPECT_EQ(wired.anchors, m_pki.anchorPem());
    EXPECT_EQ(wired.home, Config::homeFolder());
    EXPECT_EQ(wired.packageAnchorsFile, path(u"anchor.pem"_s));
    EXPECT_EQ(wired.packageAnchors, m_pki.anchorPem());
    EXPECT_EQ(wired.packageTarget, Config::homeFolder());
    EXPECT_FALSE(wired.packageAsAdministrator);
    EXPECT_EQ(wired.downloadIdleTimeout, std::nullopt) << "the downloader's own minute";
    EXPECT_FALSE(wired.recordsOpened);

    // A stand-in service may shorten the wait for a stalled download, and
    // a driver walking the window gets a workspace that opens nothing.
    QJsonObject shortened = profileObject();
    shortened.insert(u"download_idle_timeout"_s, 8);
    shortened.insert(u"fetch_deadline"_s, 5);
    shortened.insert(u"download_minimum_rate"_s, 2048);
    shortened.insert(u"download_rate_window"_s, 4);
    qputenv("HUBTARN_SERVICE_PROFILE", QFile::encodeName(write(shortened)));
    qputenv("HUBTARN_TEST_DRIVER", QFile::encodeName(path(u"driver.so"_s)));
    const Wiring driven = wiring(Shell::sandboxFromEnvironment());
    EXPECT_EQ(driven.downloadIdleTimeout, 8.0);
    EXPECT_EQ(driven.limits, QStringList(3, u"5/2048/4"_s)) << "catalog, installer, package path";
    EXPECT_TRUE(driven.recordsOpened);
    qunsetenv("HUBTARN_TEST_DRIVER");

    // Sandboxed without a profile: the build's addresses, under the isolated home.
    qunsetenv("HUBTARN_SERVICE_PROFILE");
    const Wiring plain = wiring(Shell::sandboxFromEnvironment());
    EXPECT_EQ(plain.api, Config::apiBase());
    EXPECT_EQ(plain.anchors, TrustAnchors::pinned().pem());
    EXPECT_EQ(plain.home, Config::homeFolder());
    EXPECT_EQ(plain.packageAnchorsFile, QString());
    EXPECT_EQ(plain.packageAnchors, TrustAnchors::pinned().pem());
    EXPECT_FALSE(plain.packageAsAdministrator) << "a sandbox never asks for the administrator";
}

TEST_F(ServiceProfileTest, AProfileThatCannotBeUsedIsRefusedWithItsReason)
{
    const auto without = [this](const QString& key) {
        QJsonObject object = profileObject();
        object.remove(key);
        return object;
    };
    const auto with = [this](const QString& key, const QJsonValue& value) {
        QJsonObject object = profileObject();
        object.insert(key, value);
        return object;
    };
    const auto json = [](const QJsonObject& object) { return QJsonDocument(object).toJson(); };
    struct Row {
        std::optional<QByteArray> content; // none: no file at all
        QString reason;
    };
    const std::vector<Row> rows = {
        {std::nullopt, u"it can't be read."_s},
        {"{\"api_base\": ", u"it is not a JSON object."_s},
        {"[]", u"it is not a JSON object."_s},
        {json(without(u"catalog"_s)), u"\"catalog\" must be a non-empty text."_s},
        {json(with(u"api_base"_s, u"http://127.0.0.1:4443/api/v1/"_s)), u"\"api_base\" must be an https address."_s},
        {json(with(u"sign_in"_s, 443)), u"\"sign_in\" must be a non-empty text."_s},
        {json(with(u"publishable_key"_s, u"  "_s)), u"\"publishable_key\" must be a non-empty text."_s},
        {json(with(u"tls_root"_s, u"tls.pem"_s)), u"\"tls_root\" must be an absolute path."_s},
        {json(with(u"signing_anchor"_s, path(u"nowhere.pem"_s))),
         u"\"signing_anchor\" names "_s + path(u"nowhere.pem"_s) + u", which can't be read."_s},
        {json(with(u"signing_anchor"_s, path(u"not-a-certificate.pem"_s))),
         u"\"signing_anchor\" names "_s + path(u"not-a-certificate.pem"_s) + u", which holds no certificate."_s},
        {json(with(u"download_idle_timeout"_s, u"8"_s)),
         u"\"download_idle_timeout\" must be a number of seconds from 1 to 3600."_s},
        {json(with(u"download_idle_timeout"_s, 0)),
         u"\"download_idle_timeout\" must be a number of seconds from 1 to 3600."_s},
        {json(with(u"fetch_deadline"_s, 0)), u"\"fetch_deadline\" must be a number of seconds from 1 to 3600."_s},
        {json(with(u"download_minimum_rate"_s, u"fast"_s)),
         u"\"download_minimum_rate\" must be a number of bytes per second from 1 to 2^30."_s},
        {json(with(u"download_rate_window"_s, 7200)),
         u"\"download_rate_window\" must be a number of seconds from 1 to 3600."_s},
    };
    for (const Row& row : rows) {
        const QString profile = path(u"profile.json"_s);
        QFile::remove(profile);
        if (row.content)
            write(*row.content);
        QString sentence;
        try {
            Shell::sandboxFor(true, profile, path(u"home"_s));
        } catch (const Shell::ServiceProfileError& error) {
            sentence = QString::fromStdString(error.what());
        }
        EXPECT_EQ(sentence, u"The service profile "_s + profile + u" can't be used: "_s + row.reason);
    }
}

} // namespace
} // namespace Hub::Test
