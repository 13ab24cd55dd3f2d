#include "tools/cli/FilesCommand.h"

#include "core/AbsolutePath.h"
#include "core/PosixError.h"
#include "drop/FileInfo.h"
#include "image/ImageFileLookup.h"
#include "tools/cli/CliCommand.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/ImageOptions.h"
#include "tools/cli/ImageOriginLines.h"
#include "tools/cli/OriginLines.h"
#include "tools/cli/OutputTarget.h"

#include <QTextStream>

namespace {

// PATHs inside a disk image: the lines a drop of those files would give, or the lines of
// `--format` with each file's details read through the image and linked to its own databases.
int listInImage(const QByteArray& image, const QString& volume, const std::optional<QByteArray>& password,
                const QStringList& paths, bool sidecars, OriginLines& origin)
{
    QString error;
    const std::unique_ptr<ImageFileLookup> lookup = ImageFileLookup::open(image, volume, password, &error);
    if (!lookup) {
        CliOutput::note(QStringLiteral("cannot read %1: %2").arg(CliOutput::shown(image), error));
        CliOutput::noteAccessTimes(); // what was read before the failure
        return CliCommand::kFailed;
    }
    lookup->setSidecars(sidecars);
    std::optional<ImageOriginLines> originLines;
    if (origin.isOriginFormat())
        originLines.emplace(origin, image, password);
    OutputTarget out;
    out.open({});
    qsizetype unexamined = 0;
    for (const QString& argument : paths) {
        int failure = 0;
        quint64 inode = 0;
        const FileDetail detail = lookup->detailFor(CliOutput::rawPath(argument), &failure, &inode);
        out.write(originLines ? originLines->line(lookup.get(), lookup->volume().shownName(), detail.name, detail.path, detail.provenanceID,
                                                  detail.quarantineApp, failure == 0 ? inode : 0)
                              : detail.exportText().toUtf8() + '\n');
        if (failure != 0) {
            ++unexamined;
            CliOutput::note(QStringLiteral("cannot examine %1 in %2: %3")
                                .arg(CliOutput::shown(argument), CliOutput::shown(image),
                                     posixError(failure).description));
        }
    }
    if (const auto failure = out.finish())
        return CliOutput::cannotWrite({}, *failure);
    const bool unused = originLines && originLines->sayNotes();
    if (unexamined > 0)
        CliOutput::note(
            QStringLiteral("%1 of %2 path(s) could not be examined").arg(unexamined).arg(paths.size()));
    return origin.finish(unexamined > 0 || unused ? CliCommand::kPartial : CliCommand::kOk);
}

} // namespace

QString FilesCommand::name() const
{
    return QStringLiteral("files");
}

QString FilesCommand::summary() const
{
    return QStringLiteral("show files as the drop window lists them: name | path | provenance | quarantine");
}

int FilesCommand::run(const QStringList& arguments)
{
    CommandLine parser(
        QStringLiteral("Prints, for each PATH in order, the line that copying its row in the drop window\n"
                       "gives: name | path | provenance | quarantine, with a folder's path ending in \"/\"\n"
                       "and control characters shown as their pictures. A path that cannot be examined\n"
                       "(it does not exist, or cannot be read) is listed with empty values and named on\n"
                       "standard error."));
    const QCommandLineOption apps(
        QStringLiteral("apps"), QStringLiteral("Load the installed applications first, so that a provenance "
                                               "shared with one shows its path."));
    parser.addOption(apps);
    const QCommandLineOption noSidecars(
        QStringLiteral("no-sidecars"),
        QStringLiteral("Do not take attributes a file lacks from its AppleDouble file (._name)."));
    parser.addOption(noSidecars);
    const ImageOptions images(QStringLiteral("Take each PATH inside the disk image IMAGE, in its volume."));
    images.addTo(parser);
    OriginLines origin(QStringLiteral("text"));
    origin.addOptions(parser);
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("A file or folder."),
                                 QStringLiteral("PATH..."));
    const QString synopsis =
        QStringLiteral("files [--apps] [--no-sidecars] [--image IMAGE [--volume NAME|NUMBER] [--password-file FILE]] ") +
        origin.synopsis() + QStringLiteral(" PATH...");
    if (const auto done = parser.parse(arguments, synopsis, 0))
        return *done;
    origin.setSidecars(!parser.isSet(noSidecars));
    if (!origin.read(parser))
        return kUsage;
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty()) {
        QTextStream(stderr) << "Usage: quellmark-cli " << synopsis
                            << "\nTry 'quellmark-cli files --help'.\n";
        return kUsage;
    }

    int status = kOk;
    if (images.imageGiven(parser)) {
        if (!origin.servesImages())
            return kUsage;
        std::optional<QByteArray> password;
        if (!images.readPassword(parser, &password))
            return kFailed;
        if (parser.isSet(apps) && (status = CliOutput::loadApps()) == kFailed)
            return kFailed;
        return combined(status,
                        listInImage(images.image(parser), images.volume(parser), password, paths,
                                    !parser.isSet(noSidecars), origin));
    }
    if (!images.unusedWithoutImage(parser))
        return kUsage;
    if (parser.isSet(apps) && (status = CliOutput::loadApps()) == kFailed)
        return kFailed;
    OutputTarget out;
    out.open({});
    qsizetype unexamined = 0;
    for (const QString& argument : paths) {
        const QByteArray given = CliOutput::rawPath(argument);
        int failure = 0;
        const auto absolute = AbsolutePath::of(given);
        const FileDetail detail =
            FileInfo::detailFor(absolute ? *absolute : given, given, !parser.isSet(noSidecars), &failure);
        if (!absolute && failure == 0)
            failure = int(absolute.error().code);
        out.write(origin.isOriginFormat()
                      ? origin.line(detail.name, detail.path, detail.provenanceID, detail.quarantineApp)
                      : detail.exportText().toUtf8() + '\n');
        if (failure != 0) {
            ++unexamined;
            CliOutput::note(QStringLiteral("cannot examine %1: %2")
                                .arg(CliOutput::shown(argument), posixError(failure).description));
        }
    }
    if (const auto failure = out.finish())
        return CliOutput::cannotWrite({}, *failure);
    if (unexamined > 0) {
        CliOutput::note(
            QStringLiteral("%1 of %2 path(s) could not be examined").arg(unexamined).arg(paths.size()));
        status = combined(status, kPartial);
    }
    return origin.finish(status);
}
