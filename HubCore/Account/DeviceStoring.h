#pragma once

#include "Catalog/SharedTypes.h"

namespace Hub {

// Where this machine's session with the maker's service is kept across
// launches. No call throws; calls may block on the platform's keyring.
class DeviceStoring {
public:
    virtual ~DeviceStoring() = default;

    virtual DeviceLoad loadResult() const = 0;
    // True when the item now holds `session`.
    virtual bool save(const DeviceSession& session) = 0;
    virtual void clear() = 0;
};

} // namespace Hub
