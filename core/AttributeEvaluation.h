#pragma once

#include "core/AttributeDecoder.h"
#include "core/AttributeReader.h"

// The order in which every model examines an item:
//   1. provenance presence test, 2. read, 3. decode;
//   4. quarantine presence test, 5. read, 6. decode.
// A failed or negative test skips to the next attribute, a failed read leaves the
// sink's default in place. Errors are not passed on.
//
// Source (see ItemAttributes): hasValue(forms) and read(forms) of one item.
// Sink receives what the steps found:
//   onProvenancePresent(), onProvenanceID(const QString&),
//   onQuarantinePresent(), onQuarantineApp(const QString&).
template<typename Source, typename Sink>
void evaluateAttributes(Source& source, Sink& sink, bool examineQuarantine = true)
{
    if (const auto present = source.hasValue(provenanceForms()); present && *present) {
        sink.onProvenancePresent();
        if (const auto bytes = source.read(provenanceForms()))
            sink.onProvenanceID(decodeProvenanceID(*bytes));
    }
    if (!examineQuarantine)
        return;
    if (const auto present = source.hasValue(quarantineForms()); present && *present) {
        sink.onQuarantinePresent();
        if (const auto bytes = source.read(quarantineForms()))
            sink.onQuarantineApp(decodeQuarantineApp(*bytes));
    }
}
