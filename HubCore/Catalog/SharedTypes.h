#pragma once

#include "Base/Json.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>
#include <set>


// Small values that cross the borders between catalog, installer, account
// and the app model. Each enumeration converts to its wire text and back;
// texts are compared exactly (case-sensitive, untrimmed).
namespace Hub {

enum class PluginFormat { vst3, au, app };
inline constexpr std::array<PluginFormat, 3> kAllPluginFormats{PluginFormat::vst3, PluginFormat::au,
                                                               PluginFormat::app};
QString rawValue(PluginFormat format);
std::optional<PluginFormat> pluginFormatFromRaw(QStringView text);
// "VST3", "AU", "App".
QString label(PluginFormat format);
// "vst3", "component", "app".
QString bundleExtension(PluginFormat format);
// The format a bundle's file name stands for, by its extension in any case.
std::optional<PluginFormat> pluginFormatFromBundleName(QStringView bundleName);
PluginFormat decodePluginFormat(const Json::Value& value, const Json::Path& path);

enum class InstallScope { user, allUsers };
QString rawValue(InstallScope scope);
std::optional<InstallScope> installScopeFromRaw(QStringView text);
InstallScope decodeInstallScope(const Json::Value& value, const Json::Path& path);

enum class OAuthProvider { google, apple };
inline constexpr std::array<OAuthProvider, 2> kAllOAuthProviders{OAuthProvider::google, OAuthProvider::apple};
QString rawValue(OAuthProvider provider);
std::optional<OAuthProvider> oauthProviderFromRaw(QStringView text);

enum class FeedbackKind { idea, bug, love, question };
inline constexpr std::array<FeedbackKind, 4> kAllFeedbackKinds{FeedbackKind::idea, FeedbackKind::bug,
                                                               FeedbackKind::love, FeedbackKind::question};
QString rawValue(FeedbackKind kind);
std::optional<FeedbackKind> feedbackKindFromRaw(QStringView text);
FeedbackKind decodeFeedbackKind(const Json::Value& value, const Json::Path& path);

// Where the catalog in use came from.
enum class CatalogSource { live, cached, bundled };
QString rawValue(CatalogSource source);
std::optional<CatalogSource> catalogSourceFromRaw(QStringView text);

// Progress of one install, reported by the installer in this order:
// downloading fractions, verifying, installing, registering per Audio Unit, done.
struct InstallStep {
    enum class Kind { downloading, verifying, installing, registering, done };

    Kind kind = Kind::done;
    double fraction = 0.0; // of the whole download work; only for downloading

    static InstallStep downloading(double fraction) { return {Kind::downloading, fraction}; }
    static InstallStep verifying() { return {Kind::verifying, 0.0}; }
    static InstallStep installing() { return {Kind::installing, 0.0}; }
    static InstallStep registering() { return {Kind::registering, 0.0}; }
    static InstallStep done() { return {Kind::done, 0.0}; }

    friend bool operator==(const InstallStep& a, const InstallStep& b)
    {
        return a.kind == b.kind && (a.kind != Kind::downloading || a.fraction == b.fraction);
    }
};

struct UninstallOptions {
    std::set<PluginFormat> formats;
    bool removeSettings = false;
    std::set<InstallScope> scopes;

    friend bool operator==(const UninstallOptions&, const UninstallOptions&) = default;
};

// An Audio Unit's component codes, each a four-character code as text.
struct AUDescriptor {
    QString type;
    QString subtype;
    QString manufacturer;

    static AUDescriptor fromJson(const Json::Value& value, const Json::Path& path);
    QByteArray toJson() const;
    friend bool operator==(const AUDescriptor&, const AUDescriptor&) = default;
};

// One installed copy of one format of a product.
struct InstalledFormat {
    PluginFormat format = PluginFormat::vst3;
    QString path;
    QString version;

    friend bool operator==(const InstalledFormat&, const InstalledFormat&) = default;
};

// The base folders every install path derives from, as absolute paths.
struct InstallRoots {
    QString userHome;     // base of the per-user plug-in folders
    QString system;       // base of the all-users plug-in folders
    QString applications; // where standalone applications go
    QString support;      // the application's own support folder

    friend bool operator==(const InstallRoots&, const InstallRoots&) = default;
};

struct HubUser {
    QString id;
    QString email;
    QString name;

    static HubUser fromJson(const Json::Value& value, const Json::Path& path);
    QByteArray toJson() const;
    friend bool operator==(const HubUser&, const HubUser&) = default;
};

// This machine's session with the maker's service.
struct DeviceSession {
    QString token;
    QString deviceID;
    HubUser user;

    static DeviceSession fromJson(const Json::Value& value, const Json::Path& path = {});
    // Throws Json::DecodingError.
    static DeviceSession decode(const QByteArray& data);
    QByteArray toJson() const;
    friend bool operator==(const DeviceSession&, const DeviceSession&) = default;
};

// The outcome of reading the stored device session.
struct DeviceLoad {
    enum class Kind { found, none, unreadable };

    Kind kind = Kind::none;
    std::optional<DeviceSession> session; // only for found

    static DeviceLoad found(DeviceSession session) { return {Kind::found, std::move(session)}; }
    static DeviceLoad none() { return {Kind::none, std::nullopt}; }
    static DeviceLoad unreadable() { return {Kind::unreadable, std::nullopt}; }
    friend bool operator==(const DeviceLoad&, const DeviceLoad&) = default;
};

} // namespace Hub
