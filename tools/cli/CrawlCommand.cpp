#include "tools/cli/CrawlCommand.h"

#include "core/CsvWriter.h"
#include "crawl/TreeWalker.h"
#include "tools/cli/RegistryLoad.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

void printUsage(FILE* stream)
{
    QTextStream(stream)
        << "Usage: quellmark-cli crawl [--quarantine] [--apps] [--threads N] [--output FILE] FOLDER\n\n"
        << "Prints the folder results CSV of every entry below FOLDER that carries a provenance\n"
        << "value (with --quarantine also those with a quarantine value), as the crawl window's\n"
        << "\"Save Folder to CSV\" writes it.\n\n"
        << "  --quarantine   also examine the quarantine attribute\n"
        << "  --apps         load the application list first, so registered IDs show their app\n"
        << "  --threads N    walk with N threads (default: one per processor)\n"
        << "  --output FILE  write the CSV to FILE (atomically) instead of standard output\n";
}

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
    TreeWalker::Options options;
    bool loadApps = false;
    QString output;
    QString folder;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            printUsage(stdout);
            return kOk;
        }
        if (argument == QLatin1String("--quarantine")) {
            options.showQuarantine = true;
        } else if (argument == QLatin1String("--apps")) {
            loadApps = true;
        } else if (argument == QLatin1String("--output") || argument == QLatin1String("--threads")) {
            if (i + 1 >= arguments.size()) {
                QTextStream(stderr) << "quellmark-cli crawl: " << argument << " needs a value\n";
                return kUsage;
            }
            const QString value = arguments.at(++i);
            if (argument == QLatin1String("--output")) {
                output = value;
            } else {
                bool ok = false;
                options.threads = value.toInt(&ok);
                if (!ok || options.threads < 1) {
                    QTextStream(stderr) << "quellmark-cli crawl: --threads needs a positive number\n";
                    return kUsage;
                }
            }
        } else if (argument.startsWith(QLatin1String("--output="))) {
            output = argument.mid(9);
        } else if (argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("-")) {
            QTextStream(stderr) << "quellmark-cli crawl: unknown option " << argument << "\n\n";
            printUsage(stderr);
            return kUsage;
        } else if (folder.isEmpty()) {
            folder = argument;
        } else {
            QTextStream(stderr) << "quellmark-cli crawl: only one folder, please\n\n";
            printUsage(stderr);
            return kUsage;
        }
    }
    if (folder.isEmpty()) {
        printUsage(stderr);
        return kUsage;
    }

    if (loadApps)
        loadApplicationRegistry();

    CsvWriter csv(Crawled::csvHeader());
    TreeWalker walker(options);
    TreeWalker::Result result;
    {
        ProgressLine progress(walker.progress());
        result = walker.run(folder, [&csv](std::vector<Crawled>& records) {
            for (const Crawled& record : records)
                csv.addRow(record.csvFields());
        });
    }
    if (result.rootError != 0) {
        QTextStream(stderr) << "quellmark-cli crawl: cannot read " << folder << ": "
                            << QString::fromLocal8Bit(std::strerror(result.rootError)) << '\n';
        return kFailed;
    }

    if (!output.isEmpty()) {
        if (const auto failure = csv.writeTo(output)) {
            QTextStream(stderr) << "quellmark-cli crawl: cannot write " << output << ": " << *failure << '\n';
            return kFailed;
        }
    } else {
        const QByteArray& bytes = csv.bytes();
        if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
            std::fflush(stdout) != 0) {
            QTextStream(stderr) << "quellmark-cli crawl: cannot write the output: "
                                << QString::fromLocal8Bit(std::strerror(errno)) << '\n';
            return kFailed;
        }
    }
    if (result.unreadableFolders > 0)
        QTextStream(stderr) << "quellmark-cli crawl: " << result.unreadableFolders
                            << " folder(s) could not be read and were passed over\n";
    return kOk;
}
