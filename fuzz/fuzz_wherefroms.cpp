// The where-froms property list and the quarantine value over arbitrary attribute bytes.
#include "origin/QuarantineValue.h"
#include "origin/WhereFroms.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto strings = WhereFroms::parse(bytes)) {
        // Each string came out of the input: none can be longer than it.
        for (const QString& text : *strings) {
            if (text.size() > qsizetype(size))
                std::abort();
        }
    }
    if (const auto quarantine = QuarantineValue::decode(bytes)) {
        if (quarantine->flagNames.size() > 32)
            std::abort();
    }
    return 0;
}
