#include "tools/findapps/AppFinder.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr char kUsage[] = "Usage: quellmark-find-apps\n"
                          "Prints the absolute path of every application, one per line, each once:\n"
                          "  - application bundles (folders named *.app, nested ones included) below\n"
                          "    Applications, System/Applications and Users/*/Applications of / and of every\n"
                          "    mounted volume, and below ~/Applications;\n"
                          "  - the program of every desktop entry of type Application in $XDG_DATA_HOME and\n"
                          "    $XDG_DATA_DIRS (TryExec, else the first word of Exec, looked up in $PATH);\n"
                          "  - the AppImages in ~/Applications.\n"
                          "Paths are written as raw bytes; a path containing a line feed is left out.\n"
                          "\n"
                          "Environment:\n"
                          "  QUELLMARK_APP_ROOTS  colon-separated folders that replace all of the above:\n"
                          "                       each is searched like a volume; one without Applications\n"
                          "                       folders is searched as an applications folder itself.\n"
                          "  HOME, XDG_DATA_HOME, XDG_DATA_DIRS, PATH  as usual.\n"
                          "  QUELLMARK_MOUNTINFO  testing aid: a file in /proc/self/mountinfo format to\n"
                          "                       read the mounted volumes from instead.\n"
                          "\n"
                          "Options: -h, --help shows this help, --version the version.\n";

bool writeAll(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("quellmark-find-apps " QUELLMARK_VERSION "\n", stdout);
            return 0;
        }
        std::fprintf(stderr, "quellmark-find-apps: unknown argument '%s'\n%s", argv[i], kUsage);
        return 2;
    }

    // A reader that stops early is no error of ours.
    std::signal(SIGPIPE, SIG_IGN);
    QByteArray output;
    for (const QByteArray& path : AppFinder().find()) {
        output += path;
        output += '\n';
    }
    writeAll(output);
    return 0;
}
