// The AppleDouble parser over arbitrary bytes, as a whole file and as the first bytes of a
// larger one (as the reader hands them over).
#include "core/AppleDouble.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(const std::optional<AppleDouble>& sidecar)
{
    if (!sidecar)
        return;
    const auto attributes = sidecar->attributes();
    for (size_t i = 0; i < attributes.size(); ++i) {
        const auto& [name, value] = attributes[i];
        if (name.find('\0') != std::string_view::npos)
            std::abort();
        // Looked up by its name, an attribute gives the first value stored under it.
        size_t first = 0;
        while (attributes[first].name != name)
            ++first;
        const auto found = sidecar->value(name);
        if (!found || found->data() != attributes[first].value.data() ||
            found->size() != attributes[first].value.size())
            std::abort();
        (void)value.toByteArray(); // every byte of the value is readable
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Not copied: a read past the input's end reaches the sanitizer.
    const char* bytes = reinterpret_cast<const char*>(data);
    const auto whole = AppleDouble::parse(QByteArray::fromRawData(bytes, qsizetype(size)), size);
    check(whole);
    if (whole && AppleDouble::extentNeeded(QByteArrayView(bytes, qsizetype(size)), size) > size)
        std::abort();
    // The same bytes as the start of a file twice as long: parse what the header asks for.
    const quint64 larger = quint64(size) * 2 + 1;
    const quint64 needed = AppleDouble::extentNeeded(QByteArrayView(bytes, qsizetype(size)), larger);
    if (needed > larger)
        std::abort();
    if (needed > 0 && needed <= size)
        check(AppleDouble::parse(QByteArray::fromRawData(bytes, qsizetype(needed)), larger));
    return 0;
}
