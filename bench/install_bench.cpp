// How long an install of a product of two formats (VST3 and AU, artifacts of
// 300 MB together, served over https from 127.0.0.1) takes, beside a shell
// pipeline doing the same transfer work in the same run: curl, a SHA-256
// check, unzip and mv per artifact. The pipeline runs twice per round, once
// checking with sha256sum and once with `openssl dgst -sha256`, which uses
// the processor's SHA instructions where sha256sum may not: that one is the
// honest anchor. The bare download (curl of the same bytes to /dev/null) is
// the second anchor: the floor no install can go below. An update (the same
// release installed over an installed copy, so with backups) is measured
// beside the fresh install.
//
// Each round runs the five in turn, and every other round in reverse order,
// so that a machine whose speed drifts favours neither; the ratios are taken
// pair by pair within a round, and their minimum and median are printed.
//
// Goals, judged on the median of the pairs: fresh install at most 0.7x the
// openssl pipeline and at most 2.5x the bare download; update within 1.5x of
// the fresh install. Memory: this process's peak after the 30 MB and
// the 300 MB installs (streaming keeps it level), and apart from it the peak
// of the pipeline's process tree and of the fixture maker.
//
// Run by hand: build/bench/install_bench [scratch folder, default /var/tmp] [rounds, default 5]
#include "BundleFactory.h"
#include "BundleSigner.h"
#include "PairStats.h"
#include "TestHttpsServer.h"
#include "TestPKI.h"
#include "ToolsPaths.h"

#include "Base/Machine.h"
#include "Base/Process.h"
#include "Catalog/CatalogRecords.h"
#include "Installer/InstallLocations.h"
#include "Installer/PluginInstaller.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Bench::Clock;
using Bench::secondsSince;
using Bench::Stats;
using Bench::stats;

long selfPeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class AlwaysListed : public Hub::AURegistry {
public:
    bool refreshAndWait(const Hub::AUDescriptor&, double) override { return true; }
};

// Writes `bytes` of incompressible data without holding them in memory.
bool writeNoise(const QString& path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::vector<quint64> chunk(1 << 17); // 1 MiB
    quint64 state = 0x9e3779b97f4a7c15ull ^ quint64(bytes);
    while (bytes > 0) {
        for (quint64& word : chunk) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const qint64 n = std::min<qint64>(bytes, qint64(chunk.size() * sizeof(quint64)));
        if (file.write(reinterpret_cast<const char*>(chunk.data()), n) != n)
            return false;
        bytes -= n;
    }
    return file.flush();
}

// Builds, signs and zips one bundle of about `bytes`.
bool makeFixture(const QString& folder, const QString& name, const QString& version, qint64 bytes,
                 const Hub::Test::TestPKI& pki)
{
    Hub::Test::BundlePlan recipe;
    recipe.name = name;
    recipe.bundleID = u"com.tarnaudio.echo"_s;
    recipe.shortVersion = version;
    if (name.endsWith(u".component"_s))
        recipe.withComponent(u"aufx"_s, u"Echo"_s, u"Tarn"_s);
    const QString bundle = Hub::Test::BundleFactory::create(folder, recipe);
    QDir().mkpath(bundle + u"/Contents/Resources"_s);
    if (!writeNoise(bundle + u"/Contents/Resources/samples.bin"_s, bytes))
        return false;
    Hub::Test::signBundle(bundle, pki.maker());
    const Hub::Shell::Result zipped = Hub::Shell::run(
        Hub::Test::buildTreeTools().ditto, {u"-c"_s, u"-k"_s, u"--keepParent"_s, bundle, folder + u"/" + name + u".zip"_s},
        600);
    return zipped.status == 0;
}

// Runs `work` in a child process and waits for it; returns whether it
// succeeded and the peak memory of the child's whole process tree.
bool inChild(const std::function<bool()>& work, long* peakKiB)
{
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work() ? 0 : 1);
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child)
        return false;
    *peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Serves files from disk in 1 MiB pieces, so the server's memory stays flat too.
