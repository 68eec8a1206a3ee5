#include "Account/ClerkRecords.h"

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

template <typename Element>
auto listOf(Element (*decode)(const Json::Value&, const Json::Path&))
{
    return [decode](const Json::Value& value, const Json::Path& path) { return Json::decodeList(value, path, decode); };
}

EnvironmentDTO::Social socialFromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    return {reader.optionalString("strategy"_L1), reader.optionalBool("enabled"_L1),
            reader.optionalBool("authenticatable"_L1), reader.optionalBool("not_selectable"_L1)};
}

// The map's keys are strategy names, taken exactly as written.
std::map<QString, EnvironmentDTO::Social> socialMapFromJson(const Json::Value& value, const Json::Path& path)
{
    if (!value.isObject())
        throw Json::DecodingError(path.toString(), u"expected an object"_s);
    std::map<QString, EnvironmentDTO::Social> out;
    for (const auto& [key, member] : value.members())
        out.insert_or_assign(key, socialFromJson(member, Json::Path(path, key)));
    return out;
}

} // namespace

TokenDTO TokenDTO::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    return {reader.optionalString("jwt"_L1)};
}

SessionDTO SessionDTO::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    return {reader.optionalString("id"_L1), reader.optional("last_active_token"_L1, &TokenDTO::fromJson),
            reader.optionalString("last_active_organization_id"_L1)};
}

ClientDTO ClientDTO::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    return {reader.optionalString("id"_L1), reader.optional("sessions"_L1, listOf(&SessionDTO::fromJson)),
            reader.optionalString("last_active_session_id"_L1)};
}

ErrorDTO ErrorDTO::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    return {reader.optionalString("code"_L1), reader.optionalString("message"_L1),
            reader.optionalString("long_message"_L1)};
}

ErrorBody ErrorBody::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    return {reader.optional("errors"_L1, listOf(&ErrorDTO::fromJson))};
}

FactorDTO FactorDTO::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    return {reader.optionalString("strategy"_L1), reader.optionalString("email_address_id"_L1),
            reader.optionalString("phone_number_id"_L1)};
}

VerificationDTO VerificationDTO::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    return {reader.optionalString("status"_L1), reader.optionalString("strategy"_L1),
            reader.optionalString("external_verification_redirect_url"_L1),
            reader.optional("error"_L1, &ErrorDTO::fromJson)};
}

SignInDTO SignInDTO::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    return {reader.optionalString("id"_L1),
            reader.optionalString("status"_L1),
            reader.optionalString("created_session_id"_L1),
            reader.optional("supported_second_factors"_L1, listOf(&FactorDTO::fromJson)),
            reader.optional("first_factor_verification"_L1, &VerificationDTO::fromJson),
            reader.optional("second_factor_verification"_L1, &VerificationDTO::fromJson)};
}

SignUpDTO SignUpDTO::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    const auto verifications = [](const Json::Value& v, const Json::Path& p) {
        const Json::ObjectReader inner(v, p);
        return Verifications{inner.optional("external_account"_L1, &VerificationDTO::fromJson)};
    };
    return {reader.optionalString("id"_L1), reader.optionalString("status"_L1),
            reader.optionalString("created_session_id"_L1), reader.optional("verifications"_L1, verifications)};
}

ClientCarrier ClientCarrier::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    const auto meta = [](const Json::Value& v, const Json::Path& p) {
        const Json::ObjectReader inner(v, p);
        return Meta{inner.optional("client"_L1, &ClientDTO::fromJson)};
    };
    return {reader.optional("client"_L1, &ClientDTO::fromJson), reader.optional("meta"_L1, meta)};
}

std::optional<ClientDTO> ClientCarrier::carriedClient() const
{
    if (client)
        return client;
    if (meta)
        return meta->client;
    return std::nullopt;
}

EnvironmentDTO EnvironmentDTO::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader reader(value, path);
    const auto authConfig = [](const Json::Value& v, const Json::Path& p) {
        const Json::ObjectReader inner(v, p);
        return AuthConfig{inner.optionalBool("session_minter"_L1)};
    };
    const auto userSettings = [](const Json::Value& v, const Json::Path& p) {
        const Json::ObjectReader inner(v, p);
        return UserSettings{inner.optional("social"_L1, socialMapFromJson)};
    };
    return {reader.optional("auth_config"_L1, authConfig), reader.optional("user_settings"_L1, userSettings)};
}

} // namespace Hub
