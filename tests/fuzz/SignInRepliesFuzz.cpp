// Every reply of the hosted sign-in service is read through these records:
// any body must decode or throw a decoding error, never anything else.
#include "Account/ClerkRecords.h"

#include "FuzzSupport.h"

namespace {

template <typename Record>
void read(const QByteArray& body)
{
    try {
        (void)Hub::decodeReply<Record>(body);
    } catch (const Hub::Json::DecodingError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray body = Hub::Fuzz::bytesOf(data, size);
    read<Hub::ClientCarrier>(body);
    read<Hub::Envelope<Hub::SignInDTO>>(body);
    read<Hub::Envelope<Hub::SignUpDTO>>(body);
    read<Hub::ErrorBody>(body);
    read<Hub::EnvironmentDTO>(body);
    return 0;
}
