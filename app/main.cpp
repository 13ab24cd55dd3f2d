#include "app/LaunchArguments.h"
#include "app/QuellmarkApp.h"
#include "core/ControlPictures.h"

#include <cstdio>
#include <cstring>

namespace {

// LaunchArguments::usage() with the option that only main() knows.
QString usage()
{
    return LaunchArguments::usage() + QStringLiteral("  --version        show the version\n");
}

} // namespace

int main(int argc, char* argv[])
{
    // Help and version need no display: they are answered before the toolkit starts, as it
    // aborts when there is none. --crawl's folder is no option.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("quellmark " QUELLMARK_VERSION "\n", stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--crawl") == 0)
            ++i;
    }
    QByteArrayList given;
    for (int i = 1; i < argc; ++i)
        given.append(QByteArray(argv[i]));
    if (LaunchArguments::parse(given).start == LaunchArguments::Start::Help) {
        std::fputs(qPrintable(usage()), stdout);
        return 0;
    }

    QuellmarkApp app(argc, argv); // takes the toolkit's own options out of argv
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    const LaunchArguments launch = LaunchArguments::parse(arguments);
    if (!launch.error.isEmpty()) {
        std::fprintf(stderr, "quellmark: %s\n%s", qPrintable(withControlPictures(launch.error)),
                     qPrintable(usage()));
        return 2;
    }
    if (launch.start == LaunchArguments::Start::Help) {
        std::fputs(qPrintable(usage()), stdout);
        return 0;
    }
    app.start(launch);
    return app.exec();
}
