#include "Installer/SystemAURegistry.h"

#include "Base/Process.h"

#include <algorithm>
#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

constexpr double kRegistrarTimeout = 10.0;
constexpr double kLookupTimeout = 20.0;
constexpr std::chrono::milliseconds kPollInterval{250};

QString hexCode(std::uint32_t code) { return QString::number(code, 16).rightJustified(8, u'0').toUpper(); }

} // namespace

SystemAURegistry::SystemAURegistry(ToolPaths tools, QStringList folders)
    : m_tools(std::move(tools))
    , m_folders(std::move(folders))
{
}

bool SystemAURegistry::refreshAndWait(const AUDescriptor& descriptor, double timeout)
{
    restartRegistrar();
    return wait(Listing::listed, descriptor, timeout);
}

bool SystemAURegistry::refreshAndWaitGone(const AUDescriptor& descriptor, double timeout)
{
    restartRegistrar();
    return wait(Listing::missing, descriptor, timeout);
}

void SystemAURegistry::restartRegistrar() const
{
    Shell::run(m_tools.killall, {u"-9"_s, u"AudioComponentRegistrar"_s}, kRegistrarTimeout);
}

SystemAURegistry::Listing SystemAURegistry::lookup(const AUDescriptor& descriptor, double timeout) const
{
    const auto type = fourCC(descriptor.type);
    const auto subtype = fourCC(descriptor.subtype);
    const auto manufacturer = fourCC(descriptor.manufacturer);
    if (!type || !subtype || !manufacturer)
        return Listing::missing;
    QStringList arguments;
    for (const QString& folder : m_folders)
        arguments << u"--folder"_s << folder;
    arguments << u"-v"_s << hexCode(*type) << hexCode(*subtype) << hexCode(*manufacturer);
    const Shell::Result result = Shell::run(m_tools.auval, arguments, timeout);
    return listing(result.status, result.output);
}

bool SystemAURegistry::wait(Listing wanted, const AUDescriptor& descriptor, double timeout) const
{
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::clamp(timeout, 0.0, 86400.0)));
    for (;;) {
        if (lookup(descriptor, kLookupTimeout) == wanted)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool SystemAURegistry::isRegistered(const AUDescriptor& descriptor) const
{
    return lookup(descriptor, kLookupTimeout) == Listing::listed;
}

std::optional<std::uint32_t> SystemAURegistry::fourCC(const QString& code)
{
    const QByteArray bytes = code.toUtf8();
    if (bytes.size() != 4)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte > 126)
            return std::nullopt;
        value = (value << 8) | byte;
    }
    return value;
}

SystemAURegistry::Listing SystemAURegistry::listing(std::int32_t status, const QString& output)
{
    if (output.contains(u"didn't find the component"_s))
        return Listing::missing;
    if (status == 0 || output.contains(u"AudioUnit Name:"_s) || output.contains(u"Manufacturer String:"_s))
        return Listing::listed;
    return Listing::unknown;
}

} // namespace Hub
