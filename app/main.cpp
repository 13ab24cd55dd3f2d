#include "app/LaunchArguments.h"
#include "app/QuellmarkApp.h"
#include "core/ControlPictures.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    const auto arguments = [&argc, &argv] {
        QByteArrayList list;
        for (int i = 1; i < argc; ++i)
            list.append(QByteArray(argv[i]));
        return list;
    };
    // Help and version need no display: they are answered before the toolkit starts, as it
    // aborts when there is none.
    const LaunchArguments asked = LaunchArguments::parse(arguments());
    if (asked.start == LaunchArguments::Start::Version) {
        std::fputs("quellmark " QUELLMARK_VERSION "\n", stdout);
        return 0;
    }
    if (asked.start == LaunchArguments::Start::Help) {
        std::fputs(qPrintable(LaunchArguments::usage()), stdout);
        return 0;
    }

    QuellmarkApp app(argc, argv); // takes the toolkit's own options out of argv
    const LaunchArguments launch = LaunchArguments::parse(arguments());
    if (!launch.error.isEmpty()) {
        std::fprintf(stderr, "quellmark: %s\n%s", qPrintable(withControlPictures(launch.error)),
                     qPrintable(LaunchArguments::usage()));
        return 2;
    }
    app.start(launch);
    return app.exec();
}
