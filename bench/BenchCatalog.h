#pragma once

#include "Catalog/CatalogRecords.h"

#include <vector>

// The benchmarks' catalog: `count` plug-ins of two formats each, with a
// release, artifacts and release notes, some free and some coming soon.
namespace Hub::Bench {

inline Catalog generatedCatalog(int count)
{
    using namespace Qt::StringLiterals;
    Catalog catalog;
    for (int i = 0; i < count; ++i) {
        Product p;
        p.id = u"product-"_s + QString::number(i);
        p.name = u"Product"_s + QString::number(i);
        p.tagline = u"A plug-in that does one thing well."_s;
        p.kind = u"plugin"_s;
        p.formats = QStringList{u"VST3"_s, u"AU"_s};
        p.status = i % 10 == 0 ? u"free"_s : i % 37 == 0 ? u"coming_soon"_s : u"paid"_s;
        Release r;
        r.version = u"2."_s + QString::number(i % 3) + u".0"_s;
        r.notes = u"Fixes a crash when the host changes the sample rate."_s;
        std::vector<Artifact> artifacts;
        for (PluginFormat f : {PluginFormat::vst3, PluginFormat::au}) {
            Artifact a;
            a.format = f;
            a.url = u"https://downloads.tarnaudio.example/"_s + p.id + u'.' + rawValue(f) + u".zip"_s;
            a.sha256 = QString(64, u'a');
            a.bundle = p.name + u'.' + bundleExtension(f);
            a.archs = QStringList{u"arm64"_s, u"x86_64"_s};
            artifacts.push_back(a);
        }
        r.artifacts = artifacts;
        p.release = r;
        p.releases = std::vector<ReleaseNote>{{r.version, u"2026-10-01"_s, {u"Fixes a crash."_s, u"Lower CPU use."_s}}};
        catalog.products.push_back(std::move(p));
    }
    return catalog;
}

} // namespace Hub::Bench