void serveFolder(Hub::Test::TestHttpsServer& server, const QString& folder)
{
    server.get("/files/(.+)", [folder](const httplib::Request& request, httplib::Response& response) {
        const QString path = folder + u'/' + QString::fromStdString(request.matches[1].str());
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            response.status = 404;
            return;
        }
        const off_t size = ::lseek(fd, 0, SEEK_END);
        auto buffer = std::make_shared<std::vector<char>>(1 << 20);
        response.set_content_provider(
            std::size_t(size), "application/zip",
            [fd, buffer](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                const ssize_t got = ::pread(fd, buffer->data(), std::min(length, buffer->size()), off_t(offset));
                return got > 0 && sink.write(buffer->data(), std::size_t(got));
            },
            [fd](bool) { ::close(fd); });
    });
}

// What a user would write: per artifact download, check, unpack, move. The
// first argument chooses the checker, or "download" for the download alone.
const char kPipeline[] = R"sh(set -e
hash="$1"; ca="$2"; dest="$3"; work="$4"; shift 4
while [ $# -gt 0 ]; do
    url="$1"; sum="$2"; bundle="$3"; shift 3
    if [ "$hash" = download ]; then
        curl -sS --fail --cacert "$ca" -o /dev/null "$url"
        continue
    fi
    curl -sS --fail --cacert "$ca" -o "$work/a.zip" "$url"
    if [ "$hash" = openssl ]; then
        got="$(openssl dgst -sha256 -r "$work/a.zip")"
        [ "${got%% *}" = "$sum" ]
    else
        echo "$sum  $work/a.zip" | sha256sum -c --quiet
    fi
    rm -rf "$work/unpacked"
    unzip -q "$work/a.zip" -d "$work/unpacked"
    rm -f "$work/a.zip"
    mkdir -p "$dest"
    rm -rf "$dest/$bundle"
    mv "$work/unpacked/$bundle" "$dest/$bundle"
done
)sh";

void removeTree(const QString& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(path).toStdString(), ignored);
}

struct Case {
    QString mb;
    Hub::Release release;
    QStringList pipelineArguments; // url, sha256, bundle per artifact
};

} // namespace

