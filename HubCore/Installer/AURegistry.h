#pragma once

#include "Catalog/SharedTypes.h"

#include <QString>

#include <optional>

namespace Hub {

// Waits until the system lists a newly placed Audio Unit, or no longer lists
// a removed one. Blocking; the app model's stand-in answers at once.
class AURegistry {
public:
    virtual ~AURegistry() = default;

    // True when the component is listed within `timeout` seconds.
    virtual bool refreshAndWait(const AUDescriptor& descriptor, double timeout) = 0;
    // True when the component is no longer listed within `timeout` seconds.
    virtual bool refreshAndWaitGone(const AUDescriptor& descriptor, double timeout);
};

// The codes of the first entry of a component bundle's "AudioComponents";
// none when the information list, the list or a text field is missing.
std::optional<AUDescriptor> auDescriptorOfComponent(const QString& componentPath);

} // namespace Hub
