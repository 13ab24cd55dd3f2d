// The discovery tool's output over arbitrary bytes: non-empty lines, split only at a line feed
// that no carriage return precedes, sorted, each line accounted for.
#include "core/ApplicationDiscovery.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray output(reinterpret_cast<const char*>(data), qsizetype(size));
    qsizetype unreadable = -1;
    const QStringList paths = ApplicationDiscovery::pathsFromOutput(output, &unreadable);
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < output.size(); ++i)
        breaks += output.at(i) == '\n' && (i == 0 || output.at(i - 1) != '\r');
    if (unreadable < 0 || paths.size() + unreadable > breaks + 1)
        std::abort();
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& path = paths.at(i);
        if (path.isEmpty())
            std::abort();
        for (qsizetype c = 0; c < path.size(); ++c) {
            if (path.at(c) == u'\n' && (c == 0 || path.at(c - 1) != u'\r'))
                std::abort();
        }
        if (i > 0 && paths.at(i - 1).normalized(QString::NormalizationForm_C).toUcs4() >
                         path.normalized(QString::NormalizationForm_C).toUcs4())
            std::abort();
        bytes += path.toUtf8().size();
    }
    if (bytes > output.size())
        std::abort();
    return 0;
}
