#include "core/RawText.h"
#include "tools/cli/AppsCommand.h"
#include "tools/cli/CliCommand.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/CrawlCommand.h"
#include "tools/cli/FilesCommand.h"
#include "tools/cli/VolumesCommand.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::unique_ptr<CliCommand>> commands()
{
    std::vector<std::unique_ptr<CliCommand>> list;
    list.push_back(std::make_unique<AppsCommand>());
    list.push_back(std::make_unique<CrawlCommand>());
    list.push_back(std::make_unique<FilesCommand>());
    list.push_back(std::make_unique<VolumesCommand>());
    return list;
}

QString overview(const std::vector<std::unique_ptr<CliCommand>>& list)
{
    QString text;
    QTextStream out(&text);
    out << "Usage: quellmark-cli COMMAND [OPTIONS]\n\n"
        << "Shows where files came from: their provenance and quarantine attributes.\n\nCommands:\n";
    for (const auto& command : list)
        out << "  " << command->name().leftJustified(8) << command->summary() << '\n';
    out << "\nRun quellmark-cli COMMAND --help for the options and exit statuses of a command,\n"
        << "quellmark-cli --version for the version.\n";
    return text;
}

} // namespace

int main(int argc, char* argv[])
{
    // A standard stream the caller closed must not be reused by the next file we open, or output
    // meant for it would land there: it gets /dev/null, opened so that writes to it fail.
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quellmark-cli"));
    const auto list = commands();
    // Arguments are file-system bytes: carried through the parser without loss, never
    // decoded and encoded again (QCoreApplication::arguments() would replace bytes
    // that are not UTF-8).
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(RawText::fromBytes(argv[i]));
    if (arguments.isEmpty()) {
        QTextStream(stderr) << overview(list);
        return CliCommand::kUsage;
    }
    if (arguments.first() == QLatin1String("--help") || arguments.first() == QLatin1String("-h"))
        return CliOutput::write(overview(list).toUtf8(), QString());
    if (arguments.first() == QLatin1String("--version"))
        return CliOutput::write("quellmark-cli " QUELLMARK_VERSION "\n", QString());
    for (const auto& command : list) {
        if (command->name() == arguments.first()) {
            CliOutput::setCommand(command->name());
            return command->run(arguments);
        }
    }
    QTextStream(stderr) << "quellmark-cli: unknown command '" << CliOutput::shown(arguments.first())
                        << "'\n\n"
                        << overview(list);
    return CliCommand::kUsage;
}
