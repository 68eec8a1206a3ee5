// How fast a signed bundle of 200 MB verifies on one processor, beside
// `openssl dgst -sha256` over the same files on the same processor in the
// same run: reading and hashing every byte once is the limit. Half of the
// bytes lie in nested code (a framework inside the plug-in), so a check that
// read nested files a second time would show as about 1.5x.
//
// The process pins itself to one processor, so the check hashes on one
// thread and openssl (a child, which inherits the pinning) competes on equal
// terms. Each round runs both, every other round in reverse order; the
// ratio is taken pair by pair and its minimum and median printed. Both sides
// are whole processes, timed from start to exit: the check runs in a fresh
// signature_bench_verify each time, as the installer meets a bundle, and as
// openssl runs. The page cache is warm for both: the files were just
// written and read once.
//
// Goal: verification within 1.0x of openssl, judged on the median of the pairs.
//
// Run by hand: build/bench/signature_bench [folder for the 200 MB bundle] [rounds, default 7]
#include "BundleSigner.h"
#include "PairStats.h"
#include "TestPKI.h"


#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include <sched.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kFilesPerPart = 100;
constexpr qint64 kBytesPerPart = 100LL * 1024 * 1024;

using Bench::Clock;
using Bench::secondsSince;
using Bench::Stats;
using Bench::stats;

// Files of varying size (so that both small and large reads count) adding up
// to `total` bytes, below `folder`.
void writeFiles(const QString& folder, int count, qint64 total, quint32 seed)
{
    QRandomGenerator random(seed);
    std::vector<qint64> sizes(static_cast<size_t>(count));
    qint64 sum = 0;
    for (qint64& size : sizes) {
        size = 1 + random.bounded(2 * (total / count));
        sum += size;
    }
    QByteArray block(1 << 20, Qt::Uninitialized);
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        const qint64 size = std::max<qint64>(1, sizes[size_t(i)] * total / sum);
        const QString path = folder + u"/part-"_s + QString::number(i).rightJustified(3, u'0') + u".bin"_s;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        for (qint64 written = 0; written < size;) {
            random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
            const qint64 chunk = std::min<qint64>(block.size(), size - written);
            file.write(block.constData(), chunk);
            written += chunk;
        }
    }
}

// Every regular file of the bundle, signature files included: the bytes
// that verification reads.
QStringList regularFiles(const QString& bundle)
{
    QStringList files;
    QDirIterator it(bundle, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

bool pinToOneProcessor()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return false;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            return ::sched_setaffinity(0, sizeof one, &one) == 0;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir scratch(argc > 1 ? QString::fromLocal8Bit(argv[1]) + u"/signature_bench-XXXXXX"_s : QString());
    if (!scratch.isValid())
        qFatal("no scratch folder");
    const int rounds = std::max(5, argc > 2 ? std::atoi(argv[2]) : 7);
    const QString bundle = scratch.filePath(u"Bench.vst3"_s);
    const QString nested = bundle + u"/Contents/Frameworks/Engine.framework"_s;

    const Hub::Test::TestPKI pki;
    std::printf("writing %d files, %lld MB, half of them in nested code...\n", 2 * kFilesPerPart,
                (2 * kBytesPerPart) >> 20);
    writeFiles(bundle + u"/Contents/Resources"_s, kFilesPerPart, kBytesPerPart, 42);
    writeFiles(nested + u"/Contents/Resources"_s, kFilesPerPart, kBytesPerPart, 43);
    // Signs the framework first, then the plug-in around it.
    Hub::Test::signBundle(bundle, pki.maker(), u"com.tarnaudio.bench"_s);
    const QStringList files = regularFiles(bundle);

    const QString anchor = scratch.filePath(u"anchor.pem"_s);
    const QString timeStampAnchor = scratch.filePath(u"timestamp-anchor.pem"_s);
    for (const auto& [path, pem] : {std::pair{anchor, pki.anchorPem()}, std::pair{timeStampAnchor, pki.timeStampAnchorPem()}}) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(pem) != pem.size())
            qFatal("cannot write %s", qPrintable(path));
    }
    const QString verifier = QFileInfo(QFileInfo(u"/proc/self/exe"_s).symLinkTarget()).dir().filePath(
        u"signature_bench_verify"_s);

    if (!pinToOneProcessor())
        qFatal("cannot pin this process to one processor");

    // Each side a whole process, started and reaped the same way.
    const auto timed = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        const auto start = Clock::now();
        process.start(program, arguments);
        if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            qFatal("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return secondsSince(start);
    };
    const auto verify = [&] {
        return timed(verifier, {bundle, u"com.tarnaudio.bench"_s, anchor, timeStampAnchor});
    };
    const auto openssl = [&] { return timed(u"openssl"_s, QStringList{u"dgst"_s, u"-sha256"_s} + files); };

    verify(); // warms the page cache and checks the fixture
    std::vector<double> verifying, hashing, ratios;
    for (int round = 0; round < rounds; ++round) {
        double v = 0;
        double h = 0;
        if (round % 2) {
            h = openssl();
            v = verify();
        } else {
            v = verify();
            h = openssl();
        }
        verifying.push_back(v);
        hashing.push_back(h);
        ratios.push_back(v / h);
    }

    const double mb = double(2 * kBytesPerPart) / (1024 * 1024);
    const Stats v = stats(verifying);
    const Stats h = stats(hashing);
    const Stats r = stats(ratios);
    std::printf("%d rounds on one processor, %zu files:\n", rounds, size_t(files.size()));
    std::printf("  verify (a fresh process)   min %6.3f s  median %6.3f s  %7.1f MB/s\n", v.min, v.median, mb / v.median);
    std::printf("  openssl dgst -sha256       min %6.3f s  median %6.3f s  %7.1f MB/s\n", h.min, h.median, mb / h.median);
    std::printf("  verify / openssl           min %6.2fx median %6.2fx\n", r.min, r.median);
    std::printf("goal: verify within 1.00x of openssl dgst (median of pairs): %.2fx, %s\n", r.median,
                r.median <= 1.0 ? "met" : "missed");
    return 0;
}
