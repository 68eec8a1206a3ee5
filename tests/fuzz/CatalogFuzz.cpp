// The live catalog comes from the network and its cached copy from disk:
// any bytes must decode or throw one of the decoder's two errors.
#include "Catalog/CatalogLoader.h"
#include "Base/HubError.h"
#include "Base/Json.h"

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const Hub::Catalog catalog = Hub::CatalogLoader::decode(Hub::Fuzz::bytesOf(data, size));
        for (const Hub::Product& product : catalog.products) {
            if (catalog.product(product.id) == nullptr)
                Hub::Fuzz::finding("a decoded product cannot be found by its id");
        }
    } catch (const Hub::Json::DecodingError&) {
    } catch (const Hub::HubError&) {
    }
    return 0;
}
