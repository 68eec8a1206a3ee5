// How long a catalog of 2,000 products takes to decode and to load from the
// local copies (cached + built-in, with the feed overlay), per call and per product.
#include "Catalog/CatalogLoader.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

void setPerProduct(benchmark::State& state)
{
    state.counters["per_product"] = benchmark::Counter(
        double(state.iterations()) * kProducts, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Decode(benchmark::State& state)
{
    const QByteArray bytes = generatedCatalog(kProducts, u"2026-12-01"_s).toJson();
    state.SetLabel(QByteArray::number(bytes.size() / 1024).toStdString() + " KiB");
    for (auto _ : state)
        benchmark::DoNotOptimize(Hub::CatalogLoader::decode(bytes));
    setPerProduct(state);
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
    setPerProduct(state);
}
BENCHMARK(BM_LoadLocal)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
