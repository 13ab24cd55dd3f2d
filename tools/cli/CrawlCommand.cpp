#include "tools/cli/CrawlCommand.h"

#include "core/CsvWriter.h"
#include "core/PosixError.h"
#include "crawl/TreeWalker.h"
#include "image/DiskImage.h"
#include "origin/OriginJson.h"
#include "tools/cli/CrawlFilters.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/ImageCrawlOutput.h"
#include "tools/cli/ImageOptions.h"
#include "tools/cli/OriginLines.h"
#include "tools/cli/OutputTarget.h"

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

// Entries examined, listed and the rate on standard error, redrawn in place while the walk
// runs and erased at the end. Only on a terminal.
class ProgressLine
{
public:
    explicit ProgressLine(const TreeWalker::Progress& progress) : m_progress(progress)
    {
        if (!::isatty(STDERR_FILENO))
            return;
        m_clock.start();
        m_thread = std::thread([this] { loop(); });
    }

    ~ProgressLine()
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }

private:
    void loop()
    {
        std::unique_lock lock(m_mutex);
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(200), [this] { return m_done; })) {
            const qint64 examined = m_progress.examined.load(std::memory_order_relaxed);
            const qint64 listed = m_progress.listed.load(std::memory_order_relaxed);
            const double seconds = std::max<double>(0.001, double(m_clock.elapsed()) / 1000.0);
            std::fprintf(stderr, "\r\033[K%lld entries examined, %lld listed, %.0f entries/s",
                         static_cast<long long>(examined), static_cast<long long>(listed),
                         double(examined) / seconds);
            std::fflush(stderr);
        }
    }

    const TreeWalker::Progress& m_progress;
    QElapsedTimer m_clock;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
};

// Walks each of `folders` in turn and writes what `filters` keep, as CSV or in `origin`'s
// format; the exit status given the one so far.
int crawlFolders(const QByteArrayList& folders, TreeWalker::Options options, const CrawlFilters& filters,
                 OriginLines& origin, const QString& destination, int status)
{
    // Opened first, so that a destination that cannot be written fails before a long walk.
    OutputTarget out;
    if (const auto failure = out.open(CliOutput::rawPath(destination)))
        return CliOutput::cannotWrite(destination, *failure);
    // Lines go out as they are found; a write that fails stops the walk.
    std::atomic_bool stop{false};
    options.stop = &stop;
    CsvWriter csv(Crawled::csvHeader());
    // JSON lines: each listed record's origin is read from its path, the databases once.
    QByteArray jsonLines;
    const auto pending = [&] { return origin.isOriginFormat() ? jsonLines.size() : csv.bytes().size(); };
    auto flush = [&] {
        if (!out.write(origin.isOriginFormat() ? std::exchange(jsonLines, {}) : csv.takeBytes()))
            stop = true;
    };
    // Named as met, in walk order; in JSON lines also where the row would be.
    options.onFailure = [&](const TreeWalker::Failure& failure) {
        const QString reason = posixError(failure.error).description;
        CliOutput::note(QStringLiteral("cannot read %1: %2").arg(failure.path, reason));
        if (origin.isJsonLines())
            jsonLines += OriginJson::errorLine(failure.path, reason) + '\n';
    };
    // The origin formats' lines are written on the walking threads, beside the walk, and go
    // out in walk order on this one.
    const auto writeAhead = [&filters, &origin](const Crawled& record, const EntryReads& read) {
        return origin.written(record.name(), record.path(), record.provenanceID(), record.quarantineApp(), &read,
                              [&filters](const OriginDetails& details) { return filters.accepts(details); });
    };
    if (origin.isOriginFormat())
        options.prepare = [&writeAhead](const Crawled& record, EntryReads& read) {
            read.written = writeAhead(record, read);
        };
    TreeWalker walker(options);
    TreeWalker::Result total;
    qsizetype unread = 0; // folders given that could not be read at all
    for (const QByteArray& walked : folders) {
        origin.setAnchor(walked);
        TreeWalker::Result result;
        {
            ProgressLine progress(walker.progress());
            // The origin formats show more of each entry than its record: the walk keeps what
            // it read of it, so that nothing is read twice.
            const auto write = [&](std::vector<Crawled>& records, std::vector<EntryReads>* reads) {
                for (size_t i = 0; i < records.size(); ++i) {
                    const Crawled& record = records[i];
                    EntryReads* read = reads ? &(*reads)[i] : nullptr;
                    if (!origin.isOriginFormat()) {
                        if (filters.accepts(record, options.sidecars, read))
                            csv.addRow(record.csvFields());
                        continue;
                    }
                    if (!read->written)
                        read->written = writeAhead(record, *read);
                    if (read->written->kept) {
                        origin.sayWritten(*read->written);
                        jsonLines += read->written->text;
                    }
                }
                if (pending() >= 64 * 1024)
                    flush();
            };
            if (origin.isOriginFormat() || filters.choosesRecords())
                result = walker.runReading(walked, [&](std::vector<Crawled>& records, std::vector<EntryReads>& reads) {
                    write(records, &reads);
                });
            else
                result = walker.run(walked, [&](std::vector<Crawled>& records) { write(records, nullptr); });
        }
        if (result.rootError != 0) {
            CliOutput::note(QStringLiteral("cannot read %1: %2")
                                .arg(CliOutput::shown(walked), posixError(result.rootError).description));
            ++unread;
        }
        total.unreadableFolders += result.unreadableFolders;
        total.unreadableEntries += result.unreadableEntries;
        if (stop)
            break;
    }
    // Nothing is written when no folder could be read.
    if (unread == folders.size()) {
        out.abandon();
        return CliCommand::kFailed;
    }
    flush();
    if (const auto failure = out.finish())
        return CliOutput::cannotWrite(destination, *failure);
    if (unread > 0)
        status = CliCommand::combined(status, CliCommand::kFailed);
    if (total.unreadableFolders > 0) {
        CliOutput::note(QStringLiteral("%1 folder(s) could not be read and were passed over")
                            .arg(total.unreadableFolders));
        status = CliCommand::combined(status, CliCommand::kPartial);
    }
    if (total.unreadableEntries > 0) {
        CliOutput::note(QStringLiteral("%1 entries could not be examined").arg(total.unreadableEntries));
        status = CliCommand::combined(status, CliCommand::kPartial);
    }
    return status;
}

} // namespace

