// Replies of the maker's service: the first two bytes are the status, the
// rest the body. Any reply must read as an object or throw a HubError, and
// never as success with a failed status or a named error in it.
#include "Account/HubAPI.h"
#include "Account/HubHTTP.h"
#include "Base/HubError.h"

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int status = 100 + (data[0] << 8 | data[1]) % 500;
    try {
        const QJsonObject reply = Hub::HubHTTP::readReply(status, Hub::Fuzz::bytesOf(data + 2, size - 2));
        if (status < 200 || status > 299)
            Hub::Fuzz::finding("a failed status read as success");
        if (reply.value(QLatin1StringView("error")).isString())
            Hub::Fuzz::finding("a named error read as success");
        (void)Hub::HubAPI::user(reply.value(QLatin1StringView("user")));
    } catch (const Hub::HubError&) {
    }
    return 0;
}
