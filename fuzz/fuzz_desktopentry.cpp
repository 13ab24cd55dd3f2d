// The desktop-entry parser over arbitrary bytes: what it finds does not change with comments
// before the entry, other groups after it, or CR LF line ends.
#include "tools/findapps/DesktopEntry.h"

#include <cstdint>
#include <cstdlib>
#include <tuple>

namespace {

auto found(const QByteArray& content)
{
    const DesktopEntry entry = DesktopEntry::parse(content);
    return std::tuple(entry.isApplication(), entry.isHidden(), entry.program());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto plain = found(content);
    if (found("# made by hand\n\n" + content) != plain)
        std::abort();
    if (found(content + "\n[Desktop Action new]\nType=Application\nHidden=true\nExec=/bin/other\n") != plain)
        std::abort();
    if (!content.contains('\r')) {
        QByteArray crlf = content;
        if (found(crlf.replace("\n", "\r\n")) != plain)
            std::abort();
    }
    if (!content.contains("[Desktop Entry]") && plain != std::tuple(false, false, QByteArray()))
        std::abort();
    return 0;
}
