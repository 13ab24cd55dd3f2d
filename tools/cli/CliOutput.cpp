#include "tools/cli/CliOutput.h"

#include "core/ControlPictures.h"
#include "core/EvidenceAccess.h"
#include "core/RawText.h"
#include "inventory/ApplicationInventory.h"
#include "tools/cli/CliCommand.h"
#include "tools/cli/OutputTarget.h"

#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>

namespace {

QString command; // as `quellmark-cli COMMAND` names it; empty before one is chosen

} // namespace

QCommandLineOption CliOutput::outputOption()
{
    return QCommandLineOption(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral(
            "Write to FILE instead of standard output: a regular file is replaced atomically once "
            "all is written, a device, FIFO or socket is written to as it is; - is standard output."),
        QStringLiteral("FILE"));
}

std::optional<QString> CliOutput::destination(const QCommandLineParser& parser,
                                              const QCommandLineOption& output)
{
    const QString value = parser.value(output);
    if (parser.isSet(output) && value.isEmpty()) {
        error(QStringLiteral("an empty argument is not a path"));
        return std::nullopt;
    }
    return value;
}

QByteArray CliOutput::rawPath(const QString& argument)
{
    return RawText::toBytes(argument);
}

QString CliOutput::shown(const QString& argument)
{
    return RawText::display(argument);
}

QString CliOutput::shown(const QByteArray& rawPath)
{
    return RawText::display(RawText::fromBytes(rawPath));
}

int CliOutput::write(const QByteArray& bytes, const QString& destination)
{
    OutputTarget out;
    std::optional<QString> failure = out.open(rawPath(destination));
    if (!failure) {
        out.write(bytes);
        failure = out.finish(); // says why a write failed
    }
    return failure ? cannotWrite(destination, *failure) : CliCommand::kOk;
}

int CliOutput::cannotWrite(const QString& destination, const QString& reason)
{
    const QString where = destination.isEmpty() || destination == QLatin1String("-")
                              ? QStringLiteral("standard output")
                              : shown(destination);
    note(QStringLiteral("cannot write to %1: %2").arg(where, reason));
    return CliCommand::kFailed;
}

int CliOutput::loadApps()
{
    const ApplicationInventory::Loaded loaded = ApplicationInventory::load(ApplicationDiscovery());
    return searchStatus(loaded.failure, loaded.unreadableLines);
}

int CliOutput::searchStatus(const QString& failure, qsizetype unreadableLines)
{
    if (!failure.isEmpty()) {
        note(QStringLiteral("the application search failed: %1").arg(shown(failure)));
        return CliCommand::kFailed;
    }
    if (unreadableLines > 0) {
        note(QStringLiteral("%1 result(s) of the application search could not be read (not UTF-8) "
                            "and were left out")
                 .arg(unreadableLines));
        return CliCommand::kPartial;
    }
    return CliCommand::kOk;
}

void CliOutput::setCommand(const QString& name)
{
    command = name;
}

void CliOutput::error(const QString& message)
{
    const QString help = command.isEmpty() ? QStringLiteral("--help") : command + QStringLiteral(" --help");
    QTextStream(stderr) << "quellmark-cli: " << withControlPictures(message) << "\nTry 'quellmark-cli "
                        << help << "'.\n";
}

void CliOutput::note(const QString& message)
{
    // Messages name paths and values from the evidence: nothing in them may command a terminal.
    QTextStream(stderr) << "quellmark-cli: " << withControlPictures(message) << '\n';
}

void CliOutput::noteAccessTimes()
{
    if (EvidenceAccess::accessTimesMayChange())
        note(EvidenceAccess::accessTimeWarning());
}
