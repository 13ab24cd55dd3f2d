// The two display decoders over arbitrary attribute bytes.
#include "core/AttributeDecoder.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString id = decodeProvenanceID(bytes);
    // Two hex digits per byte after "0x", whatever the bytes; only a share's trailing NUL
    // after an 11-byte value is dropped.
    const qsizetype shown = provenanceValue(bytes).size();
    if (id.size() != 2 + 2 * shown || (shown != qsizetype(size) && (size != 12 || shown != 11)))
        std::abort();
    const QString app = decodeQuarantineApp(bytes);
    if (app.isEmpty() || app.contains(QLatin1Char(';')) || app.contains(QChar(u'\0')))
        std::abort();
    return 0;
}
