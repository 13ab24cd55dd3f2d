// bench_drop [COUNT]: drops COUNT files (default 10000), each with both attributes, on a
// drop window and reports how long they take to be listed, how often the list was
// repainted meanwhile and the longest time the event loop was kept busy.
// Run by hand: QT_QPA_PLATFORM=offscreen build/bin/bench_drop 20000

#include "drop/DropView.h"
#include "drop/FileInfo.h"
#include "drop/QuellmarkDropDelegate.h"
#include "tests/support/TestTree.h"
#include "ui/RecordListView.h"

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QTimer>

#include <cstdio>

namespace {

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;

    TestTree tree;
    if (!tree.isValid()) {
        std::fprintf(stderr, "%s\n", tree.problem().constData());
        return 1;
    }
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i) {
        const QString file = tree.file(QStringLiteral("d%1/file %2.bin").arg(i / 1000).arg(i));
        tree.setProvenance(file, QByteArray::number(i));
        tree.setQuarantine(file, "0083;65f0a1b2;Bench;");
        urls << QUrl::fromLocalFile(file);
    }

    DropView view;
    view.resize(900, 600);
    view.show();
    PaintCounter counter;
    view.list()->viewport()->installEventFilter(&counter);

    // A heartbeat on the event loop: the longest gap is the longest the window stood still.
    QElapsedTimer sinceBeat;
    qint64 longestGap = 0;
    QTimer heartbeat;
    heartbeat.setInterval(0);
    QObject::connect(&heartbeat, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceBeat.restart()); });

    QMimeData data;
    data.setUrls(urls);
    QElapsedTimer total;
    QObject::connect(view.dropDelegate(), &QuellmarkDropDelegate::drained, [&] {
        const qint64 ms = total.elapsed();
        std::printf(
            "%d files listed in %lld ms (%.1f us per file), %d repaints, longest busy stretch %lld ms\n",
            view.fileInfo()->rowCount(), ms, 1000.0 * ms / count, counter.paints, longestGap);
        app.quit();
    });
    QTimer::singleShot(200, [&] {
        counter.paints = 0;
        total.start();
        sinceBeat.start();
        heartbeat.start();
        // QApplication hands the drop to the widget that accepted the enter.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.list()->viewport(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.list()->viewport(), &drop);
        if (!drop.isAccepted()) {
            std::fprintf(stderr, "the drop was refused\n");
            app.exit(1);
        }
    });
    return app.exec();
}
