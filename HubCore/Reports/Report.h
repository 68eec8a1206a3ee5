#pragma once

#include "Base/Json.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <map>
#include <optional>
#include <variant>

namespace Hub {

// One free-form fact of a report's context. Decoding tries a boolean, then a
// number, then text, so JSON true stays a boolean and 3 becomes 3.0.
using ContextValue = std::variant<double, bool, QString>;
using ReportContext = std::map<QString, ContextValue>;

// One spooled problem report. The JSON keys and types are shared with the
// maker's plug-ins, which write the same files: changing one breaks them.
struct Report {
    qint64 v = 1;
    QString product;
    QString code;
    std::optional<QString> version;
    std::optional<QString> format;
    std::optional<QString> host;
    std::optional<QString> os;
    std::optional<QString> arch;
    std::optional<QString> machineID;
    std::optional<QString> reporter;
    std::optional<QString> message;
    std::optional<qint64> count;
    std::optional<qint64> firstAt;
    std::optional<qint64> lastAt;
    std::optional<ReportContext> context;

    // The report as one JSON object, absent fields left out (never null).
    // None when a context number is not finite: JSON has no such number.
    std::optional<QJsonObject> toJson() const;
    // The file's bytes: compact JSON with the keys sorted.
    std::optional<QByteArray> encode() const;

    // "v", "product" and "code" must be there with their types; any other
    // known key may be missing or null but must have its type when present;
    // unknown keys are ignored. Throws Json::DecodingError naming the key.
    static Report fromJson(const Json::Value& object);
    static Report decode(const QByteArray& data);

    friend bool operator==(const Report&, const Report&) = default;
};

} // namespace Hub