QString CrawlCommand::name() const
{
    return QStringLiteral("crawl");
}

QString CrawlCommand::summary() const
{
    return QStringLiteral("list the entries below a folder that carry the attributes, as CSV");
}

int CrawlCommand::run(const QStringList& arguments)
{
    CommandLine parser(QStringLiteral(
        "Lists every entry below each FOLDER that carries a provenance value (with --quarantine\n"
        "also those with a quarantine value, with --where-froms those with a download URL) as CSV\n"
        "(Filename,Provenance ID,Quarantine App,Path), in walk order, one folder after the other:\n"
        "the bytes the crawl window's \"Save Folder to CSV\" writes, with the header even when\n"
        "nothing is listed. --agent, --since and --until keep only entries whose quarantine value\n"
        "matches. Folders and entries that cannot be read are passed over and named on standard\n"
        "error (with --format jsonl also as {\"path\", \"error\"} lines where their rows would be)."));
    const QCommandLineOption quarantine(QStringLiteral("quarantine"),
                                        QStringLiteral("Also examine the quarantine attribute."));
    const QCommandLineOption apps(QStringLiteral("apps"),
                                  QStringLiteral("Load the application list first, so registered IDs show "
                                                 "their application."));
    const QCommandLineOption threads(QStringLiteral("threads"),
                                     QStringLiteral("Walk with N threads (default: two per processor)."),
                                     QStringLiteral("N"));
    const QCommandLineOption output = CliOutput::outputOption();
    const QCommandLineOption noSidecars(
        QStringLiteral("no-sidecars"),
        QStringLiteral("List AppleDouble files (._name) as entries, and do not lend their attributes to "
                       "the files they belong to."));
    const ImageOptions images(QStringLiteral("Crawl FOLDER inside the disk image IMAGE (FOLDER is then a path "
                                             "inside each volume)."));
    parser.addOptions({quarantine, apps, threads, output, noSidecars});
    images.addTo(parser);
    CrawlFilters filters;
    filters.addOptions(parser);
    OriginLines origin(QStringLiteral("csv"));
    origin.addOptions(parser);
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("The folders to crawl, in turn."),
                                 QStringLiteral("FOLDER..."));
    const QString synopsis = QStringLiteral("crawl [--quarantine] [--apps] [--no-sidecars] [--threads N] "
                                            "[--output FILE] ") +
                             filters.synopsis() + QLatin1Char(' ') + origin.synopsis() +
                             QStringLiteral(" [--image IMAGE] [--volume NAME|NUMBER] [--password-file FILE] "
                                            "FOLDER...|IMAGE");
    if (const auto done = parser.parse(arguments, synopsis, 1))
        return *done;
    TreeWalker::Options options;
    if (!origin.read(parser) || !filters.read(parser, options))
        return kUsage;

    options.showQuarantine = parser.isSet(quarantine);
    options.sidecars = !parser.isSet(noSidecars);
    origin.setSidecars(options.sidecars);
    if (parser.isSet(threads)) {
        bool ok = false;
        options.threads = parser.value(threads).toInt(&ok);
        if (!ok || options.threads < 1) {
            CliOutput::error(QStringLiteral("--threads needs a positive number"));
            return kUsage;
        }
    }
    const std::optional<QString> destination = CliOutput::destination(parser, output);
    if (!destination)
        return kUsage;
    QByteArrayList folders;
    for (const QString& argument : parser.positionalArguments())
        folders.append(CliOutput::rawPath(argument));
    const QByteArray& folder = folders.constFirst();
    int status = kOk;
    if (parser.isSet(apps) && (status = CliOutput::loadApps()) == kFailed)
        return kFailed;

    // A file or block device given to crawl holds a disk image; a folder stays a folder.
    if (images.imageGiven(parser) || DiskImage::mayHoldImage(folder)) {
        if (!origin.servesImages())
            return kUsage;
        if (folders.size() > 1 || filters.walksFiltered() || filters.choosesRecords()) {
            CliOutput::error(QStringLiteral("a disk image is crawled alone, without filters"));
            return kUsage;
        }
        ImageCrawl::Request request;
        request.image = images.imageGiven(parser) ? images.image(parser) : folder;
        request.folder = images.imageGiven(parser) ? folder : QByteArrayLiteral("/");
        request.volume = images.volume(parser);
        request.options = options;
        if (!images.readPassword(parser, &request.password))
            return kFailed;
        return combined(status, ImageCrawlOutput::run(request, *destination, origin));
    }
    if (!images.unusedWithoutImage(parser))
        return kUsage;

    return origin.finish(crawlFolders(folders, options, filters, origin, *destination, status));
}
