#include "PackageBuilder.h"

#include "Installer/Packages/PackageArchive.h"
#include "Platform/OpenSslHandles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace Hub::Test::PackageBuilder {

namespace {

using WritePtr = std::unique_ptr<archive, decltype(&archive_write_free)>;
using ReadPtr = std::unique_ptr<archive, decltype(&archive_read_free)>;

[[noreturn]] void fail(const QString& what) { throw std::runtime_error("PackageBuilder: " + what.toStdString()); }

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail(u"cannot write "_s + path);
}

void addTree(archive* writer, const QString& item)
{
    const QFileInfo info(item);
    const QString base = info.absolutePath();
    ReadPtr disk(archive_read_disk_new(), archive_read_free);
    archive_read_disk_set_symlink_physical(disk.get());
    if (archive_read_disk_open(disk.get(), QFile::encodeName(info.absoluteFilePath()).constData()) != ARCHIVE_OK)
        fail(item + u": "_s + QString::fromUtf8(archive_error_string(disk.get())));
    for (;;) {
        const std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                                  archive_entry_free);
        const int r = archive_read_next_header2(disk.get(), entry.get());
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            fail(item + u": "_s + QString::fromUtf8(archive_error_string(disk.get())));
        archive_read_disk_descend(disk.get());
        const QString path = QFile::decodeName(archive_entry_pathname(entry.get()));
        const QString relative = path.mid(base.size() + 1);
        archive_entry_set_pathname(entry.get(), QFile::encodeName(relative).constData());
        archive_entry_set_uid(entry.get(), 0);
        archive_entry_set_gid(entry.get(), 0);
        archive_entry_set_uname(entry.get(), "root");
        archive_entry_set_gname(entry.get(), "wheel");
        if (archive_write_header(writer, entry.get()) < ARCHIVE_WARN)
            fail(relative + u": "_s + QString::fromUtf8(archive_error_string(writer)));
        if (archive_entry_filetype(entry.get()) == AE_IFREG) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                fail(u"cannot read "_s + path);
            const QByteArray bytes = file.readAll();
            if (!bytes.isEmpty() && archive_write_data(writer, bytes.constData(), size_t(bytes.size())) < 0)
                fail(relative + u": "_s + QString::fromUtf8(archive_error_string(writer)));
        }
    }
}

} // namespace

void writePayload(const QString& archivePath, const QStringList& items)
{
    WritePtr writer(archive_write_new(), archive_write_free);
    archive_write_set_format_pax_restricted(writer.get());
    archive_write_add_filter_gzip(writer.get());
    if (archive_write_open_filename(writer.get(), QFile::encodeName(archivePath).constData()) != ARCHIVE_OK)
        fail(archivePath + u": "_s + QString::fromUtf8(archive_error_string(writer.get())));
    for (const QString& item : items)
        addTree(writer.get(), item);
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        fail(archivePath + u": cannot finish"_s);
}

const SigningIdentity& identity(const TestPKI& pki, PackageSpec::Signer signer)
{
    switch (signer) {
    case PackageSpec::Signer::otherTeam:
        return pki.otherTeamInstaller();
    case PackageSpec::Signer::application:
        return pki.maker();
    case PackageSpec::Signer::foreign:
        return pki.foreign();
    case PackageSpec::Signer::maker:
    case PackageSpec::Signer::none:
        break;
    }
    return pki.makerInstaller();
}

void build(const QString& package, const QStringList& items, const PackageSpec& recipe, const TestPKI& pki)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        fail(u"no temporary folder"_s);
    const QString members = scratch.path();
    writeFile(members + u"/PackageInfo"_s,
              QString(u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<pkg-info format-version=\"2\" identifier=\""_s
                      + recipe.identifier.toHtmlEscaped() + u"\" version=\""_s + recipe.version.toHtmlEscaped()
                      + u"\" install-location=\""_s + recipe.installLocation.toHtmlEscaped()
                      + u"\" auth=\"root\">\n  <payload numberOfFiles=\"1\"/>\n</pkg-info>\n"_s)
                  .toUtf8());
    writePayload(members + u"/Payload"_s, items);

    if (recipe.signer != PackageSpec::Signer::none) {
        const QByteArray manifest = PackageArchive::manifest(members);
        writeFile(members + u"/Signature"_s, signDetached(manifest, identity(pki, recipe.signer)));
        if (recipe.ticket)
            writeFile(members + u"/Ticket"_s, PackageArchive::ticketText(manifest));
    }
    if (recipe.tamper) {
        // An extra file slipped into the payload after signing, as an
        // attacker who rewrote the download would do.
        QTemporaryDir extra;
        writeFile(extra.filePath(u"Injected.txt"_s), "not the maker's\n");
        QStringList tampered = items;
        tampered.append(extra.filePath(u"Injected.txt"_s));
        QFile::remove(members + u"/Payload"_s);
        writePayload(members + u"/Payload"_s, tampered);
    }
    QFile::remove(package);
    PackageArchive::flatten(members, package);
}

void buildRaw(const QString& package, const QList<QPair<QString, QByteArray>>& members)
{
    WritePtr writer(archive_write_new(), archive_write_free);
    archive_write_set_format_xar(writer.get());
    if (archive_write_open_filename(writer.get(), QFile::encodeName(package).constData()) != ARCHIVE_OK)
        fail(package + u": cannot create"_s);
    for (const auto& [name, bytes] : members) {
        const std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                                  archive_entry_free);
        archive_entry_set_pathname(entry.get(), QFile::encodeName(name).constData());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), bytes.size());
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK
            || archive_write_data(writer.get(), bytes.constData(), size_t(bytes.size())) < 0)
            fail(package + u": cannot write "_s + name);
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        fail(package + u": cannot finish"_s);
}

void diskImage(const QString& image, const QList<QPair<QString, QByteArray>>& entries)
{
    WritePtr writer(archive_write_new(), archive_write_free);
    archive_write_set_format_zip(writer.get());
    if (archive_write_open_filename(writer.get(), QFile::encodeName(image).constData()) != ARCHIVE_OK)
        fail(image + u": cannot create"_s);
    for (const auto& [name, bytes] : entries) {
        const std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                                  archive_entry_free);
        const bool folder = name.endsWith(u'/');
        archive_entry_set_pathname(entry.get(), QFile::encodeName(name).constData());
        archive_entry_set_filetype(entry.get(), folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry.get(), folder ? 0755 : 0644);
        archive_entry_set_size(entry.get(), folder ? 0 : bytes.size());
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK
            || (!folder && archive_write_data(writer.get(), bytes.constData(), size_t(bytes.size())) < 0))
            fail(image + u": cannot write "_s + name);
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        fail(image + u": cannot finish"_s);
}

} // namespace Hub::Test::PackageBuilder
