#pragma once

#include "Base/Json.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <vector>

// Read-only views of the sign-in service's replies. Every field is optional:
// a missing or null key leaves it empty, while a present key of the wrong
// JSON type fails the whole reply with a Json::DecodingError naming the key.
// Keys not listed here are ignored; nothing is ever encoded back.
namespace Hub {

struct TokenDTO {
    std::optional<QString> jwt;

    static TokenDTO fromJson(const Json::Value& value, const Json::Path& path);
    friend bool operator==(const TokenDTO&, const TokenDTO&) = default;
};

struct SessionDTO {
    std::optional<QString> id;
    std::optional<TokenDTO> lastActiveToken;
    std::optional<QString> lastActiveOrganizationId;

    static SessionDTO fromJson(const Json::Value& value, const Json::Path& path);
    friend bool operator==(const SessionDTO&, const SessionDTO&) = default;
};

struct ClientDTO {
    std::optional<QString> id;
    std::optional<std::vector<SessionDTO>> sessions;
    std::optional<QString> lastActiveSessionId;

    static ClientDTO fromJson(const Json::Value& value, const Json::Path& path);
    friend bool operator==(const ClientDTO&, const ClientDTO&) = default;
};

struct ErrorDTO {
    std::optional<QString> code;
    std::optional<QString> message;
    std::optional<QString> longMessage;

    static ErrorDTO fromJson(const Json::Value& value, const Json::Path& path);
    friend bool operator==(const ErrorDTO&, const ErrorDTO&) = default;
};

struct ErrorBody {
    std::optional<std::vector<ErrorDTO>> errors;

    static ErrorBody fromJson(const Json::Value& value, const Json::Path& path);
};

struct FactorDTO {
    std::optional<QString> strategy;
    std::optional<QString> emailAddressId;
    std::optional<QString> phoneNumberId;

    static FactorDTO fromJson(const Json::Value& value, const Json::Path& path);
    friend bool operator==(const FactorDTO&, const FactorDTO&) = default;
};

struct VerificationDTO {
    std::optional<QString> status;
    std::optional<QString> strategy;
    std::optional<QString> externalVerificationRedirectUrl;
    std::optional<ErrorDTO> error;

    static VerificationDTO fromJson(const Json::Value& value, const Json::Path& path);
};

struct SignInDTO {
    std::optional<QString> id;
    std::optional<QString> status; // kept as sent, also when the flows do not know it
    std::optional<QString> createdSessionId;
    std::optional<std::vector<FactorDTO>> supportedSecondFactors;
    std::optional<VerificationDTO> firstFactorVerification;
    std::optional<VerificationDTO> secondFactorVerification;

    static SignInDTO fromJson(const Json::Value& value, const Json::Path& path);
};

struct SignUpDTO {
    struct Verifications {
        std::optional<VerificationDTO> externalAccount;
    };

    std::optional<QString> id;
    std::optional<QString> status;
    std::optional<QString> createdSessionId;
    std::optional<Verifications> verifications;

    static SignUpDTO fromJson(const Json::Value& value, const Json::Path& path);
};

// The sign-in and sign-up replies: the object itself and the client beside it.
template <typename Response>
struct Envelope {
    std::optional<Response> response;
    std::optional<ClientDTO> client;

    static Envelope fromJson(const Json::Value& value, const Json::Path& path)
    {
        const Json::ObjectReader reader(value, path);
        return {reader.optional(QLatin1StringView("response"), &Response::fromJson),
                reader.optional(QLatin1StringView("client"), &ClientDTO::fromJson)};
    }
};

// Where any reply may carry the client: at the top or under "meta".
struct ClientCarrier {
    struct Meta {
        std::optional<ClientDTO> client;
    };

    std::optional<ClientDTO> client;
    std::optional<Meta> meta;

    static ClientCarrier fromJson(const Json::Value& value, const Json::Path& path);
    // The top-level client, else the one under "meta".
    std::optional<ClientDTO> carriedClient() const;
};

struct EnvironmentDTO {
    struct AuthConfig {
        std::optional<bool> sessionMinter;
    };
    struct Social {
        std::optional<QString> strategy;
        std::optional<bool> enabled;
        std::optional<bool> authenticatable;
        std::optional<bool> notSelectable;
    };
    struct UserSettings {
        // Keyed by the strategy name exactly as the reply spells it.
        std::optional<std::map<QString, Social>> social;
    };

    std::optional<AuthConfig> authConfig;
    std::optional<UserSettings> userSettings;

    static EnvironmentDTO fromJson(const Json::Value& value, const Json::Path& path);
};

// Reads a whole reply body as `Record`; throws Json::DecodingError for
// malformed JSON, a top level that is not an object, or a mistyped key.
template <typename Record>
Record decodeReply(const QByteArray& body)
{
    return Record::fromJson(Json::parse(body), QString());
}

} // namespace Hub
