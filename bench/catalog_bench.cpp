// How long a catalog of 2,000 products takes to decode and to load from the
// local copies (cached + built-in, with the feed overlay), per call and per
// product. Loading decodes both copies, so its per-product figure counts the
// products of both. Python's json.load of the same document, read in the same
// run, is the anchor: a plain parse into dictionaries, without the checks and
// typed records of the decoder. Goal: the decode no slower than json.load,
// judged on the median of the pairs.
//
// Run by hand: build/bench/catalog_bench [benchmark options]
#include "PairStats.h"

#include "Catalog/CatalogLoader.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printPythonReference();
    return 0;
}
