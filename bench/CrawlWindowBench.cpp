// Measures the crawl window on a large tree, by hand (never part of the test suite):
// how long the event loop could not run (a 10 ms timer measuring how late it fires: the
// worst and the 99th percentile), the crawl's wall time from start to the finished signal,
// and the resident memory added per listed record. Optionally grabs the window mid-crawl
// and finished.
//
// With --find the find bar is open, filtering by TEXT while the rows stream in.
//
//   quellmark-crawl-window-bench [--quarantine] [--rounds N] [--find TEXT] [--screenshots DIR] FOLDER|IMAGE
#include "crawl/Crawler.h"
#include "crawl/CrawlerView.h"
#include "ui/FindBar.h"
#include "ui/RecordListView.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <vector>

namespace {

qint64 residentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return qint64(resident) * ::sysconf(_SC_PAGESIZE);
}

// Bytes the allocator has handed out and not got back (glibc), or 0.
qint64 heapInUse()
{
#ifdef __GLIBC__
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#else
    return 0;
#endif
}

struct Round
{
    double crawlMs = 0;
    double worstLatenessMs = 0;
    std::vector<double> lateness;
    int ticks = 0;
    int records = 0;
    qint64 residentDelta = 0;
    qint64 heapDelta = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("QuellmarkBench"));
    QCoreApplication::setApplicationName(QStringLiteral("crawl-window-bench"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption quarantine(QStringLiteral("quarantine"),
                                        QStringLiteral("Examine quarantine too."));
    const QCommandLineOption rounds(QStringLiteral("rounds"), QStringLiteral("Crawls to run (default 5)."),
                                    QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption shots(QStringLiteral("screenshots"),
                                   QStringLiteral("Save the window mid-crawl and finished in DIR."),
                                   QStringLiteral("DIR"));
    const QCommandLineOption find(
        QStringLiteral("find"), QStringLiteral("Filter the rows by TEXT meanwhile."), QStringLiteral("TEXT"));
    parser.addOptions({quarantine, rounds, shots, find});
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("The folder (or disk image file) to crawl."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    const QString folder = parser.positionalArguments().constFirst();
    // A disk image is crawled as `quellmark --crawl IMAGE` does, every volume.
    const bool image = QFileInfo(folder).isFile();
    const auto start = [&](Crawler* crawler, bool showQuarantine) {
        if (image)
            crawler->startImageCrawl(QFile::encodeName(folder), showQuarantine);
        else
            crawler->startCrawl(folder, showQuarantine);
    };
    const QString shotDir = parser.value(shots);

    CrawlerView view;
    view.resize(1200, 640);
    view.setShowQuarantine(parser.isSet(quarantine));
    view.show();
    Crawler* crawler = view.crawler();
    if (parser.isSet(find)) {
        auto* bar = view.findChild<FindBar*>();
        bar->open();
        bar->field()->setText(parser.value(find));
    }

    // Lateness of a 10 ms timer: how long the event loop could not run it.
    constexpr int kInterval = 10;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kInterval);
    QElapsedTimer tick;
    Round current;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double gap = double(tick.nsecsElapsed()) / 1e6;
        tick.restart();
        current.worstLatenessMs = std::max(current.worstLatenessMs, gap - kInterval);
        current.lateness.push_back(std::max(0.0, gap - kInterval));
        ++current.ticks;
    });

    auto settle = [&app](int ms) {
        QTimer::singleShot(ms, &app, &QCoreApplication::quit);
        app.exec();
    };

    if (!shotDir.isEmpty()) {
        // An extra crawl for the pictures, not measured: grabbing takes the event loop a while.
        settle(100);
        bool grabbed = false;
        const auto grabber = QObject::connect(crawler, &Crawler::rowsInserted, &view, [&] {
            if (grabbed || crawler->rowCount() < 40 || !crawler->isRunning())
                return;
            grabbed = true;
            // At the next turn of the event loop, as the user would see it.
            QTimer::singleShot(0, &view, [&] {
                view.grab().save(shotDir + QStringLiteral("/crawl-window-running.png"));
                std::printf("mid-crawl screenshot at %d records, status: %s\n", crawler->rowCount(),
                            crawler->isRunning() ? "running" : "ended");
            });
        });
        const auto done = QObject::connect(crawler, &Crawler::crawlFinished, &app, &QCoreApplication::quit);
        start(crawler, view.showQuarantine());
        app.exec();
        QObject::disconnect(done);
        QObject::disconnect(grabber);
        view.list()->selectionModel()->select(view.list()->model()->index(2, 0), QItemSelectionModel::Select);
        view.list()->selectionModel()->select(view.list()->model()->index(4, 0), QItemSelectionModel::Select);
        // The list lays its rows out at the next turns of the event loop.
        QElapsedTimer shown;
        shown.start();
        while (view.list()->indexAt(QPoint(5, 5)).row() < 0 && shown.elapsed() < 5000)
            settle(5);
        view.grab().save(shotDir + QStringLiteral("/crawl-window-finished.png"));
    }

    std::vector<Round> results;
    const int count = std::max(1, parser.value(rounds).toInt());
    for (int round = 0; round < count; ++round) {
        // Settle the window first, so its own start-up is not counted.
        settle(100);
        current = Round();
        const qint64 before = residentBytes();
        const qint64 heapBefore = heapInUse();
        QElapsedTimer clock;
        const auto done = QObject::connect(crawler, &Crawler::crawlFinished, &app, &QCoreApplication::quit);
        tick.start();
        probe.start();
        clock.start();
        start(crawler, view.showQuarantine());
        app.exec();
        current.crawlMs = double(clock.nsecsElapsed()) / 1e6;
        probe.stop();
        QObject::disconnect(done);
        current.records = crawler->rowCount();
        current.residentDelta = residentBytes() - before;
        current.heapDelta = heapInUse() - heapBefore;
        std::vector<double> sorted = current.lateness;
        std::sort(sorted.begin(), sorted.end());
        const double p99 = sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
        results.push_back(current);
        std::printf(
            "round %d: crawl %.1f ms, event-loop lateness worst %.1f ms, 99th percentile %.1f ms over "
            "%d ticks, %d records, resident +%.1f MB\n",
            round + 1, current.crawlMs, current.worstLatenessMs, p99, current.ticks, current.records,
            double(current.residentDelta) / 1048576.0);
    }

    if (parser.isSet(find)) {
        // Closing the bar puts the whole list back in one step.
        QElapsedTimer closing;
        closing.start();
        view.findChild<FindBar*>()->dismiss();
        std::printf("closing the find bar over %d rows: %.1f ms\n", crawler->rowCount(),
                    double(closing.nsecsElapsed()) / 1e6);
    }

    std::vector<double> times;
    double worst = 0;
    for (const Round& r : results) {
        times.push_back(r.crawlMs);
        worst = std::max(worst, r.worstLatenessMs);
    }
    std::sort(times.begin(), times.end());
    const Round& first = results.front();
    std::printf(
        "median crawl %.1f ms; worst lateness %.1f ms; first measured crawl: %d records, %.0f resident "
        "bytes and %.0f heap bytes in use per record%s\n",
        times[times.size() / 2], worst, first.records,
        first.records ? double(first.residentDelta) / first.records : 0.0,
        first.records ? double(first.heapDelta) / first.records : 0.0,
        shotDir.isEmpty() ? "" : " (not meaningful with --screenshots)");
    return 0;
}
