// A release feed is read from the network and the release it announces is
// cached in feeds.json: reading must never fail on any bytes, and a cached
// release must read back as it was.
#include "Catalog/CatalogLoader.h"
#include "Base/Json.h"

#include "FuzzSupport.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = Hub::Fuzz::bytesOf(data, size);
    Hub::Feed feed;
    feed.url = u"https://127.0.0.1/feed.json"_s;
    feed.format = u"a2m"_s;
    for (const std::optional<QString>& channel : {std::optional<QString>(), std::optional(u"beta"_s)}) {
        feed.channel = channel;
        const std::optional<Hub::Release> release = Hub::CatalogLoader::parseFeed(bytes, feed);
        if (!release)
            continue;
        try {
            if (Hub::Release::decode(release->toJson()) != *release)
                Hub::Fuzz::finding("a cached release reads back changed");
        } catch (const Hub::Json::DecodingError&) {
            Hub::Fuzz::finding("a cached release does not read back");
        }
    }
    return 0;
}
