#include "Reports/SystemInfo.h"

#include "Base/Machine.h"

#include <QFile>
#include <QRegularExpression>

#include <sys/utsname.h>

using namespace Qt::StringLiterals;

namespace Hub::SystemInfo {

namespace {

// The value of one os-release variable, unquoted.
QString osReleaseValue(const QByteArray& text, QLatin1StringView key)
{
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (!line.startsWith(key) || line.mid(key.size(), 1) != "="_L1)
            continue;
        QString value = line.mid(key.size() + 1);
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

// "14.5.1" gives "14.5", "12" stays "12", "6.1.0-18-amd64" gives "6.1".
QString majorMinor(const QString& version)
{
    static const QRegularExpression leading(u"^\\d+(?:\\.\\d+)?"_s);
    const QRegularExpressionMatch match = leading.match(version);
    return match.hasMatch() ? match.captured() : version;
}

} // namespace

QString osFrom(const QByteArray& osRelease, const QString& kernelName, const QString& kernelRelease)
{
    const QString name = osReleaseValue(osRelease, "NAME"_L1);
    if (!name.isEmpty()) {
        const QString version = majorMinor(osReleaseValue(osRelease, "VERSION_ID"_L1));
        return version.isEmpty() ? name : name + u' ' + version;
    }
    const QString kernel = kernelName.isEmpty() ? u"Linux"_s : kernelName;
    const QString version = majorMinor(kernelRelease);
    return version.isEmpty() ? kernel : kernel + u' ' + version;
}

QString os()
{
    static const QString value = [] {
        QByteArray osRelease;
        for (const auto path : {"/etc/os-release"_L1, "/usr/lib/os-release"_L1}) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly)) {
                osRelease = file.read(64 * 1024);
                break;
            }
        }
        utsname info{};
        if (uname(&info) != 0)
            return osFrom(osRelease, QString(), QString());
        return osFrom(osRelease, QString::fromUtf8(info.sysname), QString::fromUtf8(info.release));
    }();
    return value;
}

QString arch() { return Machine::cpu(); }

} // namespace Hub::SystemInfo
