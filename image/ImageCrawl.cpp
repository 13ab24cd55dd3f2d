#include "image/ImageCrawl.h"

#include "core/PosixError.h"
#include "image/DiskImage.h"
#include "image/ImageVolumes.h"
#include "image/ImageWalker.h"

#include <tsk/libtsk.h>

ImageCrawl::Outcome ImageCrawl::run(const Request& request, const Sink& sink)
{
    Outcome outcome;
    QString error;
    const std::unique_ptr<DiskImage> image = DiskImage::open(request.image, &error);
    if (!image) {
        outcome.failure = error;
        return outcome;
    }
    const ImageVolumes volumes(*image);
    std::vector<ImageVolume> chosen;
    if (request.volume.isEmpty()) {
        for (const ImageVolume& volume : volumes.list())
            if (request.volumes.isEmpty() || request.volumes.contains(volume.number))
                chosen.push_back(volume);
    } else if (const auto volume = volumes.find(request.volume)) {
        chosen.push_back(*volume);
    } else {
        outcome.failure = QStringLiteral("the image has no volume '%1'").arg(request.volume);
        return outcome;
    }
    if (chosen.empty()) {
        outcome.failure = volumes.noneFound();
        return outcome;
    }
    TreeWalker::Options options = request.options;
    TreeWalker::Progress ownProgress;
    if (!options.progress)
        options.progress = &ownProgress;
    const bool named = chosen.size() > 1;
    for (const ImageVolume& volume : chosen) {
        if (options.stop && options.stop->load()) {
            outcome.totals.stopped = true;
            break;
        }
        const QString shown = volume.shownName();
        const ImageVolumes::FileSystem fs = volumes.open(volume, request.password, &error);
        if (!fs) {
            if (volume.encrypted && !request.password)
                outcome.notes
                    << QStringLiteral("The volume %1 is encrypted: give its password to read it").arg(shown);
            else if (volume.encrypted && !ImageVolumes::decrypts())
                outcome.notes << QStringLiteral(
                                     "The volume %1 is encrypted, and this system's Sleuth Kit cannot "
                                     "decrypt it (it was built without OpenSSL)")
                                     .arg(shown);
            else if (volume.encrypted)
                outcome.notes << QStringLiteral("The volume %1 could not be unlocked (wrong password?): %2")
                                     .arg(shown, error);
            else
                outcome.notes << QStringLiteral("The volume %1 cannot be read: %2").arg(shown, error);
            continue;
        }
        ImageWalker walker(fs.get(), options);
        const QByteArray prefix = named ? '/' + shown.toUtf8() : QByteArray();
        const TreeWalker::Result result = walker.run(
            request.folder, prefix, [&](std::vector<Crawled>& records, const std::vector<quint64>& inodes) {
                sink(records, inodes, volume);
            });
        if (result.rootError != 0 && volume.encrypted && !request.password) {
            outcome.notes
                << QStringLiteral("The volume %1 is encrypted: give its password to read it").arg(shown);
            continue;
        }
        if (result.rootError != 0) {
            outcome.notes << QStringLiteral("The volume %1 has no folder %2: %3")
                                 .arg(shown, QString::fromUtf8(request.folder),
                                      posixError(result.rootError).description);
            continue;
        }
        ++outcome.volumesRead;
        outcome.totals.stopped = result.stopped;
        if (result.stopped)
            break;
    }
    outcome.totals.examined = options.progress->examined;
    outcome.totals.listed = options.progress->listed;
    outcome.totals.unreadableFolders = options.progress->unreadableFolders;
    outcome.totals.unreadableEntries = options.progress->unreadableEntries;
    if (outcome.volumesRead == 0 && !outcome.totals.stopped) {
        outcome.failure = outcome.notes.isEmpty() ? QStringLiteral("no volume could be read")
                                                  : outcome.notes.join(QLatin1String("; "));
        outcome.notes.clear();
        return outcome;
    }
    if (outcome.totals.unreadableFolders > 0)
        outcome.notes << QStringLiteral("%1 folder(s) could not be read and were passed over")
                             .arg(outcome.totals.unreadableFolders);
    if (outcome.totals.unreadableEntries > 0)
        outcome.notes
            << QStringLiteral("%1 entries could not be examined").arg(outcome.totals.unreadableEntries);
    return outcome;
}
