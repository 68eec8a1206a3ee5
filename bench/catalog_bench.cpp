// How long a catalog of 2,000 products takes to decode and to load from the
// local copies (cached + built-in, with the feed overlay), per call and per
// product. Loading decodes both copies, so its per-product figure counts the
// products of both. Python's json.load of the same document, read in the same
// run, is the anchor: a plain parse into dictionaries, without the checks and
// typed records of the decoder. Goal: the decode no slower than json.load,
// judged on the median of the pairs.
//
// Then a hundred release feeds on a host that never answers, beside one feed
// on it (the anchor: one connect time-out). Goal: the hundred fail within
// 2 s of the one.
//
// Then a name server that never answers (in a network of the bench's own,
// when it can make one; the C library waits its default 10 s): the catalog
// alone and a hundred feeds on a name that never resolves, each beside the
// same on the host that never answers (the anchor). Goal: a silent name
// server costs no more than a silent address, within 0.5 s.
//
// Run by hand: build/bench/catalog_bench [benchmark options]
#include "PairStats.h"

#ifdef CATALOG_BENCH_PRIVATE_NETWORK
#include "PrivateNetwork.h"
#endif

#include "Catalog/CatalogLoader.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int kProducts = 2000;

Hub::Catalog generatedCatalog(int count, const QString& updated)
{
    Hub::Catalog catalog;
    catalog.updated = updated;
    for (int i = 0; i < count; ++i) {
        const QString id = u"product-"_s + QString::number(i);
        Hub::Product p;
        p.id = id;
        p.name = u"Product "_s + QString::number(i);
        p.tagline = u"A plug-in that does one thing well."_s;
        p.kind = u"plugin"_s;
        p.formats = QStringList{u"au"_s, u"vst3"_s};
        p.status = i % 10 == 0 ? u"free"_s : u"paid"_s;
        p.price = u"$49"_s;
        p.accent = u"#3366cc"_s;
        p.icon = u"img/icons/"_s + id + u".png"_s;
        Hub::Release r;
        r.version = u"2."_s + QString::number(i % 7) + u".0"_s;
        r.minMacOS = u"11.0"_s;
        r.notes = u"Fixes a crash when the host changes the sample rate."_s;
        r.archs = QStringList{u"arm64"_s, u"x86_64"_s};
        std::vector<Hub::Artifact> artifacts;
        for (Hub::PluginFormat f : {Hub::PluginFormat::au, Hub::PluginFormat::vst3}) {
            Hub::Artifact a;
            a.format = f;
            a.url = u"https://downloads.tarnaudio.example/"_s + id + u"."_s + Hub::rawValue(f) + u".zip"_s;
            a.sha256 = QString(64, u'a');
            a.size = 12'345'678;
            a.bundle = p.name + u"."_s + Hub::bundleExtension(f);
            a.bundleID = u"com.tarnaudio."_s + id;
            a.archs = QStringList{u"arm64"_s, u"x86_64"_s};
            if (f == Hub::PluginFormat::au)
                a.au = Hub::AUDescriptor{u"aufx"_s, u"Pr"_s + QString::number(i % 100).rightJustified(2, u'0'), u"Trna"_s};
            artifacts.push_back(a);
        }
        r.artifacts = artifacts;
        p.release = r;
        if (i % 20 == 0)
            p.feed = Hub::Feed{u"https://tarnaudio.example/feeds/"_s + id + u".json"_s, u"a2m"_s, {}, {}, {}, {}};
        p.releases = std::vector<Hub::ReleaseNote>{
            {r.version, u"2026-10-01"_s, QStringList{u"Fixes a crash."_s, u"Lower CPU use."_s}},
            {u"1.0.0"_s, u"2025-01-01"_s, QStringList{u"First release."_s}},
        };
        catalog.products.push_back(std::move(p));
    }
    return catalog;
}

