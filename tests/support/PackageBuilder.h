#pragma once

#include "TestPKI.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace Hub::Test {

// What a fixture installer package is: the identity its PackageInfo claims,
// where it installs, who signed it and what was done to it afterwards.
struct PackageSpec {
    enum class Signer {
        maker,          // the maker's installer certificate
        otherTeam,      // another team's installer certificate, same authority
        application,    // the maker's application (not installer) certificate
        foreign,        // a certificate that chains to another anchor
        none,           // no Signature member
    };

    QString identifier = QStringLiteral("com.tarnaudio.fixture.pkg");
    QString version = QStringLiteral("2.0.0");
    QString installLocation = QStringLiteral("/Applications");
    Signer signer = Signer::maker;
    bool ticket = true;   // a notarisation ticket for this package
    bool tamper = false;  // the payload changed after signing
};

// Writes installer packages and disk images the way the maker's release
// tooling does, in the format of PackageArchive. Throws std::runtime_error.
namespace PackageBuilder {

// A package at `package` whose payload holds `items` (files or folders,
// each under its own name), installed below recipe.installLocation.
void build(const QString& package, const QStringList& items, const PackageSpec& recipe, const TestPKI& pki);

// A package from members given as they are (names and bytes), for
// malformed packages the release tooling would never write.
void buildRaw(const QString& package, const QList<QPair<QString, QByteArray>>& members);

// A gzip-compressed tar of `items`, each under its own name.
void writePayload(const QString& archive, const QStringList& items);

// A disk image (zip) at `image` holding each (name, bytes) at its top
// level; a name ending in "/" is a folder.
void diskImage(const QString& image, const QList<QPair<QString, QByteArray>>& entries);

// The certificate a recipe's signer names.
const SigningIdentity& identity(const TestPKI& pki, PackageSpec::Signer signer);

} // namespace PackageBuilder
} // namespace Hub::Test
