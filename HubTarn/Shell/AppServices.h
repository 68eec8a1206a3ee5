#pragma once

#include "Model/HubModelServices.h"
#include "Shell/ServiceProfile.h"

#include <memory>

namespace Hub {
class SystemWebAuthenticator;
}

namespace Hub::Shell {

// The core's service objects for the real application, built in the order
// the model depends on them: the maker's service client, the identity
// provider (whose browser sign-in the shell feeds with callbacks), then the
// installer, stores and system seams.
//
// A sandboxed run keeps everything under its home folder: the install
// places, settings and reports (the model's isolated home) and the sign-in
// (kept in memory, never in the user's keyring). Its service profile, when
// it has one, replaces every address, the TLS roots and the code-signing
// anchor; without a sandbox they are the build's own.
struct AppServices {
    HubModelServices model;
    std::shared_ptr<SystemWebAuthenticator> web;
};

AppServices makeAppServices(const std::optional<Sandbox>& sandbox = std::nullopt);

} // namespace Hub::Shell
