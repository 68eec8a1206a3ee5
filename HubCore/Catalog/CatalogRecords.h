#pragma once

#include "Base/Json.h"
#include "Catalog/SharedTypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <vector>


// The catalog document's records. Decoding is strict (see Json.h): one bad
// value fails the whole document, unknown keys are ignored. Encoding writes
// present fields only, in each record's key order, values as they are held.
namespace Hub {

struct ReleaseNote {
    QString version; // also the entry's identity
    std::optional<QString> date;
    QStringList notes;

    static ReleaseNote fromJson(const Json::Value& value, const Json::Path& path);
    QByteArray toJson() const;
    friend bool operator==(const ReleaseNote&, const ReleaseNote&) = default;
};

struct Artifact {
    PluginFormat format = PluginFormat::vst3;
    QString url;
    QString sha256;
    std::optional<qint64> size;
    QString bundle; // the bundle's file name inside the download
    std::optional<QString> bundleID;
    std::optional<AUDescriptor> au;
    std::optional<QStringList> archs; // absent: arm64 only

    // True when this machine's processor is in archs (or the arm64-only default).
    bool runsHere() const;
    bool runsOn(const QString& cpu) const;

    static Artifact fromJson(const Json::Value& value, const Json::Path& path);
    QByteArray toJson() const;
    friend bool operator==(const Artifact&, const Artifact&) = default;
};

struct Release {
    enum class FitKind { needsMacOS, fine, needsAppleSilicon, needsIntel };

    // Whether a release can run on a given machine; needsMacOS carries the
    // release's minimum version text unchanged.
    struct Fit {
        FitKind kind = FitKind::fine;
        QString minimum;

        static Fit needsMacOS(QString minimum) { return {FitKind::needsMacOS, std::move(minimum)}; }
        static Fit fine() { return {FitKind::fine, {}}; }
        static Fit needsAppleSilicon() { return {FitKind::needsAppleSilicon, {}}; }
        static Fit needsIntel() { return {FitKind::needsIntel, {}}; }
        friend bool operator==(const Fit&, const Fit&) = default;
    };

    // The whole-release download: an installer package or a disk image.
    struct Download {
        QUrl url;
        std::optional<QString> sha256;
        bool isPackage = false;
        friend bool operator==(const Download&, const Download&) = default;
    };

    QString version;
    std::optional<QString> pkgURL;
    std::optional<QString> dmgURL;
    std::optional<QString> sha256;
    std::optional<qint64> size;
    std::optional<QString> minMacOS;
    std::optional<QString> notes;
    std::optional<std::vector<Artifact>> artifacts;
    std::optional<QStringList> archs; // absent: arm64 only
    std::optional<QString> fullDmgURL;
    std::optional<QString> fullSHA256;
    std::optional<qint64> fullSize;

    Fit fit(const QString& cpu, const QString& macOSVersion) const;
    // For this machine's processor and platform version.
    Fit fit() const;
    std::optional<Download> download() const;
    bool installable() const;
    bool installableHere() const;
    std::optional<std::vector<Artifact>> artifactsHere() const;
    std::optional<std::vector<Artifact>> artifactsOn(const QString& cpu) const;
    // The processors it runs on: "an Arm computer", "an x86-64 or Arm computer".
    QString systemText() const;
    Release forFreshInstall() const;

    static Release fromJson(const Json::Value& value, const Json::Path& path);
    // Throws Json::DecodingError.
    static Release decode(const QByteArray& data);
    QByteArray toJson() const;
    friend bool operator==(const Release&, const Release&) = default;
};

struct Feed {
    QString url;
    QString format;
    std::optional<QString> channel;
    std::optional<bool> updateOnly;
    std::optional<QStringList> archs;
    std::optional<QString> minMacOS;

    static Feed fromJson(const Json::Value& value, const Json::Path& path);
    QByteArray toJson() const;
    friend bool operator==(const Feed&, const Feed&) = default;
};

// Older install locations: paths beginning "~/" (under the user's home) or "/".
struct Install {
    QStringList bundles;

    static Install fromJson(const Json::Value& value, const Json::Path& path);
    QByteArray toJson() const;
    friend bool operator==(const Install&, const Install&) = default;
};

struct Product {
    QString id;
    QString name;
    QString tagline;
    QString kind;
    std::optional<QStringList> formats;
    QString status;
    std::optional<QString> price;
    std::optional<QString> buyURL;
    std::optional<QString> pageURL;
    std::optional<QString> accent;
    std::optional<QString> accentText;
    std::optional<QString> tint;
    std::optional<QString> tile;
    std::optional<QString> tileText;
    std::optional<QString> displayName;
    std::optional<QString> icon;
    std::optional<Release> release;
    std::optional<Feed> feed;
    std::optional<Install> install;
    std::optional<std::vector<ReleaseNote>> releases;
    // The plug-in's own settings folder, relative to the user's Application
    // Support folder ("Tarn Audio/<name>"); absent when the catalog names none.
    std::optional<QString> settingsFolder;

    bool isComingSoon() const;
    bool isFree() const;
    bool isInvite() const;
    bool isApp() const;
    // The name as shown: displayName when present, even empty, else name in lower case.
    QString shown() const;
    // icon resolved against the maker's web site; absent when it does not parse.
    std::optional<QUrl> iconURL() const;
    bool updateOnly() const;
    // releases, with the current release's notes in front when no entry has its version.
    std::vector<ReleaseNote> history() const;

    static Product fromJson(const Json::Value& value, const Json::Path& path);
    QByteArray toJson() const;
    friend bool operator==(const Product&, const Product&) = default;
};

struct Catalog {
    qint64 schema = 1;
    std::optional<QString> updated;
    std::optional<Release> hub;
    std::optional<std::vector<ReleaseNote>> hubReleases;
    std::vector<Product> products;

    const Product* product(const QString& id) const;

    static Catalog fromJson(const Json::Value& value, const Json::Path& path = {});
    QByteArray toJson() const;
    friend bool operator==(const Catalog&, const Catalog&) = default;
};

} // namespace Hub
