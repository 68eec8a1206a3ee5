// Downloads, backups and disk images are unpacked by SecureExtract. The
// first byte picks the formats allowed, the rest is the archive. Any bytes
// must be refused with its error or unpacked so that nothing lands outside
// the folder and nothing is written that the check did not list.
#include "Platform/SecureExtract.h"

#include "FuzzSupport.h"

#include <QDir>

namespace SecureExtract = Hub::SecureExtract;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Hub::Fuzz::Scratch scratch;
    if (size < 1)
        return 0;
    const SecureExtract::Formats formats = data[0] & 1 ? SecureExtract::Formats::zipOrTar : SecureExtract::Formats::zip;
    scratch.write("archive", Hub::Fuzz::bytesOf(data + 1, size - 1));
    try {
        const SecureExtract::Checked checked = SecureExtract::check(scratch.path("archive"), formats);
        QDir().mkdir(scratch.path("out"));
        try {
            SecureExtract::extract(checked, scratch.path("out"));
        } catch (const SecureExtract::Error&) {
        }
        if (scratch.topLevel() != QStringList{QStringLiteral("archive"), QStringLiteral("out")})
            Hub::Fuzz::finding("an entry landed outside the folder");
        for (const QString& path : scratch.treeBelow("out")) {
            if (!checked.made().contains(path))
                Hub::Fuzz::finding("extraction wrote a path the check did not list:",
                                   path + QStringLiteral(" listed: ") + checked.made().join(u','));
        }
    } catch (const SecureExtract::Error&) {
    }
    scratch.clear();
    return 0;
}
