#pragma once

#include <QByteArray>
#include <QString>

// Texts for a report's "os" and "arch" fields.
namespace Hub::SystemInfo {

// The system's name and its version cut to major.minor, such as
// "Debian GNU/Linux 12" or "Ubuntu 24.04": from /etc/os-release, else the
// kernel's ("Linux 6.1").
QString os();
// The processor: "arm64" or "x86_64".
QString arch();

// os() for the given os-release text and kernel name and release; the text
// may be empty when the file is missing.
QString osFrom(const QByteArray& osRelease, const QString& kernelName, const QString& kernelRelease);

} // namespace Hub::SystemInfo