int main(int argc, char** argv)
{
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"/var/tmp"_s;
    const int rounds = std::max(5, argc > 2 ? std::atoi(argv[2]) : 5);
    QTemporaryDir scratch(base + u"/install_bench-XXXXXX"_s);
    if (!scratch.isValid()) {
        std::fprintf(stderr, "can't make a scratch folder in %s\n", qPrintable(base));
        return 1;
    }
    const Hub::Test::TestPKI pki;
    const std::vector<qint64> totals{30LL << 20, 300LL << 20};
    const QString files = scratch.filePath(u"files"_s);

    // The fixtures: one VST3 of 60 % and one AU of 40 % of each total.
    std::printf("making fixtures in %s ...\n", qPrintable(scratch.path()));
    long fixturePeakKiB = 0;
    const bool made = inChild(
        [&] {
            bool ok = true;
            for (const qint64 total : totals) {
                const QString folder = files + u'/' + QString::number(total >> 20);
                ok = ok && makeFixture(folder, u"Echo.vst3"_s, u"2.1.0"_s, total * 6 / 10, pki)
                     && makeFixture(folder, u"Echo.component"_s, u"2.1.0"_s, total * 4 / 10, pki);
            }
            return ok;
        },
        &fixturePeakKiB);
    if (!made) {
        std::fprintf(stderr, "making the fixtures failed\n");
        return 1;
    }

    Hub::Test::TestHttpsServer server;
    serveFolder(server, files);

    Hub::Product product;
    product.id = u"echo"_s;
    product.name = u"Echo"_s;

    const auto rootsIn = [](const QString& home) { return Hub::InstallLocations::isolatedRoots(home); };
    Hub::PluginInstaller installer(
        std::make_shared<AlwaysListed>(), false, 5.0, [&server] { return Hub::Http::Session{server.caBundle(), {}}; },
        {}, Hub::PrivilegedRunner::moveInto(scratch.filePath(u"trash"_s)), Hub::PrivilegedRunner::runAsCurrentUser);
    installer.tools = Hub::Test::buildTreeTools();
    installer.anchors = pki.anchors();

    // Seconds for the whole install and for its placement step (from
    // `installing` to `done`: backups, swaps, checks of the placed bundles).
    const auto install = [&](const Case& c, const QString& home) {
        const auto started = Clock::now();
        Clock::time_point placing = started;
        installer.install(product, c.release, {Hub::PluginFormat::vst3, Hub::PluginFormat::au},
                          Hub::InstallScope::user, rootsIn(home), [&](const Hub::InstallStep& step) {
                              if (step.kind == Hub::InstallStep::Kind::installing)
                                  placing = Clock::now();
                          });
        return std::pair{secondsSince(started), secondsSince(placing)};
    };

    long pipelinePeakKiB = 0;
    const auto pipeline = [&](const Case& c, const char* hash, const QString& home) {
        QDir().mkpath(home + u"/work"_s);
        QList<QByteArray> words{"/bin/sh", "-c", kPipeline, "pipeline", hash, QFile::encodeName(server.caBundle()),
                                QFile::encodeName(home + u"/plugins"_s), QFile::encodeName(home + u"/work"_s)};
        for (const QString& argument : c.pipelineArguments)
            words.append(argument.toUtf8());
        std::vector<char*> pointers;
        for (QByteArray& word : words)
            pointers.push_back(word.data());
        pointers.push_back(nullptr);

        long peak = 0;
        const auto started = Clock::now();
        const bool ok = inChild(
            [&] {
                ::execv("/bin/sh", pointers.data());
                return false;
            },
            &peak);
        const double seconds = secondsSince(started);
        if (!ok)
            throw std::runtime_error(std::string("the ") + hash + " pipeline failed");
        pipelinePeakKiB = std::max(pipelinePeakKiB, peak);
        removeTree(home);
        return seconds;
    };

    std::vector<long> installerPeaks;
    double updateRatioAtLargest = 0;
    double freshRatioAtLargest = 0;
    double floorRatioAtLargest = 0;
    for (const qint64 total : totals) {
        Case c;
        c.mb = QString::number(total >> 20);
        c.release.version = u"2.1.0"_s;
        std::vector<Hub::Artifact> artifacts;
        for (const QString& name : {u"Echo.vst3"_s, u"Echo.component"_s}) {
            const QString zip = files + u'/' + c.mb + u'/' + name + u".zip"_s;
            Hub::Artifact artifact;
            artifact.format = *Hub::pluginFormatFromBundleName(name);
            artifact.bundle = name;
            artifact.bundleID = u"com.tarnaudio.echo"_s;
            artifact.url = server.url(u"/files/"_s + c.mb + u'/' + name + u".zip"_s).toString();
            artifact.sha256 = Hub::Installer::fileSHA256(zip);
            artifact.size = QFileInfo(zip).size();
            artifact.archs = QStringList{Hub::Machine::cpu()};
            if (artifact.format == Hub::PluginFormat::au)
                artifact.au = Hub::AUDescriptor{u"aufx"_s, u"Echo"_s, u"Tarn"_s};
            artifacts.push_back(artifact);
            c.pipelineArguments << artifact.url << artifact.sha256 << name;
        }
        c.release.artifacts = artifacts;

        // The update home keeps an installed copy from one round to the next.
        const QString updateHome = scratch.filePath(u"update-"_s + c.mb);
        std::vector<double> freshVsOpenssl, freshVsSha256sum, freshVsDownload, updateVsFresh;
        std::vector<double> fresh, update, viaOpenssl, viaSha256sum, download, freshPlacing, updatePlacing;
        try {
            install(c, updateHome);
            for (int round = 0; round < rounds; ++round) {
                const QString freshHome = scratch.filePath(u"fresh-"_s + c.mb);
                std::vector<std::function<void()>> steps{
                    [&] {
                        const auto [seconds, placing] = install(c, freshHome);
                        fresh.push_back(seconds);
                        freshPlacing.push_back(placing);
                        removeTree(freshHome);
                    },
                    [&] { viaOpenssl.push_back(pipeline(c, "openssl", scratch.filePath(u"shell"_s))); },
                    [&] { viaSha256sum.push_back(pipeline(c, "sha256sum", scratch.filePath(u"shell"_s))); },
                    [&] { download.push_back(pipeline(c, "download", scratch.filePath(u"shell"_s))); },
                    [&] {
                        const auto [seconds, placing] = install(c, updateHome);
                        update.push_back(seconds);
                        updatePlacing.push_back(placing);
                    },
                };
                if (round % 2)
                    std::reverse(steps.begin(), steps.end());
                for (const auto& step : steps)
                    step();
                freshVsOpenssl.push_back(fresh.back() / viaOpenssl.back());
                freshVsSha256sum.push_back(fresh.back() / viaSha256sum.back());
                freshVsDownload.push_back(fresh.back() / download.back());
                updateVsFresh.push_back(update.back() / fresh.back());
            }
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s MB: %s\n", qPrintable(c.mb), error.what());
            return 1;
        }
        removeTree(updateHome);
        installerPeaks.push_back(selfPeakKiB());

        const auto line = [&](const char* what, const std::vector<double>& seconds) {
            const Stats s = stats(seconds);
            std::printf("  %-26s min %6.2f s  median %6.2f s\n", what, s.min, s.median);
        };
        const auto ratio = [&](const char* what, const std::vector<double>& ratios) {
            const Stats s = stats(ratios);
            std::printf("  %-26s min %6.2fx median %6.2fx\n", what, s.min, s.median);
            return s.median;
        };
        std::printf("%s MB, %d rounds:\n", qPrintable(c.mb), rounds);
        line("fresh install", fresh);
        line("  its placement step", freshPlacing);
        line("update install", update);
        line("  its placement step", updatePlacing);
        line("pipeline, openssl dgst", viaOpenssl);
        line("pipeline, sha256sum", viaSha256sum);
        line("bare download", download);
        const double freshRatio = ratio("fresh / openssl pipeline", freshVsOpenssl);
        ratio("fresh / sha256sum pipeline", freshVsSha256sum);
        const double floorRatio = ratio("fresh / bare download", freshVsDownload);
        const double updateRatio = ratio("update / fresh", updateVsFresh);
        if (total == totals.back()) {
            freshRatioAtLargest = freshRatio;
            floorRatioAtLargest = floorRatio;
            updateRatioAtLargest = updateRatio;
        }
        std::fflush(stdout);
    }

    std::printf("peak memory: this process %ld KiB after 30 MB, %ld KiB after 300 MB (grew %ld KiB); "
                "pipeline's process tree %ld KiB; fixture maker %ld KiB\n",
                installerPeaks[0], installerPeaks[1], installerPeaks[1] - installerPeaks[0], pipelinePeakKiB,
                fixturePeakKiB);
    std::printf("goal: fresh install at most 0.70x the openssl pipeline (median of pairs at 300 MB): %.2fx, %s\n",
                freshRatioAtLargest, freshRatioAtLargest <= 0.7 ? "met" : "missed");
    std::printf("goal: fresh install at most 2.50x the bare download (median of pairs at 300 MB): %.2fx, %s\n",
                floorRatioAtLargest, floorRatioAtLargest <= 2.5 ? "met" : "missed");
    std::printf("goal: update within 1.50x of the fresh install (median of pairs at 300 MB): %.2fx, %s\n",
                updateRatioAtLargest, updateRatioAtLargest <= 1.5 ? "met" : "missed");
    return 0;
}
