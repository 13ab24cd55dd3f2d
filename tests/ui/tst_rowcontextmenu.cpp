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

#include <sys/stat.h>

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

    static QByteArray rawOf(const QUrl& url) { return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()); }

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

    void pathsAsTheFileSystemHasThem_data()
    {
        QTest::addColumn<QString>("name");       // as the row shows it
        QTest::addColumn<QByteArray>("relative"); // the path as the file system has it
        QTest::addColumn<bool>("folder");
        QTest::newRow("not UTF-8") << u"caf\uFFFD.txt"_s << QByteArray("caf\xe9.txt") << false;
        QTest::newRow("a percent sign") << u"100%25 done.txt"_s << QByteArray("100%25 done.txt") << false;
        QTest::newRow("folder") << u"sub dir"_s << QByteArray("sub dir") << true;
        QTest::newRow("in a folder") << u"inner"_s << QByteArray("sub dir/inner") << false;
    }

    void pathsAsTheFileSystemHasThem()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, relative);
        QFETCH(bool, folder);
        const QModelIndex index = row(name);
        QVERIFY(index.isValid());
        const QByteArray path = m_tree.rawPath(relative);
        struct stat status;
        QCOMPARE(::stat(path.constData(), &status), 0); // the path names the file itself

        // Copy Path: the bytes, not a decoded text.
        selectOnly({index});
        m_menu->copyPathAction()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->data(u"text/plain"_s), path);

        // Dragged out: a file URL that decodes to the same bytes, and the copy text.
        std::unique_ptr<QMimeData> data(RowDrag::mimeData({index}));
        QCOMPARE(data->urls().size(), 1);
        QVERIFY(data->urls().first().isLocalFile());
        QCOMPARE(rawOf(data->urls().first()), path);
        QCOMPARE(data->text(), index.data(ExportTextRole).toString());

        // Open Containing Folder: the folder holding it, through the desktop.
        m_opened.clear();
        std::unique_ptr<QMenu> menu(m_menu->menuFor(index));
        m_menu->openFolderAction()->trigger();
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(rawOf(m_opened.first()), path.left(path.lastIndexOf('/')));
        // A desktop that cannot open it (no xdg-open) is said.
        QVERIFY(!m_list.findChild<QMessageBox*>());
        QDesktopServices::unsetUrlHandler(u"file"_s);
        const QByteArray searchPath = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        m_menu->openFolderAction()->trigger();
        qputenv("PATH", searchPath);
        QDesktopServices::setUrlHandler(u"file"_s, this, "openUrl");
        auto* box = m_list.findChild<QMessageBox*>();
        QVERIFY(box && box->isVisible());
        QVERIFY(box->text().startsWith(u"The desktop could not open "_s));
        delete box;

        // Crawl This Folder: only for a folder, and only when someone crawls.
        QVERIFY(!menu->actions().contains(m_menu->crawlFolderAction()));
        QStringList crawled;
        m_menu->setCrawlFolder([&crawled](const QString& folder) { crawled << folder; });
        menu.reset(m_menu->menuFor(index));
        QVERIFY(menu->actions().contains(m_menu->crawlFolderAction()));
        QCOMPARE(m_menu->crawlFolderAction()->isEnabled(), folder);
        m_menu->crawlFolderAction()->trigger();
        QCOMPARE(crawled, folder ? QStringList{QFile::decodeName(path)} : QStringList());
        m_menu->setCrawlFolder({});
    }

    void rowsInListOrder()
    {
        const QModelIndex first = m_crawler.index(0);
        const QModelIndex last = m_crawler.index(3);
        selectOnly({last, first});
        m_menu->copyPathAction()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->data(u"text/plain"_s),
                 RowContextMenu::rawPath(first) + '\n' + RowContextMenu::rawPath(last));
        m_menu->copyAction()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 first.data(ExportTextRole).toString() + u'\n' + last.data(ExportTextRole).toString());
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
        QCOMPARE(RowContextMenu::rawPath(apps.index(0, 0)), u"/Applications/Tööl.app"_s.toUtf8());
        RecordListView list;
        list.setModel(&apps);
        RowContextMenu menu(&list);
        std::unique_ptr<QMenu> shown(menu.menuFor(apps.index(0, 0)));
        QVERIFY(menu.copyPathAction()->isEnabled() && menu.openFolderAction()->isEnabled());
        shown.reset(menu.menuFor(apps.index(1, 0)));
        QVERIFY(!menu.copyPathAction()->isEnabled() && !menu.openFolderAction()->isEnabled());
    }
};

QTEST_MAIN(TestRowContextMenu)
#include "tst_rowcontextmenu.moc"
