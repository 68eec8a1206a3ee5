#include "BundleSigner.h"

#include "Installer/Signing/CodeResources.h"
#include "Platform/OpenSslHandles.h"
#include "Platform/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/x509.h>

#include <algorithm>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace Hub::Test {

namespace {

[[noreturn]] void fail(const QString& what)
{
    throw std::runtime_error("BundleSigner: " + what.toStdString());
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        fail(u"cannot write "_s + path);
}

QString defaultIdentifier(const QString& bundle)
{
    const QVariantMap info = PropertyList::readDictionary(bundle + u"/Contents/Info.plist"_s);
    if (const auto id = PropertyList::text(info, u"CFBundleIdentifier"_s); id && !id->isEmpty())
        return *id;
    return QFileInfo(bundle).completeBaseName();
}

bool isNestedBundleName(const QString& path)
{
    for (const auto extension : {".app"_L1, ".component"_L1, ".vst3"_L1, ".framework"_L1, ".bundle"_L1})
        if (path.endsWith(extension))
            return true;
    return false;
}

} // namespace

void signBundleOnly(const QString& bundle, const SigningIdentity& signer, const QString& identifier)
{
    const QString folder = bundle + u"/Contents/_CodeSignature"_s;
    QFile::remove(folder + u"/CodeResources"_s);
    QFile::remove(folder + u"/CodeSignature"_s);
    if (!QDir().mkpath(folder))
        fail(u"cannot make "_s + folder);

    CodeResources resources = CodeResources::scan(bundle);
    resources.digestAll(bundle);
    resources.identifier = identifier;
    writeSignature(bundle, signer, resources.toJson());
}

void writeSignature(const QString& bundle, const SigningIdentity& signer, const QByteArray& manifest)
{
    const QString folder = bundle + u"/Contents/_CodeSignature"_s;
    if (!QDir().mkpath(folder))
        fail(u"cannot make "_s + folder);
    writeFile(folder + u"/CodeResources"_s, manifest);
    writeFile(folder + u"/CodeSignature"_s, signDetached(manifest, signer));
}

void signBundle(const QString& bundle, const SigningIdentity& signer, const std::optional<QString>& identifier)
{
    std::vector<QString> nested;
    for (const auto& [path, entry] : CodeResources::scan(bundle).entries) {
        if (entry.kind == SealedEntry::Kind::directory && path.startsWith("Contents/"_L1) && isNestedBundleName(path))
            nested.push_back(path);
    }
    std::sort(nested.begin(), nested.end(), [](const QString& a, const QString& b) { return a.count(u'/') > b.count(u'/'); });
    for (const QString& path : nested) {
        const QString inner = bundle + u'/' + path;
        signBundleOnly(inner, signer, defaultIdentifier(inner));
    }
    signBundleOnly(bundle, signer, identifier.value_or(defaultIdentifier(bundle)));
}

} // namespace Hub::Test
