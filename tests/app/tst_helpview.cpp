#include "app/HelpView.h"
#include "app/PDFKitView.h"
#include "tests/support/TestTree.h"

#include <QPdfDocument>
#include <QPdfSelection>
#include <QPdfView>
#include <QtTest>

#include <sys/stat.h>

// The help window and its PDF view, with the guide the build prints and embeds.
class TestHelpView : public QObject
{
    Q_OBJECT

private slots:
    void showsTheGuideOnePageFitted()
    {
        HelpView window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Help Window"));
        PDFKitView* view = window.pdfKitView();
        QCOMPARE(window.centralWidget(), view);
        QCOMPARE(view->notice(), QString());
        QPdfDocument* guide = view->document();
        const int pages = guide->pageCount();
        QVERIFY(pages > 2);
        // Every page of the guide numbered; the marks drawn as colour pictures, which PDF text fonts could
        // not carry.
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
        QCOMPARE(view->pdfView()->pageMode(), QPdfView::PageMode::SinglePage);
        QCOMPARE(view->pdfView()->zoomMode(), QPdfView::ZoomMode::FitInView);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Keys turn the pages, and stop at the ends.
        QTest::keyClick(view->pdfView(), Qt::Key_End);
        QTest::keyClick(view->pdfView(), Qt::Key_PageDown);
        QCOMPARE(view->currentPage(), pages - 1);
        QTest::keyClick(view->pdfView(), Qt::Key_Home);
        QCOMPARE(view->currentPage(), 0);
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
        QTest::newRow("empty file") << QByteArray("") << QString() << 0644 << false;
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
