#include "app/HelpView.h"
#include "app/PDFKitView.h"
#include "tests/support/TestTree.h"

#include <QClipboard>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QPdfView>
#include <QScrollBar>
#include <QtTest>

#include <sys/stat.h>

namespace {

// Where the page shows in the viewport, found in its pixels: the white area on the darker ground.
QRect whiteArea(QWidget* viewport)
{
    const QImage image = viewport->grab().toImage();
    QRect area;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == Qt::white)
                area |= QRect(x, y, 1, 1);
    return area;
}

bool near(const QRect& a, const QRect& b)
{
    return std::abs(a.left() - b.left()) <= 1 && std::abs(a.top() - b.top()) <= 1 &&
           std::abs(a.right() - b.right()) <= 1 && std::abs(a.bottom() - b.bottom()) <= 1;
}

} // namespace

// The help window and its PDF view, with the guide the build prints and embeds.
class TestHelpView : public QObject
{
    Q_OBJECT

private slots:
    void guideIsNumberedWithColourMarks()
    {
        HelpView window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Help Window"));
        QPdfDocument* guide = window.pdfKitView()->document();
        const int pages = guide->pageCount();
        QVERIFY(pages > 2);
        // The marks are drawn as colour pictures, which PDF text fonts could not carry.
        int coloured = 0;
        for (int page = 0; page < pages; ++page) {
            const QString text = guide->getAllText(page).text().simplified();
            QVERIFY(text.endsWith(QStringLiteral("%1 / %2").arg(page + 1).arg(pages)));
            QVERIFY(!text.contains(QStringLiteral("✅")) && !text.contains(QStringLiteral("🔸")));
            const QImage image = guide->render(page, QSize(595, 842));
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    coloured += image.pixelColor(x, y).hsvSaturation() > 150;
        }
        QVERIFY(coloured > 200);
    }

