// signature_bench's other side: one verification in a process of its own,
// as the installer meets a bundle (no earlier check has warmed the process's
// allocator or caches). Exits 0 when the bundle verifies, 1 when it does not,
// 2 on bad arguments.
//
// usage: signature_bench_verify BUNDLE IDENTIFIER ANCHOR.pem TIMESTAMP-ANCHOR.pem
#include "Base/HubError.h"
#include "Installer/Signing/CodeSignature.h"

#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: signature_bench_verify BUNDLE IDENTIFIER ANCHOR.pem TIMESTAMP-ANCHOR.pem\n");
        return 2;
    }
    const auto readAll = [](const char* path) {
        QFile file(QFile::decodeName(path));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "signature_bench_verify: can't read %s\n", path);
            std::exit(2);
        }
        return file.readAll();
    };
    const Hub::TrustAnchors anchors = Hub::TrustAnchors::fromPem(readAll(argv[3]), readAll(argv[4]));
    try {
        Hub::CodeSignature::verify(QFile::decodeName(argv[1]), QString::fromUtf8(argv[2]), false, anchors);
    } catch (const Hub::HubError& error) {
        std::fprintf(stderr, "signature_bench_verify: %s\n", error.what());
        return 1;
    }
    return 0;
}
