#pragma once

#include "Installer/Signing/CodeResources.h"
#include "Installer/Signing/Requirement.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

namespace Hub {

// The root certificates a signature's chain may end in, as PEM text (one or
// more certificates), and those a time-stamping authority's chain may end in.
// The production sets are the ones this build pins; tests pass their own.
class TrustAnchors {
public:
    // The anchors compiled in from the HUB_SIGNING_ANCHOR and
    // HUB_TIMESTAMP_ANCHOR files. A build made without a signing anchor pins
    // nothing, so no signature satisfies "anchor apple generic" and every
    // install is refused: the safe default. Without a time-stamping anchor
    // no time stamp is trusted, so every chain must hold today.
    static TrustAnchors pinned();
    static TrustAnchors fromPem(QByteArray pem, QByteArray timeStampingPem = {})
    {
        return TrustAnchors(std::move(pem), std::move(timeStampingPem));
    }

    const QByteArray& pem() const { return m_pem; }
    const QByteArray& timeStampingPem() const { return m_timeStampingPem; }

private:
    TrustAnchors(QByteArray pem, QByteArray timeStampingPem)
        : m_pem(std::move(pem))
        , m_timeStampingPem(std::move(timeStampingPem))
    {
    }
    QByteArray m_pem;
    QByteArray m_timeStampingPem;
};

// Code signatures of bundles on disk. A bundle is signed when
// "Contents/_CodeSignature/CodeResources" (see CodeResources) is covered by
// the detached CMS signature "Contents/_CodeSignature/CodeSignature"; the
// signature is intact when the CMS signature verifies with the signer's own
// certificate and the bundle matches the list exactly; nested bundles
// (folders ending .app, .component, .vst3, .framework or .bundle below
// Contents) must be intact too. Every check, with a requirement or without,
// also asks that the signer's chain end in one of the anchors given: an
// intact signature by a certificate anyone can make proves nothing. Which of
// the trusted signers it must be is the requirement's business.
//
// The signer's chain is judged at the time an RFC 3161 time stamp over the
// signature states, when the signature carries one (the unsigned attribute
// id-smime-aa-timeStampToken) whose authority chains to a pinned
// time-stamping anchor; otherwise today. The signing time a signature states
// itself is the signer's word, and whoever holds an expired or revoked key
// could write any.
//
// All functions are pure functions of their arguments and the files; they may
// run on any thread.
namespace CodeSignature {

// Status codes, numbered as the platform's code-signing services number them.
inline constexpr int kStatusValid = 0;
inline constexpr int kStatusUnsigned = -67062;          // no signature at all
inline constexpr int kStatusSignatureFailed = -67061;   // CMS signature can't be read or doesn't verify
inline constexpr int kStatusResourcesInvalid = -67055;  // resource list malformed
inline constexpr int kStatusResourcesNotFound = -67056; // signature without its resource list
inline constexpr int kStatusBadResource = -67054;       // a file differs from what was sealed
inline constexpr int kStatusRequirementInvalid = -67052;
inline constexpr int kStatusRequirementFailed = -67050;
inline constexpr int kStatusSignatureUntrusted = -67683; // intact, but its chain ends in no trusted anchor
inline constexpr int kStatusStaticCodeNotFound = -67068; // the path does not exist
inline constexpr int kStatusBadBundleFormat = -67028;    // not a bundle folder (a file, a link)
inline constexpr int kStatusBadNestedCode = -67021;
inline constexpr int kStatusInvalidSymlink = -67003;     // a link that leaves the bundle

// The outcome of a validity check: status 0, or a status with a detail text
// for the user ("a sealed resource is missing or invalid: ...").
struct Validity {
    int status = kStatusValid;
    QString detail;
    bool isValid() const { return status == kStatusValid; }
};

// The designated requirement for a bundle of the given team, with an
// identifier clause when bundleID is present and not empty. The identifier is
// inserted unchanged: callers test it with isPlainBundleID first.
QString requirement(const std::optional<QString>& bundleID, const QString& teamID);

// Present, not empty, at most 255 characters, ASCII letters, digits, dots and
// hyphens only, beginning with a letter or digit.
bool isPlainBundleID(const std::optional<QString>& bundleID);

// 0 when the path can be opened as a bundle; kStatusStaticCodeNotFound when
// nothing is there; kStatusBadBundleFormat for anything but a real folder
// (a symbolic link is refused rather than followed).
int openStatus(const QString& bundle);

// Checks the bundle's signature, strictly and with nested code, against the
// requirement (or none), the signer chaining to `anchors` either way
// (kStatusSignatureUntrusted without a requirement, kStatusRequirementFailed
// with one). Never throws.
Validity checkValidity(const QString& bundle, const std::optional<Requirement>& requirement,
                       const TrustAnchors& anchors);

// Accepts the bundle only when its signature is intact, by a signer that
// chains to `anchors`, and, unless allowUnsigned, satisfies
// requirement(bundleID, Config::teamID()). Throws HubError::message with the
// sentence for the user otherwise.
//
// `measured` holds digests of the bundle's files taken as they were written
// into a folder only this process can write (extraction into the private
// staging folder), by path inside the bundle: a file found there is not read
// again. The listing, sizes, modes and links are still read from disk.
using MeasuredFiles = std::map<QString, CodeResources::Digest>;
void verify(const QString& bundle, const std::optional<QString>& bundleID, bool allowUnsigned);
void verify(const QString& bundle, const std::optional<QString>& bundleID, bool allowUnsigned,
            const TrustAnchors& anchors, const MeasuredFiles& measured = {});

// The signer's team identifier (the leaf certificate's subject OU). None when
// the bundle is unsigned, its signature does not verify, or its chain does
// not end in a pinned anchor: a team name is only as good as the chain that
// vouches for it. The files themselves are not compared, so a maker's bundle
// whose contents were changed afterwards is still recognised as the maker's.
std::optional<QString> teamID(const QString& bundle);
std::optional<QString> teamID(const QString& bundle, const TrustAnchors& anchors);

} // namespace CodeSignature

} // namespace Hub
