#pragma once

#include "Installer/AURegistry.h"
#include "Platform/ToolPaths.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace Hub {

// The system's registry: restarts the registrar, then polls the Audio Unit
// validator (`auval -v TYPE SUBTYPE MANUFACTURER`) every 250 ms until the
// component is listed, or gone, or the time is up. Keeps no state, so
// several waits may run at once.
class SystemAURegistry : public AURegistry {
public:
    enum class Listing { listed, missing, unknown };

    // `folders`: the Components folders the validator reads instead of the
    // system's (a sandboxed run's home places); empty: the system's.
    explicit SystemAURegistry(ToolPaths tools = ToolPaths::installed(), QStringList folders = {});

    bool refreshAndWait(const AUDescriptor& descriptor, double timeout) override;
    bool refreshAndWaitGone(const AUDescriptor& descriptor, double timeout) override;

    // "killall -9 AudioComponentRegistrar", time-out 10 s, outcome ignored.
    void restartRegistrar() const;
    // One validator run; missing at once when a code is not a four-character code.
    Listing lookup(const AUDescriptor& descriptor, double timeout) const;
    // Polls until the lookup gives `wanted` or the deadline has passed;
    // at least one lookup always runs, and one running at the deadline counts.
    bool wait(Listing wanted, const AUDescriptor& descriptor, double timeout) const;
    bool isRegistered(const AUDescriptor& descriptor) const;

    // The four bytes of a printable ASCII code as a big-endian number.
    static std::optional<std::uint32_t> fourCC(const QString& code);
    // What a validator run says: missing when the output has "didn't find
    // the component", else listed for status 0 or a name or manufacturer line.
    static Listing listing(std::int32_t status, const QString& output);

private:
    ToolPaths m_tools;
    QStringList m_folders;
};

} // namespace Hub
