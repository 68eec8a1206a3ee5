#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <optional>

namespace Hub {

// The one error the core reports to the app model. Its description is a
// finished sentence the model can show as it is.
class HubError : public std::exception {
public:
    enum class Kind { message, api, cancelled };

    static HubError message(QString sentence);
    static HubError api(QString code, QString message);
    static HubError cancelled();

    Kind kind() const { return m_kind; }
    // Empty unless kind() is api.
    const QString& code() const { return m_code; }
    // The sentence for the user: the message, the api message, or "Cancelled.".
    QString errorDescription() const;

    bool isUnauthorized() const;
    bool isOffline() const;

    const char* what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const HubError& a, const HubError& b)
    {
        return a.m_kind == b.m_kind && a.m_code == b.m_code && a.m_text == b.m_text;
    }

private:
    HubError(Kind kind, QString code, QString text);

    Kind m_kind;
    QString m_code;
    QString m_text;
    QByteArray m_what;
};

// An error reply of the hosted sign-in service.
struct FAPIError : std::exception {
    int status = 0;
    std::optional<QString> code;
    std::optional<QString> message;
    std::optional<QString> longMessage;

    const char* what() const noexcept override { return "sign-in service error"; }
    // The std::exception base has no equality, so a defaulted one would be deleted.
    friend bool operator==(const FAPIError& a, const FAPIError& b)
    {
        return a.status == b.status && a.code == b.code && a.message == b.message
            && a.longMessage == b.longMessage;
    }
};

} // namespace Hub
