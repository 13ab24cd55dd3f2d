// The where-froms property list and the quarantine value over arbitrary attribute bytes.
#include "origin/QuarantineValue.h"
#include "origin/ValueCap.h"
#include "origin/WhereFroms.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto strings = WhereFroms::parse(bytes)) {
        // Each string came out of the input, cut at the cap; shared ones add up to no more
        // than the list may expand to.
        qsizetype total = 0;
        for (const QString& text : *strings) {
            if (text.size() > qsizetype(size) + 32 || text.toUtf8().size() > ValueCap::kMaxBytes + 32)
                std::abort();
            total += text.size();
        }
        if (total > WhereFroms::kMaxTextBytes + strings->size() * 32)
            std::abort();
    }
    if (const auto quarantine = QuarantineValue::decode(bytes)) {
        if (quarantine->flagNames.size() > 32)
            std::abort();
    }
    return 0;
}
