#include "tools/cli/AppsCommand.h"
#include "tools/cli/CliCommand.h"
#include "tools/cli/CrawlCommand.h"
#include "tools/cli/FilesCommand.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::vector<std::unique_ptr<CliCommand>> commands()
{
    std::vector<std::unique_ptr<CliCommand>> list;
    list.push_back(std::make_unique<AppsCommand>());
    list.push_back(std::make_unique<CrawlCommand>());
    list.push_back(std::make_unique<FilesCommand>());
    return list;
}

void printOverview(FILE* stream, const std::vector<std::unique_ptr<CliCommand>>& list)
{
    QTextStream out(stream);
    out << "Usage: quellmark-cli COMMAND [OPTIONS]\n\n"
        << "Shows where files came from: their provenance and quarantine attributes.\n\nCommands:\n";
    for (const auto& command : list)
        out << "  " << command->name().leftJustified(8) << command->summary() << '\n';
    out << "\nRun quellmark-cli COMMAND --help for the options of a command.\n";
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quellmark-cli"));
    const auto list = commands();
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        printOverview(stderr, list);
        return CliCommand::kUsage;
    }
    if (arguments.first() == QLatin1String("--help") || arguments.first() == QLatin1String("-h")) {
        printOverview(stdout, list);
        return CliCommand::kOk;
    }
    for (const auto& command : list) {
        if (command->name() == arguments.first())
            return command->run(arguments);
    }
    QTextStream(stderr) << "quellmark-cli: unknown command '" << arguments.first() << "'\n\n";
    printOverview(stderr, list);
    return CliCommand::kUsage;
}
