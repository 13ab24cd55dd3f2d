#include "app/LaunchArguments.h"
#include "app/QuellmarkApp.h"
#include "core/ControlPictures.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    QuellmarkApp app(argc, argv); // takes the toolkit's own options out of argv
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    const LaunchArguments launch = LaunchArguments::parse(arguments);
    if (!launch.error.isEmpty()) {
        std::fprintf(stderr, "quellmark: %s\n%s", qPrintable(withControlPictures(launch.error)),
                     qPrintable(LaunchArguments::usage()));
        return 2;
    }
    if (launch.start == LaunchArguments::Start::Help) {
        std::fputs(qPrintable(LaunchArguments::usage()), stdout);
        return 0;
    }
    app.start(launch);
    return app.exec();
}
