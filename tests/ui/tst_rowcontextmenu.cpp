#include "crawl/Crawler.h"
#include "tests/support/TestTree.h"
#include "ui/RecordListView.h"
#include "ui/RowContextMenu.h"
#include "ui/RowDrag.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QStandardItemModel>
#include <QtTest>

using namespace Qt::StringLiterals;

// The rows' commands over a real crawl: paths exactly as the file system holds them.
class TestRowContextMenu : public QObject
{
    Q_OBJECT

    TestTree m_tree;
    Crawler m_crawler;
    RecordListView m_list;
    RowContextMenu* m_menu = nullptr;
    QList<QUrl> m_opened;

    QModelIndex row(const QString& name) const
    {
        return m_crawler.match(m_crawler.index(0), NameRole, name, 1, Qt::MatchExactly).value(0);
    }

    static QByteArray rawOf(const QUrl& url)
    {
        return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    }

    void selectOnly(const QModelIndexList& rows)
    {
        m_list.selectionModel()->clearSelection();
        for (const QModelIndex& index : rows)
            m_list.selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        m_list.selectionModel()->setCurrentIndex(rows.value(0), QItemSelectionModel::NoUpdate);
    }

public slots:
    void openUrl(const QUrl& url) { m_opened.append(url); }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        m_tree.setRawAttribute(m_tree.rawFile("caf\xe9.txt"), "user.com.apple.quarantine", "0083;1;Safari;");
        m_tree.setQuarantine(m_tree.file(u"100%25 done.txt"_s), "0083;1;Mail;");
        m_tree.setProvenance(m_tree.folder(u"sub dir"_s), "\x01");
        m_tree.setProvenance(m_tree.file(u"sub dir/inner"_s), "\x02");
        QSignalSpy finished(&m_crawler, &Crawler::crawlFinished);
        m_crawler.startCrawl(m_tree.root(), true);
        QVERIFY(finished.wait(10000));
        QCOMPARE(m_crawler.rowCount(), 4);
        m_list.setModel(&m_crawler);
        m_menu = new RowContextMenu(&m_list);
        QDesktopServices::setUrlHandler(u"file"_s, this, "openUrl");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"file"_s); }

    // What Copy Path copies, the drag's URLs, the folder opened and the folder crawled ("-": not
    // offered), as the file system has them ("@": the tree); Copy and the drag's text agree.
    void pathsAsTheFileSystemHasThem_data()
    {
        QTest::addColumn<QStringList>("names"); // as the rows show them, selected; the first is current
        QTest::addColumn<QByteArray>("paths");
        QTest::newRow("not UTF-8") << QStringList{u"caf\uFFFD.txt"_s}
                                   << QByteArray("@/caf\xe9.txt|@/caf\xe9.txt|@|-");
        QTest::newRow("a percent sign")
            << QStringList{u"100%25 done.txt"_s} << QByteArray("@/100%25 done.txt|@/100%25 done.txt|@|-");
        QTest::newRow("folder") << QStringList{u"sub dir"_s} << QByteArray("@/sub dir|@/sub dir|@|@/sub dir");
        QTest::newRow("in a folder") << QStringList{u"inner"_s}
                                     << QByteArray("@/sub dir/inner|@/sub dir/inner|@/sub dir|-");
        QTest::newRow("two, in list order")
            << QStringList{u"inner"_s, u"sub dir"_s}
            << QByteArray("@/sub dir\n@/sub dir/inner|@/sub dir|@/sub dir/inner|@/sub dir|-");
    }

    void pathsAsTheFileSystemHasThem()
    {
        QFETCH(QStringList, names);
        QFETCH(QByteArray, paths);
        QModelIndexList indexes;
        for (const QString& name : names)
            indexes << row(name);
        selectOnly(indexes);
        m_menu->copyPathAction()->trigger();
        QByteArrayList seen{QGuiApplication::clipboard()->mimeData()->data(u"text/plain"_s)};
        m_menu->copyAction()->trigger();
        QModelIndexList rows = m_list.selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end()); // dragged in list order
        std::unique_ptr<QMimeData> data(RowDrag::mimeData(rows));
        QCOMPARE(QGuiApplication::clipboard()->text(), data->text());
        m_opened.clear();
        QByteArray crawled;
        m_menu->setCrawlFolder([&crawled](const QString& folder) { crawled = QFile::encodeName(folder); });
        std::unique_ptr<QMenu> menu(m_menu->menuFor(indexes.first()));
        QVERIFY(menu->actions().contains(m_menu->crawlFolderAction()));
        crawled = m_menu->crawlFolderAction()->isEnabled() ? "offered" : "-";
        m_menu->openFolderAction()->trigger();
        m_menu->crawlFolderAction()->trigger();
        m_menu->setCrawlFolder({});
        for (const QUrl& url : data->urls() + m_opened)
            seen << (url.isLocalFile() ? rawOf(url) : url.toEncoded());
        QCOMPARE(seen.join('|') + '|' + crawled, paths.replace('@', QFile::encodeName(m_tree.root())));
    }

    void menuOpensOnTheRow()
    {
        m_list.resize(600, 300);
        m_list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_list));
        // A right click on a row that is not selected selects it alone.
        selectOnly({m_crawler.index(0), m_crawler.index(1)});
        const QPoint onThird = m_list.visualRect(m_crawler.index(2)).center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, onThird, m_list.viewport()->mapToGlobal(onThird));
        QCoreApplication::sendEvent(m_list.viewport(), &click);
        QTRY_VERIFY(m_list.findChild<QMenu*>() && m_list.findChild<QMenu*>()->isVisible());
        QCOMPARE(m_list.selectionModel()->selectedRows(), QModelIndexList{m_crawler.index(2)});
        m_list.findChild<QMenu*>()->close();
        // The Menu key: the current row's menu, the selection kept.
        QTRY_VERIFY(!m_list.findChild<QMenu*>());
        selectOnly({m_crawler.index(1), m_crawler.index(3)});
        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        QCoreApplication::sendEvent(&m_list, &key);
        QTRY_VERIFY(m_list.findChild<QMenu*>());
        QCOMPARE(m_list.selectionModel()->selectedRows().size(), 2);
        QCOMPARE(m_list.currentIndex(), m_crawler.index(1));
        m_list.findChild<QMenu*>()->close();
        // A desktop that cannot open the folder (no xdg-open) says so.
        QDesktopServices::unsetUrlHandler(u"file"_s);
        const QByteArray searchPath = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        m_menu->openFolderAction()->trigger();
        qputenv("PATH", searchPath);
        QDesktopServices::setUrlHandler(u"file"_s, this, "openUrl");
        std::unique_ptr<QMessageBox> box(m_list.findChild<QMessageBox*>());
        QVERIFY(box && box->isVisible());
        QVERIFY(box->text().startsWith(u"The desktop could not open "_s));
    }

    void applicationRows()
    {
        // The application list's rows have no path: their name is the path.
        QStandardItemModel apps;
        auto* app = new QStandardItem;
        app->setData(u"/Applications/Tööl.app"_s, NameRole);
        auto* odd = new QStandardItem;
        odd->setData(u"not a path"_s, NameRole);
        apps.appendRow({app});
        apps.appendRow({odd});
        RecordListView list;
        list.setModel(&apps);
        RowContextMenu menu(&list);
        list.selectAll();
        std::unique_ptr<QMenu> shown(menu.menuFor(apps.index(0, 0)));
        QVERIFY(menu.copyPathAction()->isEnabled() && menu.openFolderAction()->isEnabled());
        QVERIFY(!shown->actions().contains(menu.crawlFolderAction())); // nobody crawls here
        menu.copyPathAction()->trigger();                              // the row without a path adds nothing
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->data(u"text/plain"_s),
                 u"/Applications/Tööl.app"_s.toUtf8());
        shown.reset(menu.menuFor(apps.index(1, 0)));
        QVERIFY(!menu.copyPathAction()->isEnabled() && !menu.openFolderAction()->isEnabled());
    }
};

QTEST_MAIN(TestRowContextMenu)
#include "tst_rowcontextmenu.moc"
