#include "Reports/Report.h"

#include "Base/Json.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

ContextValue decodeContextValue(const Json::Value& value, const Json::Path& path)
{
    if (value.isBool())
        return value.toBool();
    if (value.isNumber())
        return value.toDouble();
    if (value.isString())
        return value.toString();
    throw Json::DecodingError(path.toString(), u"expected a boolean, a number or text"_s);
}

ReportContext decodeContext(const Json::Value& value, const Json::Path& path)
{
    if (!value.isObject())
        throw Json::DecodingError(path.toString(), u"expected an object"_s);
    ReportContext out;
    for (const auto& [key, member] : value.members())
        out.insert_or_assign(key, decodeContextValue(member, Json::Path(path, key)));
    return out;
}

void put(QJsonObject& object, QLatin1StringView key, const std::optional<QString>& value)
{
    if (value)
        object.insert(key, *value);
}

void put(QJsonObject& object, QLatin1StringView key, const std::optional<qint64>& value)
{
    if (value)
        object.insert(key, *value);
}

} // namespace

std::optional<QJsonObject> Report::toJson() const
{
    QJsonObject object;
    object.insert("v"_L1, v);
    object.insert("product"_L1, product);
    object.insert("code"_L1, code);
    put(object, "version"_L1, version);
    put(object, "format"_L1, format);
    put(object, "host"_L1, host);
    put(object, "os"_L1, os);
    put(object, "arch"_L1, arch);
    put(object, "machine_id"_L1, machineID);
    put(object, "reporter"_L1, reporter);
    put(object, "message"_L1, message);
    put(object, "count"_L1, count);
    put(object, "first_at"_L1, firstAt);
    put(object, "last_at"_L1, lastAt);
    if (context) {
        QJsonObject facts;
        for (const auto& [key, value] : *context) {
            if (const double* number = std::get_if<double>(&value)) {
                // Qt would write null for these, which would not read back.
                if (!std::isfinite(*number))
                    return std::nullopt;
                facts.insert(key, *number);
            } else if (const bool* flag = std::get_if<bool>(&value)) {
                facts.insert(key, *flag);
            } else {
                facts.insert(key, std::get<QString>(value));
            }
        }
        object.insert("context"_L1, facts);
    }
    return object;
}

std::optional<QByteArray> Report::encode() const
{
    const std::optional<QJsonObject> object = toJson();
    if (!object)
        return std::nullopt;
    // QJsonObject keeps its keys sorted, which is the order the files use.
    return QJsonDocument(*object).toJson(QJsonDocument::Compact);
}

Report Report::fromJson(const Json::Value& object)
{
    const Json::ObjectReader reader(object, QString());
    Report report;
    report.v = reader.required("v"_L1, Json::decodeInt64);
    report.product = reader.string("product"_L1);
    report.code = reader.string("code"_L1);
    report.version = reader.optionalString("version"_L1);
    report.format = reader.optionalString("format"_L1);
    report.host = reader.optionalString("host"_L1);
    report.os = reader.optionalString("os"_L1);
    report.arch = reader.optionalString("arch"_L1);
    report.machineID = reader.optionalString("machine_id"_L1);
    report.reporter = reader.optionalString("reporter"_L1);
    report.message = reader.optionalString("message"_L1);
    report.count = reader.optionalInt64("count"_L1);
    report.firstAt = reader.optionalInt64("first_at"_L1);
    report.lastAt = reader.optionalInt64("last_at"_L1);
    report.context = reader.optional("context"_L1, decodeContext);
    return report;
}

Report Report::decode(const QByteArray& data)
{
    return fromJson(Json::parse(data));
}

} // namespace Hub
