#pragma once

#include "Model/HubModel.h"

#include <memory>

namespace Hub {
class SystemWebAuthenticator;
}

namespace Hub::Shell {

// The core's service objects for the real application, built in the order
// the model depends on them: the maker's service client, the identity
// provider (whose browser sign-in the shell feeds with callbacks), then the
// installer, stores and system seams.
struct AppServices {
    HubModelServices model;
    std::shared_ptr<SystemWebAuthenticator> web;
};

AppServices makeAppServices();

} // namespace Hub::Shell
