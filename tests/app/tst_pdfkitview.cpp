#include "app/PDFKitView.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <QFile>
#include <QLabel>
#include <QPdfDocument>
#include <QPdfView>
#include <QScrollBar>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

const QString kNotice = QStringLiteral("The user guide could not be opened.");
const QUrl kGuide(QStringLiteral("qrc:/QuellmarkHelp.pdf"));

// The area the view paints white: the page, or the pages when it shows several.
QRect whiteArea(const QImage& image)
{
    QRect area;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xffffff) == 0xffffff)
                area |= QRect(x, y, 1, 1);
        }
    }
    return area;
}

int inkPixels(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 128)
                ++count;
        }
    }
    return count;
}

QImage viewportImage(PDFKitView& view)
{
    return view.pdfView()->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestPDFKitView : public QObject
{
    Q_OBJECT

private slots:
    void loadsTheEmbeddedGuide();
    void loadsAFileUrl();
    void unusableDocumentsShowTheNotice_data();
    void unusableDocumentsShowTheNotice();
    void unreadableFileShowsTheNotice();
    void showsOnePageScaledToTheView();
    void turnsPages();
};

void TestPDFKitView::loadsTheEmbeddedGuide()
{
    PDFKitView view(kGuide);
    QCOMPARE(view.url(), kGuide);
    QCOMPARE(view.document()->status(), QPdfDocument::Status::Ready);
    QVERIFY2(view.document()->pageCount() > 1, "the guide has more than one page");
    QCOMPARE(view.pdfView()->document(), view.document());
    QCOMPARE(view.pdfView()->pageMode(), QPdfView::PageMode::SinglePage);
    QCOMPARE(view.pdfView()->zoomMode(), QPdfView::ZoomMode::FitInView);
    QCOMPARE(view.notice(), QString());
    QCOMPARE(view.currentPage(), 0);
}

void TestPDFKitView::loadsAFileUrl()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString copy = dir.filePath(QStringLiteral("guide copy.pdf"));
    QVERIFY(QFile::copy(QStringLiteral(":/QuellmarkHelp.pdf"), copy));
    PDFKitView view(QUrl::fromLocalFile(copy));
    QCOMPARE(view.document()->status(), QPdfDocument::Status::Ready);
    QVERIFY(view.document()->pageCount() > 1);
    QCOMPARE(view.notice(), QString());
}

void TestPDFKitView::unusableDocumentsShowTheNotice_data()
{
    QTest::addColumn<QByteArray>("content"); // written to the file when not null
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("asUrl"); // false: the URL is `name` itself

    QTest::newRow("garbage bytes") << QByteArray::fromHex("0102") + "garbage" +
                                          QByteArray::fromHex("fffe00") + "not a document"
                                   << QStringLiteral("garbage.pdf") << true;
    QTest::newRow("empty file") << QByteArray("") << QStringLiteral("empty.pdf") << true;
    QTest::newRow("PDF header, then nothing usable")
        << QByteArray("%PDF-1.7\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<< /Type /Catalog /Pages 9 0 R >>\nendobj\n"
                      "trailer\n<< /Root 1 0 R >>\n%%EOF\n")
        << QStringLiteral("broken.pdf") << true;
    QTest::newRow("missing file") << QByteArray() << QStringLiteral("nowhere.pdf") << true;
    QTest::newRow("a folder") << QByteArray() << QStringLiteral(".") << true;
    QTest::newRow("missing resource") << QByteArray() << QStringLiteral("qrc:/NoSuchGuide.pdf") << false;
    QTest::newRow("empty URL") << QByteArray() << QString() << false;
    QTest::newRow("not a local URL") << QByteArray() << QStringLiteral("https://example.org/guide.pdf")
                                     << false;
}

void TestPDFKitView::unusableDocumentsShowTheNotice()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, name);
    QFETCH(bool, asUrl);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QUrl url(name);
    if (asUrl) {
        const QString path = QDir(dir.path()).filePath(name);
        if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(content), content.size());
        }
        url = QUrl::fromLocalFile(path);
    }

    PDFKitView view(url);
    view.resize(400, 500);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(view.notice(), kNotice);
    QCOMPARE(view.document()->pageCount(), 0);
    QCOMPARE(view.pdfView()->document(), view.document());

    // The notice is centred over the empty view, and the view paints without a page.
    const auto* label = view.pdfView()->viewport()->findChild<QLabel*>();
    QVERIFY(label);
    QVERIFY(label->isVisible());
    const QPoint offset = label->geometry().center() - view.pdfView()->viewport()->rect().center();
    QVERIFY2(offset.manhattanLength() <= 2, "the notice is centred");
    const QImage image = viewportImage(view);
    QVERIFY2(whiteArea(image).width() < image.width() / 2, "no white page is drawn");

    // Turning pages in an empty view does nothing.
    view.goToPage(3);
    QTest::keyClick(view.pdfView(), Qt::Key_PageDown);
    QCOMPARE(view.currentPage(), 0);
}

