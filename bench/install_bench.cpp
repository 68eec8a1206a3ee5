// How long an install of a product of two formats (VST3 and AU, artifacts of
// 300 MB together, served over https from 127.0.0.1) takes, beside a shell
// pipeline doing the same transfer work in the same run: curl, sha256sum,
// unzip and mv per artifact. The installer does more (signature checks of
// the staged bundles, backups); the goal is to stay within 1.3x of the
// pipeline. It also reports this process's peak memory after an install of
// 30 MB and after one of 300 MB: streaming downloads keep it level.
//
// Run by hand: build/bench/install_bench [scratch folder, default /var/tmp]
#include "BundleFactory.h"
#include "BundleSigner.h"
#include "TestHttpsServer.h"
#include "TestPKI.h"
#include "ToolsPaths.h"

#include "Catalog/CatalogRecords.h"
#include "Catalog/Machine.h"
#include "Installer/InstallLocations.h"
#include "Installer/PluginInstaller.h"
#include "Installer/Shell.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 2;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

long peakKiB(int who)
{
    rusage usage{};
    getrusage(who, &usage);
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

struct Fixture {
    QString bundle;  // "Echo.vst3"
    QString archive; // the zip on disk
};

// Builds, signs and zips one bundle of about `bytes`; runs in a child
// process so that nothing it reads counts towards the installer's memory.
bool makeFixture(const QString& folder, const QString& name, const QString& version, qint64 bytes,
                 const Hub::Test::TestPKI& pki)
{
    Hub::Test::BundleSpec recipe;
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

QString fileDigest(const QString& path) { return Hub::Installer::fileSHA256(path); }

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

const char kPipeline[] = R"(set -e
ca="$1"; dest="$2"; work="$3"; shift 3
while [ $# -gt 0 ]; do
    url="$1"; sum="$2"; bundle="$3"; shift 3
    curl -sS --fail --cacert "$ca" -o "$work/a.zip" "$url"
    echo "$sum  $work/a.zip" | sha256sum -c --quiet
    rm -rf "$work/unpacked"
    unzip -q "$work/a.zip" -d "$work/unpacked"
    rm -f "$work/a.zip"
    mkdir -p "$dest"
    rm -rf "$dest/$bundle"
    mv "$work/unpacked/$bundle" "$dest/$bundle"
done
)";

struct Run {
    double installer = 1e9;
    double pipeline = 1e9;
    long peakAfterKiB = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"/var/tmp"_s;
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
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        bool ok = true;
        for (const qint64 total : totals) {
            const QString folder = files + u'/' + QString::number(total >> 20);
            ok = ok && makeFixture(folder, u"Echo.vst3"_s, u"2.1.0"_s, total * 6 / 10, pki)
                 && makeFixture(folder, u"Echo.component"_s, u"2.1.0"_s, total * 4 / 10, pki);
        }
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "making the fixtures failed\n");
        return 1;
    }

    Hub::Test::TestHttpsServer server;
    serveFolder(server, files);

    std::vector<Run> runs;
    for (const qint64 total : totals) {
        const QString mb = QString::number(total >> 20);
        Hub::Product product;
        product.id = u"echo"_s;
        product.name = u"Echo"_s;
        Hub::Release release;
        release.version = u"2.1.0"_s;
        std::vector<Hub::Artifact> artifacts;
        QStringList pipelineArguments{server.caBundle(), QString(), QString()};
        for (const QString& name : {u"Echo.vst3"_s, u"Echo.component"_s}) {
            const QString zip = files + u'/' + mb + u'/' + name + u".zip"_s;
            Hub::Artifact artifact;
            artifact.format = *Hub::pluginFormatFromBundleName(name);
            artifact.bundle = name;
            artifact.bundleID = u"com.tarnaudio.echo"_s;
            artifact.url = server.url(u"/files/"_s + mb + u'/' + name + u".zip"_s).toString();
            artifact.sha256 = fileDigest(zip);
            artifact.size = QFileInfo(zip).size();
            artifact.archs = QStringList{Hub::Machine::cpu()};
            if (artifact.format == Hub::PluginFormat::au)
                artifact.au = Hub::AUDescriptor{u"aufx"_s, u"Echo"_s, u"Tarn"_s};
            artifacts.push_back(artifact);
            pipelineArguments << artifact.url << artifact.sha256 << name;
        }
        release.artifacts = artifacts;

        Run run;
        for (int round = 0; round < kRounds; ++round) {
            const QString home = scratch.filePath(u"home-"_s + mb + u'-' + QString::number(round));
            const Hub::InstallRoots roots = Hub::InstallLocations::isolatedRoots(home);
            Hub::PluginInstaller installer(
                std::make_shared<AlwaysListed>(), false, 5.0,
                [&server] { return Hub::Http::Session{server.caBundle(), {}}; }, {},
                Hub::PrivilegedRunner::moveInto(scratch.filePath(u"trash"_s)),
                Hub::PrivilegedRunner::runAsCurrentUser);
            installer.tools = Hub::Test::buildTreeTools();
            installer.anchors = pki.anchors();

            const auto started = Clock::now();
            try {
                installer.install(product, release, {Hub::PluginFormat::vst3, Hub::PluginFormat::au},
                                  Hub::InstallScope::user, roots, {});
            } catch (const std::exception& error) {
                std::fprintf(stderr, "install failed: %s\n", error.what());
                return 1;
            }
            run.installer = std::min(run.installer, secondsSince(started));
            std::filesystem::remove_all(QFile::encodeName(home).toStdString());

            const QString shellHome = scratch.filePath(u"shell-"_s + mb + u'-' + QString::number(round));
            QDir().mkpath(shellHome + u"/work"_s);
            QStringList arguments{u"-c"_s, QString::fromUtf8(kPipeline), u"pipeline"_s};
            QStringList values = pipelineArguments;
            values[1] = shellHome + u"/plugins"_s;
            values[2] = shellHome + u"/work"_s;
            arguments += values;
            const auto shellStarted = Clock::now();
            const Hub::Shell::Result result = Hub::Shell::run(u"/bin/sh"_s, arguments, 600);
            if (result.status != 0) {
                std::fprintf(stderr, "pipeline failed: %s\n", qPrintable(result.output));
                return 1;
            }
            run.pipeline = std::min(run.pipeline, secondsSince(shellStarted));
            std::filesystem::remove_all(QFile::encodeName(shellHome).toStdString());
        }
        run.peakAfterKiB = peakKiB(RUSAGE_SELF);
        runs.push_back(run);
        std::printf("%4s MB: installer %.2f s, shell pipeline %.2f s, ratio %.2fx; peak memory of this process %ld KiB\n",
                    qPrintable(mb), run.installer, run.pipeline, run.installer / run.pipeline, run.peakAfterKiB);
        std::fflush(stdout);
    }
    std::printf("peak memory grew by %ld KiB from the 30 MB to the 300 MB install; largest child process %ld KiB "
                "(the fixture maker, ditto, the pipeline's tools)\n",
                runs[1].peakAfterKiB - runs[0].peakAfterKiB, peakKiB(RUSAGE_CHILDREN));
    std::printf("goal: ratio at 300 MB within 1.3x: %s\n", runs[1].installer / runs[1].pipeline <= 1.3 ? "met" : "missed");
    return 0;
}
