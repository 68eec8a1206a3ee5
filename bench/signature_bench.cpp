// How fast a signed bundle of 200 files totalling 200 MB verifies, beside
// `sha256sum` over the same files in the same run (warm page cache for both:
// the files were just written). Goal: verification within 1.5x of
// sha256sum's time.
//
// Run by hand: build/bench/signature_bench [folder for the 200 MB bundle]
#include "BundleSigner.h"
#include "TestPKI.h"

#include "Catalog/HubError.h"
#include "Installer/CodeResources.h"
#include "Installer/CodeSignature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int kFiles = 200;
constexpr qint64 kTotalBytes = 200LL * 1024 * 1024;
constexpr int kRounds = 5;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Sizes vary around the mean so that both small and large reads are measured.
QStringList writeBundle(const QString& bundle)
{
    QStringList files;
    QRandomGenerator random(42);
    std::vector<qint64> sizes(kFiles);
    qint64 sum = 0;
    for (int i = 0; i < kFiles; ++i) {
        sizes[size_t(i)] = 1 + random.bounded(2 * (kTotalBytes / kFiles));
        sum += sizes[size_t(i)];
    }
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < kFiles; ++i) {
        const qint64 size = std::max<qint64>(1, sizes[size_t(i)] * kTotalBytes / sum);
        const QString path = bundle + u"/Contents/Resources/part-"_s + QString::number(i).rightJustified(3, u'0') + u".bin"_s;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        for (qint64 written = 0; written < size;) {
            random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
            const qint64 chunk = std::min<qint64>(block.size(), size - written);
            file.write(block.constData(), chunk);
            written += chunk;
        }
        files << path;
    }
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir scratch(argc > 1 ? QString::fromLocal8Bit(argv[1]) + u"/signature_bench-XXXXXX"_s : QString());
    if (!scratch.isValid())
        qFatal("no scratch folder");
    const QString bundle = scratch.filePath(u"Bench.vst3"_s);

    const Hub::Test::TestPKI pki;
    std::printf("writing %d files, %lld MB...\n", kFiles, kTotalBytes >> 20);
    const QStringList files = writeBundle(bundle);

    auto start = Clock::now();
    Hub::Test::signBundle(bundle, pki.maker(), u"com.tarnaudio.bench"_s);
    const double signSeconds = secondsSince(start);

    std::vector<double> verify;
    std::vector<double> sha256sum;
    std::vector<double> oneThread;
    for (int round = 0; round < kRounds; ++round) {
        start = Clock::now();
        try {
            Hub::CodeSignature::verify(bundle, u"com.tarnaudio.bench"_s, false, pki.anchors());
        } catch (const Hub::HubError& error) {
            qFatal("verification failed: %s", error.what());
        }
        verify.push_back(secondsSince(start));

        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        start = Clock::now();
        process.start(u"sha256sum"_s, files);
        if (!process.waitForFinished(-1) || process.exitCode() != 0)
            qFatal("sha256sum failed");
        sha256sum.push_back(secondsSince(start));

        // The same digests one file at a time, on one thread: what the
        // hashing itself costs, apart from the parallel reads.
        start = Clock::now();
        for (const QString& file : files)
            Hub::CodeResources::digest(bundle, {QDir(bundle).relativeFilePath(file)});
        oneThread.push_back(secondsSince(start));
    }

    const double mb = double(kTotalBytes) / (1024 * 1024);
    const double v = median(verify);
    const double s = median(sha256sum);
    std::printf("sign (test signer):    %7.3f s\n", signSeconds);
    std::printf("verify (median of %d): %7.3f s  %8.1f MB/s\n", kRounds, v, mb / v);
    std::printf("sha256sum (median):    %7.3f s  %8.1f MB/s\n", s, mb / s);
    std::printf("digests, one thread:   %7.3f s  %8.1f MB/s\n", median(oneThread), mb / median(oneThread));
    std::printf("verify / sha256sum:    %7.2fx  (goal <= 1.50x: %s)\n", v / s, v / s <= 1.5 ? "met" : "missed");
    return 0;
}