void TestPDFKitView::unreadableFileShowsTheNotice()
{
    // Permission bits do not stop root, so the view is made as an unprivileged user.
    TestTree tree;
    const QString path = tree.file(QStringLiteral("locked.pdf"));
    QFile::remove(path);
    QVERIFY(QFile::copy(QStringLiteral(":/QuellmarkHelp.pdf"), path));
    tree.openToOthers();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0), 0);

    bool ok = false;
    const QByteArray result = TestTree::asUnprivileged(
        [&path] {
            PDFKitView view(QUrl::fromLocalFile(path));
            return QStringLiteral("%1|%2").arg(view.notice()).arg(view.document()->pageCount()).toUtf8();
        },
        &ok);
    QVERIFY(ok);
    QCOMPARE(QString::fromUtf8(result), kNotice + QStringLiteral("|0"));

    // The same file readable again opens, so it was only the permission that failed.
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    const QByteArray readable = TestTree::asUnprivileged(
        [&path] { return QByteArray::number(PDFKitView(QUrl::fromLocalFile(path)).document()->pageCount()); },
        &ok);
    QVERIFY(ok);
    QVERIFY(readable.toInt() > 1);
}

void TestPDFKitView::showsOnePageScaledToTheView()
{
    PDFKitView view(kGuide);
    view.resize(300, 1200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    // A tall view still shows a single A4 page, not the next pages below it.
    QRect page;
    QTRY_VERIFY((page = whiteArea(viewportImage(view))).isValid());
    const qreal ratio = qreal(page.height()) / page.width();
    QVERIFY2(qAbs(ratio - 297.0 / 210.0) < 0.05,
             qPrintable(QStringLiteral("page %1x%2").arg(page.width()).arg(page.height())));
    QVERIFY(page.width() <= view.pdfView()->viewport()->width());
    QVERIFY2(!view.pdfView()->verticalScrollBar()->isVisible(), "a fitted page has nothing to scroll");
    QVERIFY2(page.width() > view.pdfView()->viewport()->width() * 0.8, "the width is filled");

    // The scale follows the window: twice the size gives a page twice as large.
    view.resize(600, 500);
    QRect small;
    QTRY_VERIFY((small = whiteArea(viewportImage(view))).height() <= view.pdfView()->viewport()->height());
    QVERIFY2(small.height() > view.pdfView()->viewport()->height() * 0.8, "the height is filled");
    view.resize(1200, 1000);
    QRect large;
    QTRY_VERIFY((large = whiteArea(viewportImage(view))).height() > small.height() * 3 / 2);
    const qreal growth = qreal(large.height()) / small.height();
    QVERIFY2(qAbs(growth - 2.0) < 0.1, qPrintable(QString::number(growth)));
    QVERIFY(large.height() <= view.pdfView()->viewport()->height());
}

void TestPDFKitView::turnsPages()
{
    PDFKitView view(kGuide);
    const int last = view.document()->pageCount() - 1;
    QVERIFY(last >= 2);
    view.resize(420, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QImage first;
    QTRY_VERIFY(inkPixels(first = viewportImage(view), whiteArea(first)) > 100);

    // Each way of turning reaches the expected page and shows something else.
    QTest::keyClick(view.pdfView(), Qt::Key_PageDown);
    QCOMPARE(view.currentPage(), 1);
    QImage second;
    QTRY_VERIFY((second = viewportImage(view)) != first && inkPixels(second, whiteArea(second)) > 100);

    QTest::keyClick(view.pdfView(), Qt::Key_End);
    QCOMPARE(view.currentPage(), last);
    QTest::keyClick(view.pdfView(), Qt::Key_PageDown);
    QCOMPARE(view.currentPage(), last);
    QTest::keyClick(view.pdfView(), Qt::Key_PageUp);
    QCOMPARE(view.currentPage(), last - 1);
    QTest::keyClick(view.pdfView(), Qt::Key_Home);
    QCOMPARE(view.currentPage(), 0);
    QTRY_COMPARE(viewportImage(view), first);

    // A wheel notch down turns one page forward; half notches add up.
    QWidget* viewport = view.pdfView()->viewport();
    const QPointF centre = viewport->rect().center();
    auto wheel = [&](int delta) {
        QWheelEvent event(centre, viewport->mapToGlobal(centre), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(viewport, &event);
    };
    wheel(-120);
    QCOMPARE(view.currentPage(), 1);
    wheel(-60);
    QCOMPARE(view.currentPage(), 1);
    wheel(-60);
    QCOMPARE(view.currentPage(), 2);
    wheel(240);
    QCOMPARE(view.currentPage(), 0);

    view.goToPage(last + 5);
    QCOMPARE(view.currentPage(), last);
    view.goToPage(-1);
    QCOMPARE(view.currentPage(), 0);
}

QTEST_MAIN(TestPDFKitView)
#include "tst_pdfkitview.moc"