    // A window too small for a readable page opens with the page as wide as the view; zooming keeps
    // the page where the view says it is, the text under the mouse is what is selected and copied,
    // and Ctrl+0 fits the page again.
    void pageShownZoomedAndCopied_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("opensFitted");
        QTest::addColumn<int>("steps");          // zoom steps from the fitted page; 0: fitted
        QTest::addColumn<bool>("scrolledToEnd"); // the page's top and left then out of the view
        QTest::newRow("tall window") << QSize(700, 1100) << true << 0 << false;
        QTest::newRow("small window") << QSize(700, 500) << false << 0 << false;
        QTest::newRow("zoomed out") << QSize(640, 720) << false << -1 << false;
        QTest::newRow("zoomed in, at the start") << QSize(640, 720) << false << 3 << false;
        QTest::newRow("zoomed in, at the end") << QSize(640, 720) << false << 3 << true;
    }

    void pageShownZoomedAndCopied()
    {
        QFETCH(QSize, size);
        QFETCH(bool, opensFitted);
        QFETCH(int, steps);
        QFETCH(bool, scrolledToEnd);
        HelpView window;
        window.resize(size);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        PDFKitView* view = window.pdfKitView();
        QPdfView* pdf = view->pdfView();
        QCOMPARE(view->isFitted(), opensFitted);
        QVERIFY2(view->zoomFactor() >= 0.75, qPrintable(QString::number(view->zoomFactor())));
        QCOMPARE(pdf->horizontalScrollBar()->maximum(), 0); // as wide as the view: no sideways scrolling
        QTest::keySequence(&window, QKeySequence(Qt::CTRL | Qt::Key_0));
        QVERIFY(view->isFitted());
        const qreal fitted = view->zoomFactor();
        for (int i = 0; i < std::abs(steps); ++i)
            QTest::keySequence(&window, steps > 0 ? QKeySequence::ZoomIn : QKeySequence::ZoomOut);
        QCOMPARE(view->isFitted(), steps == 0);
        QVERIFY(qAbs(view->zoomFactor() - fitted * std::pow(1.25, steps)) < 0.001);
        if (scrolledToEnd) {
            QTRY_VERIFY(pdf->verticalScrollBar()->maximum() > 0 && pdf->horizontalScrollBar()->maximum() > 0);
            pdf->verticalScrollBar()->setValue(pdf->verticalScrollBar()->maximum());
            pdf->horizontalScrollBar()->setValue(pdf->horizontalScrollBar()->maximum());
        }
        QWidget* viewport = pdf->viewport();
        QRectF page;
        QTRY_VERIFY(near(whiteArea(viewport), (page = view->pageRect()).toRect() & viewport->rect()));
        // A line of text on screen (the guide gives one box a character), dragged over from its
        // start to its end with the mouse.
        QPdfDocument* guide = view->document();
        const qreal scale = page.width() / guide->pagePointSize(0).width();
        const auto onScreen = [&](const QPointF& point) {
            return (page.topLeft() + point * scale).toPoint();
        };
        const QList<QPolygonF> boxes = guide->getAllText(0).bounds();
        const auto shown = std::find_if(boxes.cbegin(), boxes.cend(), [&](const QPolygonF& box) {
            const QRect onView(onScreen(box.boundingRect().topLeft()),
                               onScreen(box.boundingRect().bottomRight()));
            return viewport->rect().adjusted(0, 0, 0, -20).contains(onView) &&
                   onView.left() < viewport->width() / 2;
        });
        QVERIFY(shown != boxes.cend());
        QRectF line = shown->boundingRect();
        for (const QPolygonF& box : boxes)
            if (std::abs(box.boundingRect().center().y() - line.center().y()) < 2 &&
                viewport->rect().contains(onScreen(box.boundingRect().bottomRight())))
                line |= box.boundingRect();
        const QPointF from(line.left() + 1, line.center().y());
        const QPointF to(line.right() - 1, line.center().y());
        QTest::mousePress(viewport, Qt::LeftButton, {}, onScreen(from));
        QTest::mouseMove(viewport, onScreen((from + to) / 2));
        QTest::mouseMove(viewport, onScreen(to));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, onScreen(to));
        const QString expected = guide->getSelection(0, from, to).text();
        QVERIFY(expected.size() > 3);
        QCOMPARE(view->selectedText(), expected);
        pdf->setFocus();
        QTest::keySequence(pdf, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        // Ctrl+A takes the whole page; turning the page lets go of it. Keys stop at the ends.
        QTest::keySequence(pdf, QKeySequence::SelectAll);
        QCOMPARE(view->selectedText(), guide->getAllText(0).text());
        QTest::keyClick(pdf, Qt::Key_PageDown);
        QCOMPARE(view->selectedText(), QString());
        QTest::keyClick(pdf, Qt::Key_End);
        QTest::keyClick(pdf, Qt::Key_PageDown);
        QCOMPARE(view->currentPage(), guide->pageCount() - 1);
        QTest::keyClick(pdf, Qt::Key_Home);
        QCOMPARE(view->currentPage(), 0);
        QTest::keySequence(&window, QKeySequence(Qt::CTRL | Qt::Key_0));
        QVERIFY(view->isFitted());
        QVERIFY(qAbs(view->zoomFactor() - fitted) < 0.001);
    }

    void unusableGuideShowsTheNotice_data()
    {
        QTest::addColumn<QByteArray>("content"); // of the file shown; null: `url` instead
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("opens");

        QFile guide(QStringLiteral(":/QuellmarkHelp.pdf"));
        QVERIFY(guide.open(QIODevice::ReadOnly));
        const QByteArray pdf = guide.readAll();
        QTest::newRow("the guide") << pdf << QString() << 0644 << true;
        QTest::newRow("the guide, unreadable") << pdf << QString() << 0 << false;
        QTest::newRow("garbage") << QByteArray("\x01\x02garbage\xff\xfe") << QString() << 0644 << false;
        QTest::newRow("PDF header and end, nothing between")
            << QByteArray("%PDF-1.7\n%%EOF\n") << QString() << 0644 << false;
        QTest::newRow("missing resource")
            << QByteArray() << QStringLiteral("qrc:/NoSuchGuide.pdf") << 0644 << false;
        QTest::newRow("no URL, as when the build holds no guide")
            << QByteArray() << QString() << 0644 << false;
    }

    void unusableGuideShowsTheNotice()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, url);
        QFETCH(int, mode);
        QFETCH(bool, opens);
        TestTree tree;
        const QString file = tree.file(QStringLiteral("guide.pdf"), content);
        tree.openToOthers();
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), mode_t(mode)), 0);
        const QUrl source = content.isNull() ? QUrl(url) : QUrl::fromLocalFile(file);
        // Made as an unprivileged user, for whom permission bits count.
        bool ok = false;
        const QByteArray seen = TestTree::asUnprivileged(
            [&] {
                PDFKitView view(source);
                return (view.notice() + u'|' + QString::number(view.document()->pageCount() > 0)).toUtf8();
            },
            &ok);
        QVERIFY(ok);
        QCOMPARE(seen, opens ? QByteArray("|1") : QByteArray("The user guide could not be opened.|0"));

        // The window shows, and turning pages does no harm, whatever the document.
        HelpView window(source);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::keyClick(window.pdfKitView()->pdfView(), Qt::Key_End);
        QCOMPARE(window.pdfKitView()->notice().isEmpty(), window.pdfKitView()->document()->pageCount() > 0);
    }
};

QTEST_MAIN(TestHelpView)
#include "tst_helpview.moc"
