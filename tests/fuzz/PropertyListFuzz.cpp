// Information lists come inside downloaded bundles and are rewritten by the
// PlistBuddy stand-in: any bytes must parse or be refused, and what parses
// must be written back so that it reads the same.
#include "Platform/PropertyList.h"

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<QVariantMap> dictionary = Hub::PropertyList::parse(Hub::Fuzz::bytesOf(data, size));
    if (!dictionary)
        return 0;
    const std::optional<QVariantMap> again = Hub::PropertyList::parse(Hub::PropertyList::serialize(*dictionary));
    if (!again)
        Hub::Fuzz::finding("a written list does not parse");
    if (*again != *dictionary)
        Hub::Fuzz::finding("a written list reads back changed");
    return 0;
}
