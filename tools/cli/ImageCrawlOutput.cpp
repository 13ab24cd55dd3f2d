#include "tools/cli/ImageCrawlOutput.h"

#include "core/CsvWriter.h"
#include "crawl/Crawled.h"
#include "image/ImageFileLookup.h"
#include "tools/cli/CliCommand.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/ImageOriginLines.h"
#include "tools/cli/OriginLines.h"
#include "tools/cli/OutputTarget.h"

#include <QFile>

#include <atomic>
#include <map>
#include <memory>

std::optional<QByteArray> ImageCrawlOutput::readPassword(const QByteArray& path)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly)) {
        CliOutput::note(QStringLiteral("cannot read the password file %1: %2")
                            .arg(CliOutput::shown(path), file.errorString()));
        return std::nullopt;
    }
    // The first line, without its line end; a password is never that long.
    QByteArray password = file.readLine(4096);
    while (password.endsWith('\n') || password.endsWith('\r'))
        password.chop(1);
    return password;
}

int ImageCrawlOutput::run(ImageCrawl::Request request, const QString& destination, OriginLines& origin)
{
    OutputTarget out;
    if (const auto failure = out.open(CliOutput::rawPath(destination)))
        return CliOutput::cannotWrite(destination, *failure);
    std::atomic_bool stop{false};
    request.options.stop = &stop;
    CsvWriter csv(Crawled::csvHeader());
    QByteArray lines;
    // The image's own origin databases, and a second view of each volume to read each
    // record's attributes and times from.
    std::optional<ImageOriginLines> originLines;
    if (origin.isOriginFormat())
        originLines.emplace(origin, request.image, request.password);
    std::map<int, std::unique_ptr<ImageFileLookup>> lookups;
    const auto lookupOf = [&](const ImageVolume& volume) -> const ImageFileLookup* {
        auto found = lookups.find(volume.number);
        if (found == lookups.end()) {
            QString ignored; // the crawl says what cannot be read
            found = lookups.emplace(volume.number, ImageFileLookup::open(request.image, QString::number(volume.number),
                                                                         request.password, &ignored))
                        .first;
            if (found->second)
                found->second->setSidecars(request.options.sidecars);
        }
        return found->second.get();
    };
    auto flush = [&] {
        if (!out.write(originLines ? std::exchange(lines, {}) : csv.takeBytes()))
            stop = true;
    };
    const ImageCrawl::Outcome outcome =
        ImageCrawl::run(request, [&](std::vector<Crawled>& records, const std::vector<quint64>& inodes,
                                     const ImageVolume& volume) {
            const ImageFileLookup* lookup = originLines ? lookupOf(volume) : nullptr;
            for (size_t i = 0; i < records.size(); ++i) {
                const Crawled& record = records[i];
                if (!originLines)
                    record.addCsvRow(csv);
                else
                    lines += originLines->line(lookup, volume.shownName(), record.name(), record.path(),
                                               record.provenanceID(), record.quarantineApp(), inodes[i]);
            }
            if ((originLines ? lines.size() : csv.bytes().size()) >= 64 * 1024)
                flush();
        });
    if (!outcome.failure.isEmpty()) {
        out.abandon();
        CliOutput::note(QStringLiteral("cannot read %1: %2").arg(CliOutput::shown(request.image), outcome.failure));
        CliOutput::noteAccessTimes(); // what was read before the failure
        return CliCommand::kFailed;
    }
    flush();
    if (const auto failure = out.finish())
        return CliOutput::cannotWrite(destination, *failure);
    for (const QString& note : outcome.notes)
        CliOutput::note(note);
    // The image's databases that could not be used, in part or at all: as for a folder.
    const bool unused = originLines && originLines->sayNotes();
    return origin.finish(outcome.partial() || unused ? CliCommand::kPartial : CliCommand::kOk);
}
