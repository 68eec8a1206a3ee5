#pragma once

#include "TestPKI.h"

#include <QString>

#include <optional>

namespace Hub::Test {

// Signs a bundle folder the way the maker's release tooling does: every
// nested bundle first (deepest first, each with its own identifier), then
// the bundle itself. The identifier defaults to the bundle's
// CFBundleIdentifier, else its file name without the extension. An existing
// signature is replaced. Throws std::runtime_error on failure.
void signBundle(const QString& bundle, const SigningIdentity& signer,
                const std::optional<QString>& identifier = std::nullopt);

// Signs only the bundle itself, leaving nested bundles as they are.
void signBundleOnly(const QString& bundle, const SigningIdentity& signer, const QString& identifier);

// Writes the given resource list, as it is, with a signature over it: for
// tests of lists the signer would never write.
void writeSignature(const QString& bundle, const SigningIdentity& signer, const QByteArray& manifest);

} // namespace Hub::Test
