#include "tools/cli/ImageCrawlOutput.h"

#include "core/AttributeReader.h"
#include "core/CsvWriter.h"
#include "crawl/Crawled.h"
#include "image/ImageFileLookup.h"
#include "image/ImageOriginDatabases.h"
#include "origin/OriginDatabases.h"
#include "origin/OriginDetails.h"
#include "origin/OriginJson.h"
#include "tools/cli/CliCommand.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/OutputTarget.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <map>
#include <memory>

namespace {

// The rows of the image's own databases that one record's values lead to, looked up as for
// a folder: its quarantine value's event, its provenance value's row.
OriginDetails linked(const OriginDatabases& databases, const ImageFileLookup& lookup, const Crawled& record,
                     quint64 inode)
{
    OriginDetails details;
    details.quarantine = QuarantineValue::decode(lookup.attribute(inode, kQuarantineAttribute));
    if (details.quarantine && !details.quarantine->eventID.isEmpty() && databases.hasQuarantineEvents())
        details.quarantineEvent = databases.event(details.quarantine->eventID,
                                                  OriginDatabases::Owner{OriginDetails::rawPathOf(record.path()), {}});
    details.provenance = lookup.attribute(inode, kProvenanceAttribute);
    if (!details.provenance.isEmpty() && databases.hasProvenanceTable())
        details.provenanceRecord = databases.provenance(details.provenance);
    return details;
}

} // namespace

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

int ImageCrawlOutput::run(ImageCrawl::Request request, const QString& destination, bool jsonLines)
{
    OutputTarget out;
    if (const auto failure = out.open(CliOutput::rawPath(destination)))
        return CliOutput::cannotWrite(destination, *failure);
    std::atomic_bool stop{false};
    request.options.stop = &stop;
    CsvWriter csv(Crawled::csvHeader());
    QByteArray lines;
    const QString image = QString::fromUtf8(request.image);
    // The image's own origin databases, and a second view of each volume to read the values
    // of the records to link; only JSON Lines show linked rows.
    ImageOriginDatabases::Loaded origins;
    if (jsonLines)
        origins = ImageOriginDatabases::load(request.image, request.password);
    std::map<int, std::unique_ptr<ImageFileLookup>> lookups;
    const auto lookupOf = [&](const ImageVolume& volume) -> const ImageFileLookup* {
        auto found = lookups.find(volume.number);
        if (found == lookups.end()) {
            QString ignored; // the crawl says what cannot be read
            found = lookups.emplace(volume.number, ImageFileLookup::open(request.image, QString::number(volume.number),
                                                                         request.password, &ignored))
                        .first;
        }
        return found->second.get();
    };
    auto flush = [&] {
        if (!out.write(jsonLines ? std::exchange(lines, {}) : csv.takeBytes()))
            stop = true;
    };
    const ImageCrawl::Outcome outcome = ImageCrawl::run(
        request, [&](std::vector<Crawled>& records, const std::vector<quint64>& inodes, const ImageVolume& volume) {
            for (size_t i = 0; i < records.size(); ++i) {
                const Crawled& record = records[i];
                if (!jsonLines) {
                    record.addCsvRow(csv);
                    continue;
                }
                QJsonObject line{{QStringLiteral("name"), record.name()},
                                 {QStringLiteral("path"), record.path()},
                                 {QStringLiteral("provenanceID"), record.provenanceID()},
                                 {QStringLiteral("quarantineApp"), record.quarantineApp()},
                                 {QStringLiteral("image"), image},
                                 {QStringLiteral("volume"), volume.shownName()},
                                 {QStringLiteral("inode"), qint64(inodes[i])}};
                QByteArray json = QJsonDocument(line).toJson(QJsonDocument::Compact);
                if (origins.databases) {
                    if (const ImageFileLookup* lookup = lookupOf(volume)) {
                        const QByteArray rows =
                            OriginJson::linkedRows(linked(*origins.databases, *lookup, record, inodes[i]));
                        if (rows != "{}")
                            json = json.chopped(1) + ',' + rows.sliced(1);
                    }
                }
                lines += json + '\n';
            }
            if ((jsonLines ? lines.size() : csv.bytes().size()) >= 64 * 1024)
                flush();
        });
    if (!outcome.failure.isEmpty()) {
        out.abandon();
        CliOutput::note(QStringLiteral("cannot read %1: %2").arg(CliOutput::shown(request.image), outcome.failure));
        return CliCommand::kFailed;
    }
    flush();
    if (const auto failure = out.finish())
        return CliOutput::cannotWrite(destination, *failure);
    for (const QString& note : outcome.notes)
        CliOutput::note(note);
    // The image's databases that could not be used, in part or at all: as for a folder.
    if (origins.databases)
        origins.notes += origins.databases->notes();
    for (const QString& note : origins.notes)
        CliOutput::note(note);
    return outcome.partial() || !origins.notes.isEmpty() ? CliCommand::kPartial : CliCommand::kOk;
}
