#include "Platform/Http.h"

using namespace Qt::StringLiterals;

namespace Hub::Http {

bool isAllowedDownloadURL(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == "https"_L1)
        return true;
    if (scheme != "http"_L1)
        return false;
    const QString host = url.host().toLower();
    return host == "localhost"_L1 || host == "127.0.0.1"_L1;
}

} // namespace Hub::Http
