#pragma once

#include <string>

namespace Hub::Test {

// Enters new namespaces of `kinds` (CLONE_NEW* flags, a mount namespace
// among them), as `unshare` does: root as it is, anyone else as root of a
// user namespace of its own, so the suite needs no privilege. On failure
// `why` says which step failed and why, for a test's skip message.
bool enterPrivateNamespaces(int kinds, std::string& why);

} // namespace Hub::Test
