#include "Base/HubError.h"
#include "Base/Json.h"
#include "Catalog/SharedTypes.h"

#include "QStringPrinter.h"

#include <QJsonValue>

#include <gtest/gtest.h>

#include <ostream>

using namespace Hub;
using namespace Qt::StringLiterals;

[[maybe_unused]] static void PrintTo(const QByteArray& b, std::ostream* os) { *os << b.toStdString(); }

namespace {

// ---- Wire words -----------------------------------------------------------

TEST(WireWords, TextsAndBackComparedExactly)
{
    EXPECT_EQ(rawValue(PluginFormat::vst3) + rawValue(PluginFormat::au) + rawValue(PluginFormat::app), u"vst3auapp"_s);
    EXPECT_EQ(label(PluginFormat::vst3) + label(PluginFormat::au) + label(PluginFormat::app), u"VST3AUApp"_s);
    EXPECT_EQ(rawValue(InstallScope::user) + u' ' + rawValue(InstallScope::allUsers), u"user allUsers"_s);
    EXPECT_EQ(rawValue(OAuthProvider::google) + u' ' + rawValue(OAuthProvider::apple), u"google apple"_s);
    EXPECT_EQ(rawValue(FeedbackKind::idea) + u' ' + rawValue(FeedbackKind::bug) + u' ' + rawValue(FeedbackKind::love)
                  + u' ' + rawValue(FeedbackKind::question),
              u"idea bug love question"_s);
    EXPECT_EQ(rawValue(CatalogSource::live) + u' ' + rawValue(CatalogSource::cached) + u' '
                  + rawValue(CatalogSource::bundled),
              u"live cached bundled"_s);

    for (PluginFormat v : kAllPluginFormats)
        EXPECT_EQ(pluginFormatFromRaw(rawValue(v)), v);
    for (InstallScope v : {InstallScope::user, InstallScope::allUsers})
        EXPECT_EQ(installScopeFromRaw(rawValue(v)), v);
    for (OAuthProvider v : kAllOAuthProviders)
        EXPECT_EQ(oauthProviderFromRaw(rawValue(v)), v);
    for (FeedbackKind v : kAllFeedbackKinds)
        EXPECT_EQ(feedbackKindFromRaw(rawValue(v)), v);
    for (CatalogSource v : {CatalogSource::live, CatalogSource::cached, CatalogSource::bundled})
        EXPECT_EQ(catalogSourceFromRaw(rawValue(v)), v);

    EXPECT_EQ(pluginFormatFromRaw(u"VST3"), std::nullopt);
    EXPECT_EQ(pluginFormatFromRaw(u"component"), std::nullopt);
    EXPECT_EQ(installScopeFromRaw(u"allusers"), std::nullopt);
    EXPECT_EQ(installScopeFromRaw(u" user"), std::nullopt);
    EXPECT_EQ(oauthProviderFromRaw(u"Google"), std::nullopt);
    EXPECT_EQ(feedbackKindFromRaw(u"bugs"), std::nullopt);
    EXPECT_EQ(catalogSourceFromRaw(u""), std::nullopt);
}

TEST(WireWords, DecodeNamesPathAndChoices)
{
    EXPECT_EQ(decodeInstallScope(QJsonValue(u"user"_s), u"scope"_s), InstallScope::user);
    EXPECT_EQ(decodeFeedbackKind(QJsonValue(u"love"_s), u"kind"_s), FeedbackKind::love);
    try {
        decodePluginFormat(QJsonValue(u"component"_s), u"artifacts[0].format"_s);
        ADD_FAILURE() << "decoded";
    } catch (const Json::DecodingError& e) {
        EXPECT_EQ(e.description(), u"artifacts[0].format: \"component\" is not one of vst3, au, app"_s);
    }
    EXPECT_THROW(decodeInstallScope(QJsonValue(1), u"scope"_s), Json::DecodingError);
}

TEST(BundleNames, FormatByExtensionInAnyCase)
{
    struct Case {
        const char* name;
        std::optional<PluginFormat> format;
    };
    for (const Case& c : {
             Case{"Alpha.vst3", PluginFormat::vst3},
             Case{"Alpha.component", PluginFormat::au},
             Case{".COMPONENT", PluginFormat::au},
             Case{"Tarn Hub.App", PluginFormat::app},
             Case{"a.b.vst3", PluginFormat::vst3},
             Case{"Alpha.vst3.zip", std::nullopt},
             Case{"Alpha.vst", std::nullopt},
             Case{".vst", std::nullopt},
             Case{"vst3", std::nullopt},
             Case{"Alpha.", std::nullopt},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pluginFormatFromBundleName(QString::fromUtf8(c.name)), c.format);
    }
    for (PluginFormat f : kAllPluginFormats)
        EXPECT_EQ(pluginFormatFromBundleName(QString(u"X."_s + bundleExtension(f))), f);
}

// ---- Errors ---------------------------------------------------------------

TEST(HubErrors, Classification)
{
    EXPECT_TRUE(HubError::api(u"unauthorized"_s, u"Sign in again."_s).isUnauthorized());
    EXPECT_FALSE(HubError::api(u"Unauthorized"_s, u"Sign in again."_s).isUnauthorized());
    EXPECT_FALSE(HubError::message(u"unauthorized"_s).isUnauthorized());
    EXPECT_TRUE(HubError::api(u"offline"_s, u"No connection."_s).isOffline());
    EXPECT_FALSE(HubError::message(u"offline"_s).isOffline());
    EXPECT_FALSE(HubError::api(u"unauthorized"_s, u"x"_s).isOffline());
    EXPECT_FALSE(HubError::cancelled().isOffline());
    EXPECT_FALSE(HubError::cancelled().isUnauthorized());
}

TEST(HubErrors, DescriptionIsTheSentence)
{
    const HubError api = HubError::api(u"quota"_s, u"Too many devices \u2014 remove one."_s);
    EXPECT_EQ(api.errorDescription(), u"Too many devices \u2014 remove one."_s);
    EXPECT_EQ(api.code(), u"quota"_s);
    EXPECT_STREQ(api.what(), "Too many devices \xE2\x80\x94 remove one.");

    const HubError cancelled = HubError::cancelled();
    EXPECT_EQ(cancelled.kind(), HubError::Kind::cancelled);
    EXPECT_EQ(cancelled.errorDescription(), u"Cancelled."_s);
    EXPECT_STREQ(cancelled.what(), "Cancelled.");

    EXPECT_EQ(HubError::message(u"Disk full."_s).errorDescription(), u"Disk full."_s);
    EXPECT_TRUE(HubError::message(u"Disk full."_s).code().isEmpty());
    EXPECT_NE(HubError::api(u"a"_s, u"b"_s), HubError::api(u"a"_s, u"c"_s));
    EXPECT_NE(HubError::api(u""_s, u"b"_s), HubError::message(u"b"_s));
}

// ---- Records --------------------------------------------------------------

TEST(SharedRecords, DeviceSessionRoundTrip)
{
    const QByteArray json =
        R"({"token":"t0k","deviceID":"D1","user":{"id":"u1","email":"a@b.example","name":"Ann \"A\""}})";
    const DeviceSession session = DeviceSession::decode(json);
    EXPECT_EQ(session, (DeviceSession{u"t0k"_s, u"D1"_s, HubUser{u"u1"_s, u"a@b.example"_s, u"Ann \"A\""_s}}));
    EXPECT_EQ(session.toJson(), json);
}

