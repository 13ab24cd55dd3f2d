#include "tools/cli/ImageCrawlOutput.h"

#include "core/CsvWriter.h"
#include "crawl/Crawled.h"
#include "tools/cli/CliCommand.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/OutputTarget.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>

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
                lines += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
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
    return outcome.partial() ? CliCommand::kPartial : CliCommand::kOk;
}
