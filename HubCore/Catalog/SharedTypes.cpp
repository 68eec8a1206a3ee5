#include "Catalog/SharedTypes.h"

#include "Base/Json.h"

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

// One table per enumeration keeps the text and the case in one place.
template <typename E, std::size_t N>
using Table = std::array<std::pair<E, QStringView>, N>;

constexpr Table<PluginFormat, 3> kFormats{{{PluginFormat::vst3, u"vst3"},
                                           {PluginFormat::au, u"au"},
                                           {PluginFormat::app, u"app"}}};
constexpr Table<InstallScope, 2> kScopes{{{InstallScope::user, u"user"}, {InstallScope::allUsers, u"allUsers"}}};
constexpr Table<OAuthProvider, 2> kProviders{{{OAuthProvider::google, u"google"}, {OAuthProvider::apple, u"apple"}}};
constexpr Table<FeedbackKind, 4> kFeedbackKinds{{{FeedbackKind::idea, u"idea"},
                                                 {FeedbackKind::bug, u"bug"},
                                                 {FeedbackKind::love, u"love"},
                                                 {FeedbackKind::question, u"question"}}};
constexpr Table<CatalogSource, 3> kSources{{{CatalogSource::live, u"live"},
                                            {CatalogSource::cached, u"cached"},
                                            {CatalogSource::bundled, u"bundled"}}};

template <typename E, std::size_t N>
QString textOf(const Table<E, N>& table, E value)
{
    for (const auto& [e, text] : table)
        if (e == value)
            return text.toString();
    return {};
}

template <typename E, std::size_t N>
std::optional<E> valueOf(const Table<E, N>& table, QStringView text)
{
    for (const auto& [e, t] : table)
        if (t == text)
            return e;
    return std::nullopt;
}

template <typename E, std::size_t N>
E decodeWord(const Table<E, N>& table, const Json::Value& value, const Json::Path& path)
{
    const QString text = Json::decodeString(value, path);
    if (auto e = valueOf(table, text))
        return *e;
    QStringList words;
    for (const auto& [e, t] : table)
        words.push_back(t.toString());
    throw Json::DecodingError(path.toString(), u'"' + text + u"\" is not one of "_s + words.join(u", "_s));
}

} // namespace

QString rawValue(PluginFormat format) { return textOf(kFormats, format); }
std::optional<PluginFormat> pluginFormatFromRaw(QStringView text) { return valueOf(kFormats, text); }
PluginFormat decodePluginFormat(const Json::Value& value, const Json::Path& path)
{
    return decodeWord(kFormats, value, path);
}

QString label(PluginFormat format)
{
    switch (format) {
    case PluginFormat::vst3:
        return u"VST3"_s;
    case PluginFormat::au:
        return u"AU"_s;
    case PluginFormat::app:
        return u"App"_s;
    }
    return {};
}

QString bundleExtension(PluginFormat format)
{
    switch (format) {
    case PluginFormat::vst3:
        return u"vst3"_s;
    case PluginFormat::au:
        return u"component"_s;
    case PluginFormat::app:
        return u"app"_s;
    }
    return {};
}

std::optional<PluginFormat> pluginFormatFromBundleName(QStringView bundleName)
{
    const qsizetype dot = bundleName.lastIndexOf(u'.');
    if (dot < 0)
        return std::nullopt;
    const QString extension = bundleName.mid(dot + 1).toString().toLower();
    for (PluginFormat f : kAllPluginFormats)
        if (bundleExtension(f) == extension)
            return f;
    return std::nullopt;
}

QString rawValue(InstallScope scope) { return textOf(kScopes, scope); }
std::optional<InstallScope> installScopeFromRaw(QStringView text) { return valueOf(kScopes, text); }
InstallScope decodeInstallScope(const Json::Value& value, const Json::Path& path)
{
    return decodeWord(kScopes, value, path);
}

QString rawValue(OAuthProvider provider) { return textOf(kProviders, provider); }
std::optional<OAuthProvider> oauthProviderFromRaw(QStringView text) { return valueOf(kProviders, text); }

QString rawValue(FeedbackKind kind) { return textOf(kFeedbackKinds, kind); }
std::optional<FeedbackKind> feedbackKindFromRaw(QStringView text) { return valueOf(kFeedbackKinds, text); }
FeedbackKind decodeFeedbackKind(const Json::Value& value, const Json::Path& path)
{
    return decodeWord(kFeedbackKinds, value, path);
}

QString rawValue(CatalogSource source) { return textOf(kSources, source); }
std::optional<CatalogSource> catalogSourceFromRaw(QStringView text) { return valueOf(kSources, text); }

AUDescriptor AUDescriptor::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader r(value, path);
    AUDescriptor d;
    d.type = r.string("type"_L1);
    d.subtype = r.string("subtype"_L1);
    d.manufacturer = r.string("manufacturer"_L1);
    return d;
}

QByteArray AUDescriptor::toJson() const
{
    return Json::ObjectWriter()
        .add("type"_L1, type)
        .add("subtype"_L1, subtype)
        .add("manufacturer"_L1, manufacturer)
        .finish();
}

HubUser HubUser::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader r(value, path);
    HubUser u;
    u.id = r.string("id"_L1);
    u.email = r.string("email"_L1);
    u.name = r.string("name"_L1);
    return u;
}

QByteArray HubUser::toJson() const
{
    return Json::ObjectWriter().add("id"_L1, id).add("email"_L1, email).add("name"_L1, name).finish();
}

DeviceSession DeviceSession::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader r(value, path);
    DeviceSession s;
    s.token = r.string("token"_L1);
    s.deviceID = r.string("deviceID"_L1);
    s.user = r.required("user"_L1, HubUser::fromJson);
    return s;
}

DeviceSession DeviceSession::decode(const QByteArray& data)
{
    return fromJson(Json::parse(data), {});
}

QByteArray DeviceSession::toJson() const
{
    return Json::ObjectWriter()
        .add("token"_L1, token)
        .add("deviceID"_L1, deviceID)
        .addEncoded("user"_L1, user.toJson())
        .finish();
}

} // namespace Hub
