#pragma once

#include "Installer/Signing/CodeSignature.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <openssl/types.h>

#include <memory>
#include <optional>
#include <vector>

namespace Hub::Test {

// A time-stamping authority (its certificate and key) and the answer it gives:
// an RFC 3161 token stating `time`, over the signature it is asked about or,
// when `overOtherBytes` is set, over other bytes.
struct TimeStamper {
    std::shared_ptr<X509> certificate;
    std::shared_ptr<EVP_PKEY> key;
    QDateTime time;
    bool overOtherBytes = false;

    TimeStamper at(const QDateTime& when) const;
    TimeStamper overOther() const;
};

// A certificate with its key, and the intermediate certificates a signature
// made with it carries. Its signatures state the signing time given, else
// now as signing tools do; none at all when `withoutSigningTime` is set.
// With a time stamper, the signature carries its token as an unsigned
// attribute.
struct SigningIdentity {
    std::shared_ptr<X509> certificate;
    std::shared_ptr<EVP_PKEY> key;
    std::vector<std::shared_ptr<X509>> chain;
    std::optional<QDateTime> signingTime;
    bool withoutSigningTime = false;
    std::optional<TimeStamper> timeStamper;

    SigningIdentity signedAt(const QDateTime& when) const;
    SigningIdentity signedWithoutTime() const;
    SigningIdentity timeStampedBy(const TimeStamper& stamper) const;
};

// A detached DER CMS signature of `content` by `signer`, carrying its chain,
// as bundle signatures and package signatures both use. Throws on failure.
QByteArray signDetached(const QByteArray& content, const SigningIdentity& signer);

// A code-signing PKI made fresh for each test run (P-256 keys):
//
//   anchor ── intermediate (developer marker 1.2.840.113635.100.6.2.6)
//              ├── maker        OU = Config::teamID(), application marker 1.2.840.113635.100.6.1.13
//              ├── otherTeam    OU = "OTHERTEAM1", application marker
//              ├── noMarker     OU = Config::teamID(), no application marker
//              ├── expired      like maker, but valid only from 30 days ago until yesterday
//              └── notYetValid  like maker, but valid only from tomorrow for 30 days
//   foreign anchor ── foreign intermediate (marker) ── foreign leaf (OU = the maker's, marker)
//   selfSigned: a leaf that is its own issuer, with the maker's OU and the
//               application marker: what anyone with openssl makes in a minute
//
// Installer certificates, for packages (installer marker 1.2.840.113635.100.6.1.14,
// common name "Developer ID Installer: <Name> (<TEAM>)"), under the same intermediate:
//   makerInstaller (OU = Config::teamID()), otherTeamInstaller (OU = "OTHERTEAM1")
//
// Time-stamping authorities (extended key usage timeStamping, critical), each
// under its own root, their tokens stating now unless told otherwise:
//   time-stamping anchor ── timeStamper
//   foreign time-stamping root ── foreignTimeStamper
//
// Nothing is written to disk unless asked.
class TestPKI {
public:
    TestPKI();

    const SigningIdentity& maker() const { return m_maker; }
    const SigningIdentity& otherTeam() const { return m_otherTeam; }
    const SigningIdentity& noMarker() const { return m_noMarker; }
    const SigningIdentity& expired() const { return m_expired; }
    const SigningIdentity& notYetValid() const { return m_notYetValid; }
    const SigningIdentity& foreign() const { return m_foreign; }
    const SigningIdentity& selfSigned() const { return m_selfSigned; }
    const SigningIdentity& makerInstaller() const { return m_makerInstaller; }
    const SigningIdentity& otherTeamInstaller() const { return m_otherTeamInstaller; }
    const TimeStamper& timeStamper() const { return m_timeStamper; }
    const TimeStamper& foreignTimeStamper() const { return m_foreignTimeStamper; }

    // The anchor certificates as PEM, and as the trust set verification takes.
    QByteArray anchorPem() const;
    QByteArray timeStampAnchorPem() const;
    TrustAnchors anchors() const { return TrustAnchors::fromPem(anchorPem(), timeStampAnchorPem()); }
    QByteArray foreignAnchorPem() const;

    static QByteArray toPem(X509* certificate);

    static constexpr char kOtherTeam[] = "OTHERTEAM1";

private:
    std::shared_ptr<EVP_PKEY> m_anchorKey;
    std::shared_ptr<X509> m_anchor;
    std::shared_ptr<X509> m_foreignAnchor;
    SigningIdentity m_maker;
    SigningIdentity m_otherTeam;
    SigningIdentity m_noMarker;
    SigningIdentity m_expired;
    SigningIdentity m_notYetValid;
    SigningIdentity m_foreign;
    SigningIdentity m_selfSigned;
    SigningIdentity m_makerInstaller;
    SigningIdentity m_otherTeamInstaller;
    std::shared_ptr<X509> m_timeStampAnchor;
    TimeStamper m_timeStamper;
    TimeStamper m_foreignTimeStamper;
};

} // namespace Hub::Test
