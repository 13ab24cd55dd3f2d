#include "crawl/CrawlerView.h"
#include "drop/DropPlaceholder.h"
#include "drop/DropView.h"
#include "drop/FileInfo.h"
#include "drop/QuellmarkDropDelegate.h"
#include "tests/support/AppleDoubleFile.h"
#include "tests/support/TestTree.h"
#include "ui/EmptyListHint.h"
#include "ui/FindBar.h"
#include "ui/RecordListView.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestDropView : public QObject
{
    Q_OBJECT

    TestTree m_tree;
    std::unique_ptr<DropView> m_view;

    // Drags `entries` onto the list: files in the tree (folders when they end in "/"), or URLs with a
    // scheme. As on a desktop, the drop follows only when the drag-enter was accepted.
    bool drop(const QStringList& entries, Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction)
    {
        QList<QUrl> urls;
        for (const QString& entry : entries)
            urls << (entry.contains(u':') ? QUrl(entry)
                                          : QUrl::fromLocalFile(entry.endsWith(u'/') ? m_tree.folder(entry)
                                                                                     : m_tree.file(entry)));
        QMimeData data;
        data.setUrls(urls);
        data.setText(u"file:///etc/passwd"_s); // text alone is no reason to accept
        QWidget* list = m_view->list()->viewport();
        QDragEnterEvent enter(list->rect().center(), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(list->rect().center(), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list, &enter);
        if (enter.isAccepted())
            QCoreApplication::sendEvent(list, &drop);
        // A drop only reads the files: never a move, which the source could take as leave to delete them.
        return enter.isAccepted() && drop.isAccepted() && drop.dropAction() != Qt::MoveAction;
    }

    // Each row's name and values, then the placeholder, the hint and the status line where they show.
    QString shown() const
    {
        QStringList parts;
        auto* row = static_cast<DropView::FileRow*>(m_view->list()->itemDelegate());
        for (int i = 0; i < m_view->list()->model()->rowCount(); ++i)
            parts << row->pieces(m_view->list()->model()->index(i, 0)).mid(0, 3).join(u' ').simplified();
        if (m_view->placeholder()->isVisible())
            parts << u"[placeholder]"_s;
        if (auto* hint = m_view->findChild<EmptyListHint*>(u"emptyListHint"_s); hint->isVisible())
            parts << u"["_s + hint->text() + u"]"_s;
        if (!m_view->unreadableText().isEmpty())
            parts << m_view->unreadableText();
        return parts.join(u", "_s);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"QuellmarkTest"_s);
        QSettings().clear();
        QVERIFY2(m_tree.isValid(), m_tree.problem());
    }

    void init()
    {
        m_view = std::make_unique<DropView>();
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void cleanup() { m_view.reset(); }

    void drops_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<Qt::DropActions>("actions");
        QTest::addColumn<QString>("expected"); // shown() after it; empty: refused

        const auto any = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        const QStringList ab{u"b"_s, u"a c"_s};
        QTest::newRow("files") << ab << any << u"b, a c"_s;
        QTest::newRow("folder") << QStringList{u"F/"_s} << any << u"F"_s;
        QTest::newRow("text, no file URL") << QStringList() << any << QString();
        QTest::newRow("mix") << QStringList{u"https://example.org/x"_s, ab.at(0), u"mailto:a@b.org"_s,
                                            ab.at(1)}
                             << any << u"b, a c"_s;
        QTest::newRow("move only") << ab << Qt::DropActions(Qt::MoveAction) << QString();
        // A file that could not be examined says so in its row, and the window counts it.
        QTest::newRow("a file that vanished") << QStringList{u"file:///nonexistent/gone"_s, ab.at(0)} << any
                                              << u"gone ⚠️ not found, b, 1 could not be read"_s;
    }

    void drops()
    {
        QFETCH(QStringList, entries);
        QFETCH(Qt::DropActions, actions);
        QFETCH(QString, expected);
        // The placeholder, 150 x 150 and centred, shows while the list is empty, the hint under it.
        const QString empty = u"[placeholder], [Drop files here]"_s;
        QCOMPARE(shown(), empty);
        QVERIFY(m_view->findChild<EmptyListHint*>(u"emptyListHint"_s)->geometry().top() >
                m_view->placeholder()->geometry().bottom());
        QCOMPARE(m_view->placeholder()->size(), QSize(150, 150));
        QTRY_COMPARE(m_view->placeholder()->geometry().center(), m_view->list()->viewport()->rect().center());
        QVERIFY(drop({u"earlier"_s}));
        QTRY_COMPARE(shown(), u"earlier"_s);

        QPointer<FileInfo> previous = m_view->fileInfo();
        QCOMPARE(drop(entries, actions), !expected.isEmpty());
        if (expected.isEmpty()) {
            QCOMPARE(shown(), u"earlier"_s);
            return;
        }
        // A new, empty list at once; the files follow from the event loop, and the old list goes.
        QCOMPARE(shown(), empty);
        QTRY_COMPARE(shown(), expected);
        QTRY_VERIFY(previous.isNull());
    }

    void sidecarPreference()
    {
        // Each drop reads the preference that the crawl window's menu item turns over and keeps.
        m_tree.file(u"._invoice.pdf"_s,
                    AppleDoubleFile().add("com.apple.quarantine", "0083;65a1b2c3;Safari;1F2E").bytes());
        for (const bool enabled : {true, false, true}) {
            QVERIFY(drop({u"invoice.pdf"_s}));
            QTRY_COMPARE(shown(), enabled ? u"invoice.pdf 🔸 Safari"_s : u"invoice.pdf"_s);
            CrawlerView crawl;
            QCOMPARE(crawl.readSidecars(), enabled);
            crawl.sidecarsAction()->trigger();
        }
        QSettings().clear();
    }

    void dragRowsOut()
    {
        QVERIFY(drop({u"d0"_s, u"d1"_s, u"d2"_s}));
        QTRY_COMPARE(m_view->fileInfo()->rowCount(), 3);
        RecordListView* list = m_view->list();
        QWidget* viewport = list->viewport();
        list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::Select);
        list->selectionModel()->select(list->model()->index(2, 0), QItemSelectionModel::Select);
        // Pressed on a selected row, both stay selected, so both go with the drag.
        const QPoint third = list->visualRect(list->model()->index(2, 0)).center();
        QTest::mousePress(viewport, Qt::LeftButton, {}, third);
        QCOMPARE(list->selectionModel()->selectedRows().size(), 2);
        QTest::mouseMove(viewport, third + QPoint(QApplication::startDragDistance() + 2, 0));
        auto* drag = list->findChild<QDrag*>();
        QVERIFY(drag);
        const QList<FileDetail>& files = m_view->fileInfo()->fileList();
        QCOMPARE(drag->mimeData()->urls(), (QList<QUrl>{QUrl::fromLocalFile(m_tree.path(u"d0"_s)),
                                                        QUrl::fromLocalFile(m_tree.path(u"d2"_s))}));
        QCOMPARE(drag->mimeData()->text(), files.at(0).exportText() + u'\n' + files.at(2).exportText());
        QCOMPARE(drag->supportedActions(), Qt::CopyAction | Qt::LinkAction); // never a move
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, third);
        // A click without a drag selects that row alone.
        QTest::mouseClick(viewport, Qt::LeftButton, {}, third);
        QCOMPARE(list->selectionModel()->selectedRows(), QModelIndexList{list->model()->index(2, 0)});
        // Let go over the list they came from, they are no new drop.
        QVERIFY(QuellmarkDropDelegate::isOwnDrag(list, viewport));
        QVERIFY(!QuellmarkDropDelegate::isOwnDrag(m_view->findChild<FindBar*>(), viewport));
        QVERIFY(!QuellmarkDropDelegate::isOwnDrag(nullptr, viewport));
        // A new drop starts with nothing selected. (Copying the selection is the list view's own.)
        QVERIFY(drop({u"d1"_s}));
        QVERIFY(!list->selectionModel()->hasSelection());
    }

    void queuedFiles()
    {
        // Both drops before the event loop runs: the first drop's files are still queued and go to
        // the newer list.
        QVERIFY(drop({u"a2"_s, u"a1"_s}) && drop({u"b"_s}));
        QTRY_COMPARE(shown(), u"a2, a1, b"_s);
        // The window goes, with its list and queue, before the queued files' turn.
        QVERIFY(drop({u"late"_s, u"later"_s}));
        QPointer<QuellmarkDropDelegate> delegate = m_view->dropDelegate();
        m_view.reset();
        QVERIFY(delegate.isNull());
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(TestDropView)
#include "tst_dropview.moc"
