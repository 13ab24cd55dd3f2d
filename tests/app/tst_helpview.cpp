#include "app/HelpView.h"
#include "app/PDFKitView.h"

#include <QtTest>

#include <QDockWidget>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QPdfView>
#include <QStatusBar>
#include <QToolBar>

class TestHelpView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsTheEmbeddedGuide();
    void guideExplains_data();
    void guideExplains();
    void guidePagesAreNumbered();
    void missingGuideShowsTheNotice();

private:
    QString m_guideText; // all pages, whitespace folded
    int m_pages = 0;
};

void TestHelpView::initTestCase()
{
    QPdfDocument guide;
    QCOMPARE(guide.load(QStringLiteral(":/QuellmarkHelp.pdf")), QPdfDocument::Error::None);
    m_pages = guide.pageCount();
    QStringList pages;
    for (int page = 0; page < m_pages; ++page)
        pages << guide.getAllText(page).text();
    m_guideText = pages.join(QLatin1Char(' ')).simplified();
}

void TestHelpView::showsTheEmbeddedGuide()
{
    HelpView window;
    QCOMPARE(window.pdfUrl(), QUrl(QStringLiteral("qrc:/QuellmarkHelp.pdf")));
    QCOMPARE(HelpView::helpDocumentUrl(), window.pdfUrl());
    QCOMPARE(window.windowTitle(), QStringLiteral("Help Window"));
    // The whole content is the one PDF view, made with the window's URL.
    QCOMPARE(window.centralWidget(), window.pdfKitView());
    QCOMPARE(window.pdfKitView()->url(), window.pdfUrl());
    QCOMPARE(window.pdfKitView()->document()->pageCount(), m_pages);
    QCOMPARE(window.pdfKitView()->notice(), QString());
    QVERIFY(!window.menuWidget());
    QVERIFY(!window.findChild<QStatusBar*>());
    QVERIFY(window.findChildren<QToolBar*>().isEmpty());
    QVERIFY(window.findChildren<QDockWidget*>().isEmpty());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.pdfKitView()->pdfView()->pageMode(), QPdfView::PageMode::SinglePage);
}

void TestHelpView::guideExplains_data()
{
    QTest::addColumn<QString>("phrase");
    const char* phrases[] = {
        // the attributes and where they come from
        "com.apple.quarantine", "com.apple.provenance", "Gatekeeper", "macOS 13",
        // the windows, their buttons and shortcuts
        "Load Apps", "Crawl Folder", "Drop Files", "Write CSV", "Show Quarantine", "Load Folder",
        "Save Folder to CSV", "Stop", "Ctrl+G", "Ctrl+C", "File > New Window (Ctrl+N)",
        "Help > Quellmark Help",
        // what the values and marks mean
        "no ID", "no app", "unknown", "green check mark", "orange diamond", "red circle",
        // both CSV formats
        "Filepath,Provenance ID,Quarantine App", "Filename,Provenance ID,Quarantine App,Path", "RFC 4180",
        "UTF-8", "Quellmark_App_List.csv",
        // Linux
        "user.com.apple.X", "osx.com.apple.X", "user.DosStream.com.apple.X:$DATA", "quellmark-find-apps",
        "QUELLMARK_APP_ROOTS",
        // the command line and the preference
        "quellmark-cli apps [--output FILE]",
        "quellmark-cli crawl [--quarantine] [--apps] [--output FILE] FOLDER",
        "quellmark-cli files [--apps] PATH...", "showQuarCrawler=true", "~/.config/Quellmark/Quellmark.conf"};
    for (const char* phrase : phrases)
        QTest::newRow(phrase) << QString::fromUtf8(phrase);
}

void TestHelpView::guideExplains()
{
    QFETCH(QString, phrase);
    QVERIFY2(m_guideText.contains(phrase), qPrintable(phrase));
}

void TestHelpView::guidePagesAreNumbered()
{
    QVERIFY(m_pages > 1);
    QPdfDocument guide;
    QCOMPARE(guide.load(QStringLiteral(":/QuellmarkHelp.pdf")), QPdfDocument::Error::None);
    for (int page = 0; page < m_pages; ++page) {
        const QString footer = QStringLiteral("%1 / %2").arg(page + 1).arg(m_pages);
        QVERIFY2(guide.getAllText(page).text().simplified().endsWith(footer), qPrintable(footer));
    }
}

void TestHelpView::missingGuideShowsTheNotice()
{
    HelpView window{QUrl()};
    QCOMPARE(window.centralWidget(), window.pdfKitView());
    QCOMPARE(window.pdfKitView()->notice(), QStringLiteral("The user guide could not be opened."));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

QTEST_MAIN(TestHelpView)
#include "tst_helpview.moc"
