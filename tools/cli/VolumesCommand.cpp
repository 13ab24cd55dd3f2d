#include "tools/cli/VolumesCommand.h"

#include "core/CsvWriter.h"
#include "image/DiskImage.h"
#include "image/ImageVolumes.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/CommandLine.h"

QString VolumesCommand::name() const
{
    return QStringLiteral("volumes");
}

QString VolumesCommand::summary() const
{
    return QStringLiteral("list the volumes of a disk image");
}

int VolumesCommand::run(const QStringList& arguments)
{
    CommandLine parser(QStringLiteral(
        "Lists the volumes of IMAGE (raw, E01, VMDK, VHD or AFF; GPT, APM or MBR partitions, every\n"
        "volume of an APFS container) as CSV: Number,Name,Role,File System,Size,Encrypted. The image\n"
        "is only read."));
    parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("The disk image."));
    if (const auto done = parser.parse(arguments, QStringLiteral("volumes IMAGE"), 1, 1))
        return *done;
    const QByteArray path = CliOutput::rawPath(parser.positionalArguments().constFirst());
    QString error;
    const std::unique_ptr<DiskImage> image = DiskImage::open(path, &error);
    if (!image) {
        CliOutput::note(QStringLiteral("cannot read %1: %2").arg(CliOutput::shown(path), error));
        CliOutput::noteAccessTimes(); // what was read before the failure
        return kFailed;
    }
    const ImageVolumes volumes(*image);
    if (volumes.list().empty()) {
        const QString failure = image->readFailure();
        CliOutput::note(
            QStringLiteral("%1 holds no volume that can be read%2")
                .arg(CliOutput::shown(path), failure.isEmpty() ? QString() : QStringLiteral(": ") + failure));
        return kFailed;
    }
    CsvWriter csv({QStringLiteral("Number"), QStringLiteral("Name"), QStringLiteral("Role"),
                   QStringLiteral("File System"), QStringLiteral("Size"), QStringLiteral("Encrypted")});
    for (const ImageVolume& volume : volumes.list())
        csv.addRow({QString::number(volume.number), volume.name, volume.role, volume.fileSystem,
                    QString::number(volume.size),
                    volume.encrypted ? QStringLiteral("yes") : QStringLiteral("no")});
    const int status = CliOutput::write(csv.bytes(), QString());
    CliOutput::noteAccessTimes();
    return status;
}
