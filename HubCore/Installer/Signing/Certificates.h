#pragma once

#include "Installer/Signing/CodeSignature.h"
#include "Platform/OpenSslHandles.h"

#include <QString>

#include <optional>

// Certificate questions that bundle signatures and installer packages both
// ask: which anchors are trusted, what a subject field says, whether a
// marker extension is present.
namespace Hub::Certificates {

// A store holding every certificate of the anchors' PEM; null when the PEM
// holds none, so that nothing can verify against an empty trust set.
OpenSsl::Store anchorStore(const TrustAnchors& anchors);
OpenSsl::Store anchorStore(const QByteArray& pem);

// The subject's single entry for `nid` as text; none when it is absent or
// appears more than once (two OUs must not let a signer pick one).
std::optional<QString> subjectField(X509* certificate, int nid);

// True when the certificate carries the extension with the dotted `oid`.
bool hasExtension(X509* certificate, const char* oid);

} // namespace Hub::Certificates
