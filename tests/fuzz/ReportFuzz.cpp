// Report files in the spool are written by plug-ins too: any bytes must
// decode or be refused, and a report the spool merges and writes back must
// read back as it was.
#include "Base/Json.h"
#include "Reports/Report.h"

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Hub::Report report;
    try {
        report = Hub::Report::decode(Hub::Fuzz::bytesOf(data, size));
    } catch (const Hub::Json::DecodingError&) {
        return 0;
    }
    // None only for a number JSON cannot hold; the spool then refuses to write.
    const std::optional<QByteArray> encoded = report.encode();
    if (!encoded)
        return 0;
    try {
        if (Hub::Report::decode(*encoded) != report)
            Hub::Fuzz::finding("a written report reads back changed");
    } catch (const Hub::Json::DecodingError&) {
        Hub::Fuzz::finding("a written report does not read back");
    }
    return 0;
}