// `products` is how many products one iteration decodes.
void setPerProduct(benchmark::State& state, int products)
{
    state.counters["per_product"] = benchmark::Counter(
        double(state.iterations()) * products, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Decode(benchmark::State& state)
{
    const QByteArray bytes = generatedCatalog(kProducts, u"2026-12-01"_s).toJson();
    state.SetLabel(QByteArray::number(bytes.size() / 1024).toStdString() + " KiB");
    for (auto _ : state)
        benchmark::DoNotOptimize(Hub::CatalogLoader::decode(bytes));
    setPerProduct(state, kProducts);
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

void BM_LoadLocal(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString support = dir.filePath(u"support"_s);
    QDir().mkpath(support);
    auto write = [](const QString& path, const QByteArray& bytes) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            std::abort();
    };
    write(QDir(support).filePath(u"catalog.json"_s), generatedCatalog(kProducts, u"2026-12-02"_s).toJson());
    write(dir.filePath(u"builtin.json"_s), generatedCatalog(kProducts, u"2026-12-01"_s).toJson());
    // Every twentieth product has a feed; give each a cached feed release.
    QByteArray feeds = "{";
    for (int i = 0; i < kProducts; i += 20)
        feeds += (i ? "," : "") + QByteArray("\"product-") + QByteArray::number(i) + "\":{\"version\":\"9.9.9\"}";
    write(QDir(support).filePath(u"feeds.json"_s), feeds + '}');

    const Hub::CatalogLoader loader({support, QUrl(u"https://127.0.0.1:9/catalog.json"_s), dir.filePath(u"builtin.json"_s)});
    for (auto _ : state) {
        auto loaded = loader.loadLocal();
        if (!loaded || loaded->source != Hub::CatalogSource::cached)
            state.SkipWithError("loadLocal chose the wrong copy");
        benchmark::DoNotOptimize(loaded);
    }
    // The cached and the built-in copy are both decoded on every call.
    setPerProduct(state, 2 * kProducts);
}
BENCHMARK(BM_LoadLocal)->Unit(benchmark::kMillisecond);

using Bench::Clock;

// The fastest of `calls` decodes of the file, in seconds.
double fastestDecode(const QByteArray& bytes, int calls)
{
    double best = 1e9;
    for (int i = 0; i < calls; ++i) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(Hub::CatalogLoader::decode(bytes));
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// The fastest of `calls` json.load calls on the file, as Python measures it;
// a negative value when Python can't be run.
double fastestPythonLoad(const QString& path, int calls)
{
    QProcess python;
    python.start(u"python3"_s, {u"-c"_s,
                                u"import json, sys, time\n"
                                u"best = 1e9\n"
                                u"for _ in range(int(sys.argv[2])):\n"
                                u"    with open(sys.argv[1], 'rb') as f:\n"
                                u"        start = time.perf_counter(); json.load(f)\n"
                                u"        best = min(best, time.perf_counter() - start)\n"
                                u"print(best)\n"_s,
                                path, QString::number(calls)});
    if (!python.waitForFinished(-1) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return -1;
    bool ok = false;
    const double seconds = python.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? seconds : -1;
}

// Decoding beside Python's json.load, pair by pair in alternating order.
void printPythonReference()
{
    constexpr int kPairs = 5;
    constexpr int kCalls = 20;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"catalog.json"_s);
    const QByteArray bytes = generatedCatalog(kProducts, u"2026-12-01"_s).toJson();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        std::abort();
    file.close();

    std::vector<double> decode, python, ratios;
    for (int pair = 0; pair < kPairs; ++pair) {
        double ours = 0;
        double theirs = 0;
        if (pair % 2) {
            theirs = fastestPythonLoad(path, kCalls);
            ours = fastestDecode(bytes, kCalls);
        } else {
            ours = fastestDecode(bytes, kCalls);
            theirs = fastestPythonLoad(path, kCalls);
        }
        if (theirs <= 0) {
            std::printf("reference: python3 could not be run\n");
            return;
        }
        decode.push_back(ours);
        python.push_back(theirs);
        ratios.push_back(ours / theirs);
    }
    const double ours = Bench::stats(decode).median;
    const double theirs = Bench::stats(python).median;
    const Bench::Stats ratio = Bench::stats(ratios);
    std::printf("reference, the same %lld KiB document, %d pairs of best-of-%d:\n", (long long)(bytes.size() / 1024),
                kPairs, kCalls);
    std::printf("  decode           median %7.2f ms  %6.2f us per product\n", ours * 1e3, ours * 1e6 / kProducts);
    std::printf("  python json.load median %7.2f ms  %6.2f us per product\n", theirs * 1e3, theirs * 1e6 / kProducts);
    std::printf("  decode / json.load  min %.2fx median %.2fx\n", ratio.min, ratio.median);
    std::printf("goal: decode no slower than json.load (median of pairs): %.2fx, %s\n", ratio.median,
                ratio.median <= 1.0 ? "met" : "missed");
}

// A loopback port whose accept queue is full: new connections are never
// answered, as on a host behind a dropping firewall.
class SilentHost {
public:
    SilentHost()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0
            || ::listen(m_listener, 0) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            std::abort();
        m_port = ntohs(address.sin_port);
        // The one connection the queue holds; every later one waits.
        m_filler = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_filler < 0 || ::connect(m_filler, reinterpret_cast<sockaddr*>(&address), length) != 0)
            std::abort();
    }
    ~SilentHost()
    {
        ::close(m_filler);
        ::close(m_listener);
    }
    SilentHost(const SilentHost&) = delete;
    SilentHost& operator=(const SilentHost&) = delete;

    QString feed(int i) const
    {
        return u"https://127.0.0.1:"_s + QString::number(m_port) + u"/feeds/"_s + QString::number(i) + u".json"_s;
    }

private:
    int m_listener = -1;
    int m_filler = -1;
    int m_port = 0;
};

// The seconds `count` feeds take to fail together; feed(i) is the i-th's address.
double failFeeds(const std::function<QString(int)>& feed, int count, double timeout)
{
    std::vector<std::pair<QString, Hub::Feed>> feeds;
    for (int i = 0; i < count; ++i)
        feeds.emplace_back(QString::number(i), Hub::Feed{feed(i), u"a2m"_s, {}, {}, {}, {}});
    const auto start = Clock::now();
    if (!Hub::CatalogLoader::fetchFeeds(feeds, Hub::Http::Session{}, timeout).empty())
        std::abort();
    return Bench::secondsSince(start);
}

// A hundred feeds on one host that never answers, beside one feed on it:
// the first failure must end the rest, not each wait its turn for one of
// the few connections a host gets.
void printUnreachableHost()
{
    constexpr int kPairs = 5;
    constexpr int kFeeds = 100;
    constexpr double kTimeout = 1.0;
    const SilentHost host;
    const auto feed = [&host](int i) -> QString { return host.feed(i); };
    std::vector<double> many, one, ratios, extra;
    for (int pair = 0; pair < kPairs; ++pair) {
        double all = 0;
        double single = 0;
        if (pair % 2) {
            single = failFeeds(feed, 1, kTimeout);
            all = failFeeds(feed, kFeeds, kTimeout);
        } else {
            all = failFeeds(feed, kFeeds, kTimeout);
            single = failFeeds(feed, 1, kTimeout);
        }
        many.push_back(all);
        one.push_back(single);
        ratios.push_back(all / single);
        extra.push_back(all - single);
    }
    const Bench::Stats ratio = Bench::stats(ratios);
    const Bench::Stats after = Bench::stats(extra);
    std::printf("unreachable host, %d pairs, connect time-out %.1f s:\n", kPairs, kTimeout);
    std::printf("  %d feeds median %6.2f s\n", kFeeds, Bench::stats(many).median);
    std::printf("  1 feed   median %6.2f s\n", Bench::stats(one).median);
    std::printf("  %d feeds / 1 feed  min %.2fx median %.2fx\n", kFeeds, ratio.min, ratio.median);
    std::printf("goal: %d feeds fail within 2 s of the first answer (median of pairs): %+.2f s, %s\n", kFeeds,
                after.median, after.median <= 2.0 ? "met" : "missed");
}

// The catalog alone and a hundred feeds on a name no server answers for,
// each beside the same on the silent host: the lookup must end at the
// time-out as the connection does, not when the C library gives up.
void printSilentNameServer()
{
#ifdef CATALOG_BENCH_PRIVATE_NETWORK
    namespace PrivateNetwork = Hub::Test::PrivateNetwork;
    if (!PrivateNetwork::available()) {
        std::printf("silent name server: not measured, %s\n", qPrintable(PrivateNetwork::why()));
        return;
    }
    constexpr int kPairs = 5;
    constexpr double kTimeout = 1.0;
    const SilentHost host;
    const auto address = [&host](int i) -> QString { return host.feed(i); };
    const auto name = [](int i) -> QString {
        return u"https://"_s + PrivateNetwork::deadName() + u"/feeds/"_s + QString::number(i) + u".json"_s;
    };
    std::printf("silent name server (the C library's default 10 s), %d pairs, time-out %.1f s:\n", kPairs, kTimeout);
    bool met = true;
    for (const int count : {1, 100}) {
        std::vector<double> named, addressed, ratios, extra;
        for (int pair = 0; pair < kPairs; ++pair) {
            double byName = 0;
            double byAddress = 0;
            if (pair % 2) {
                byAddress = failFeeds(address, count, kTimeout);
                byName = failFeeds(name, count, kTimeout);
            } else {
                byName = failFeeds(name, count, kTimeout);
                byAddress = failFeeds(address, count, kTimeout);
            }
            named.push_back(byName);
            addressed.push_back(byAddress);
            ratios.push_back(byName / byAddress);
            extra.push_back(byName - byAddress);
        }
        const Bench::Stats ratio = Bench::stats(ratios);
        const double after = Bench::stats(extra).median;
        met = met && after <= 0.5;
        std::printf("  %3d feed%s: name median %6.2f s, address median %6.2f s, name / address min %.2fx median "
                    "%.2fx (%+.2f s)\n",
                    count, count == 1 ? " " : "s", Bench::stats(named).median, Bench::stats(addressed).median, ratio.min, ratio.median, after);
    }
    std::printf("goal: a silent name server costs no more than a silent address, within 0.5 s (median of pairs): "
                "%s\n",
                met ? "met" : "missed");
#else
    std::printf("silent name server: not measured, built without the test support\n");
#endif
}

} // namespace

int main(int argc, char** argv)
{
#ifdef CATALOG_BENCH_PRIVATE_NETWORK
    // While the process has its one thread; the other figures are the
    // same inside the private network, which has loopback alone.
    Hub::Test::PrivateNetwork::prepare("timeout:5 attempts:2");
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printPythonReference();
    printUnreachableHost();
    printSilentNameServer();
    return 0;
}
