#include "Base/Machine.h"

#include "Base/Digest.h"
#include "BuildConfig.h"

#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

#include <sys/utsname.h>

using namespace Qt::StringLiterals;

namespace Hub::Machine {

QString name() { return nameForHost(QSysInfo::machineHostName()); }

QString nameForHost(const QString& host)
{
    // The maker's account page lists it beside the user's other devices.
    return host.isEmpty() ? u"Linux computer"_s : host;
}

QString cpuForMachine(const QString& unameMachine)
{
    return (unameMachine == "aarch64"_L1 || unameMachine == "arm64"_L1) ? u"arm64"_s : u"x86_64"_s;
}

QString cpu()
{
    static const QString value = [] {
        utsname info{};
        if (uname(&info) != 0)
            return u"x86_64"_s;
        return cpuForMachine(QString::fromLatin1(info.machine));
    }();
    return value;
}

std::optional<QString> readPlatformUUID()
{
    static const QRegularExpression machineID(QRegularExpression::anchoredPattern(u"[0-9a-f]{32}"_s));
    for (const auto path : {"/etc/machine-id"_L1, "/var/lib/dbus/machine-id"_L1}) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromLatin1(file.read(64)).trimmed();
        if (!machineID.match(text).hasMatch())
            continue;
        // The same 8-4-4-4-12 shape as a hardware UUID, so identifiers
        // derived from it look alike on every platform.
        const QString u = text.toUpper();
        return u.mid(0, 8) + u'-' + u.mid(8, 4) + u'-' + u.mid(12, 4) + u'-' + u.mid(16, 4) + u'-' + u.mid(20);
    }
    return std::nullopt;
}

std::optional<QString> platformUUID()
{
    static const std::optional<QString> value = readPlatformUUID();
    return value;
}

std::optional<QString> id(const QString& prefix, const std::optional<QString>& uuid)
{
    if (!uuid || uuid->isEmpty())
        return std::nullopt;
    return sha256Hex(prefix + *uuid).left(32);
}

QString platformVersion() { return QString::fromUtf8(BuildConfig::kPlatformVersion); }

} // namespace Hub::Machine
