#pragma once

#include <QString>

#include <optional>

namespace Hub {

// The outcome of reading the stored sign-in device token.
struct ClerkTokenLoad {
    enum class Kind { found, none, unreadable };

    Kind kind = Kind::none;
    std::optional<QString> token; // only for found: non-empty

    static ClerkTokenLoad found(QString token) { return {Kind::found, std::move(token)}; }
    static ClerkTokenLoad none() { return {Kind::none, std::nullopt}; }
    static ClerkTokenLoad unreadable() { return {Kind::unreadable, std::nullopt}; }
    friend bool operator==(const ClerkTokenLoad&, const ClerkTokenLoad&) = default;
};

// Where the sign-in client keeps its rotating device token across launches.
// No call throws; calls may block on the platform's keyring.
class ClerkTokenStoring {
public:
    virtual ~ClerkTokenStoring() = default;

    virtual ClerkTokenLoad load() const = 0;
    // True when the item now holds `token`.
    virtual bool save(const QString& token) = 0;
    virtual void clear() = 0;
};

} // namespace Hub
