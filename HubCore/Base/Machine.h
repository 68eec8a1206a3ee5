#pragma once

#include <QString>

#include <optional>

// Facts about this computer.
namespace Hub::Machine {

// The host's name, used as the device name at the maker's service.
QString name();
// The device name for a host name: the name itself, or "Linux computer"
// for a host without one.
QString nameForHost(const QString& host);
// "arm64" or "x86_64", decided once per process.
QString cpu();
// The processor name for a kernel machine name ("aarch64" and "arm64" are arm64).
QString cpuForMachine(const QString& unameMachine);
// The machine's stable identifier as an upper-case UUID, read from the
// system's machine-id; none when it cannot be read.
std::optional<QString> readPlatformUUID();
// readPlatformUUID() read once and kept for the process.
std::optional<QString> platformUUID();
// The first 32 hex digits of sha256Hex(prefix + uuid); none for a missing or empty uuid.
std::optional<QString> id(const QString& prefix, const std::optional<QString>& uuid);
// The platform version that release requirements are checked against,
// dotted numbers such as "14.0.0" (a build option).
QString platformVersion();

} // namespace Hub::Machine