TEST(SharedRecords, DeviceSessionStrict)
{
    struct Case {
        const char* json;
        const char* path;
    };
    for (const Case& c : {
             Case{R"({"token":"t","deviceID":"d","user":{"id":"u","name":"n"}})", "user.email"},
             Case{R"({"token":"t","deviceID":"d","user":null})", "user"},
             Case{R"({"token":"t","deviceID":"d"})", "user"},
             Case{R"({"token":"t","user":{"id":"u","email":"e","name":"n"}})", "deviceID"},
             Case{R"({"token":1,"deviceID":"d","user":{"id":"u","email":"e","name":"n"}})", "token"},
         }) {
        SCOPED_TRACE(c.json);
        try {
            DeviceSession::decode(c.json);
            ADD_FAILURE() << "decoded";
        } catch (const Json::DecodingError& e) {
            EXPECT_EQ(e.path(), QString::fromUtf8(c.path));
        }
    }
}

TEST(SharedRecords, AUDescriptorKeysInOrder)
{
    const AUDescriptor d{u"aumu"_s, u"Alph"_s, u"Tarn"_s};
    EXPECT_EQ(d.toJson(), R"({"type":"aumu","subtype":"Alph","manufacturer":"Tarn"})");
    EXPECT_EQ(AUDescriptor::fromJson(QJsonObject{{u"manufacturer"_s, u"Tarn"_s}, {u"type"_s, u"aumu"_s},
                                                 {u"subtype"_s, u"Alph"_s}},
                                     u"au"_s),
              d);
    EXPECT_THROW(AUDescriptor::fromJson(QJsonObject{{u"type"_s, u"aumu"_s}, {u"subtype"_s, u"Alph"_s}}, u"au"_s),
                 Json::DecodingError);
}

TEST(InstallSteps, FractionCountsOnlyWhileDownloading)
{
    EXPECT_EQ(InstallStep::downloading(0.5), InstallStep::downloading(0.5));
    EXPECT_NE(InstallStep::downloading(0.5), InstallStep::downloading(0.25));
    EXPECT_NE(InstallStep::downloading(0), InstallStep::verifying());
    EXPECT_NE(InstallStep::installing(), InstallStep::registering());
    EXPECT_NE(InstallStep::done(), InstallStep::downloading(0));
    EXPECT_EQ((InstallStep{InstallStep::Kind::verifying, 0.7}), InstallStep::verifying());
}

} // namespace
