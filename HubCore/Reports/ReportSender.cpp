#include "Reports/ReportSender.h"

#include "Account/HubHTTP.h"
#include "Base/HubError.h"
#include "Reports/ReportSpool.h"
#include "Reports/Scrub.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QSettings>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace Hub::ReportSender {

namespace {

constexpr auto kOptInKey = "SendReports"_L1;
constexpr auto kPath = "report"_L1;
constexpr qsizetype kMaxMessage = 500;

QUrl appendPath(QUrl base, const QString& component)
{
    QString path = base.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    base.setPath(path + component);
    return base;
}

QJsonObject post(const Client& client, const QJsonObject& body)
{
    if (client.transport)
        return client.transport(body, kPath);
    // Reports carry no authorization: they are sent signed in or not.
    return HubHTTP::postReport(appendPath(client.base, kPath), body, client.session, kTimeout);
}

QString scrubbed(const QString& text)
{
    return Scrub::text(text, std::numeric_limits<qsizetype>::max());
}

void scrub(std::optional<QString>& field)
{
    if (field)
        field = scrubbed(*field);
}

// Every text that leaves the machine, not only the message: a plug-in may
// put a path with the user's name into any field of its files.
Report scrubbedReport(Report report)
{
    report.product = scrubbed(report.product);
    report.code = scrubbed(report.code);
    for (std::optional<QString>* field : {&report.version, &report.format, &report.host, &report.os, &report.arch,
                                          &report.machineID, &report.reporter})
        scrub(*field);
    if (report.message)
        report.message = Scrub::text(*report.message, kMaxMessage);
    if (report.context) {
        ReportContext context;
        for (auto& [key, value] : *report.context) {
            if (QString* text = std::get_if<QString>(&value))
                *text = scrubbed(*text);
            context.insert_or_assign(scrubbed(key), std::move(value));
        }
        report.context = std::move(context);
    }
    return report;
}

QJsonArray batchBody(std::vector<ReportFile>::const_iterator begin, std::vector<ReportFile>::const_iterator end)
{
    QJsonArray reports;
    for (auto it = begin; it != end; ++it) {
        const Report report = scrubbedReport(it->report);
        // A report JSON cannot express is left out; its file still goes with
        // the batch so it does not block every later upload.
        if (const std::optional<QJsonObject> object = report.toJson())
            reports.append(*object);
    }
    return reports;
}

} // namespace

bool optedIn(QSettings& settings)
{
    return settings.value(kOptInKey, false).toBool();
}

bool optedIn()
{
    QSettings settings;
    return optedIn(settings);
}

void setOptedIn(QSettings& settings, bool on)
{
    settings.setValue(kOptInKey, on);
    settings.sync();
}

void setOptedIn(bool on)
{
    QSettings settings;
    setOptedIn(settings, on);
}

qsizetype send(const std::vector<ReportFile>& files, const ReportSpool& spool, const Client& client)
{
    qsizetype accepted = 0;
    for (auto begin = files.cbegin(); begin != files.cend();) {
        const auto end = begin + std::min<qsizetype>(kBatchSize, files.cend() - begin);
        const QJsonObject reply = post(client, QJsonObject{{u"reports"_s, batchBody(begin, end)}});
        // Only the JSON boolean true counts: "true" as text, false or a
        // missing key leave the files for the next try.
        const QJsonValue ok = reply.value("ok"_L1);
        if (!ok.isBool() || !ok.toBool())
            throw HubError::message(u"The report server didn't accept the reports."_s);
        spool.deleteFiles(std::vector<ReportFile>(begin, end));
        accepted += end - begin;
        begin = end;
    }
    return accepted;
}

} // namespace Hub::ReportSender
