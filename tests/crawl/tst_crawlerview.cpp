#include "crawl/CrawlQueue.h"
#include "crawl/Crawler.h"
#include "crawl/CrawlerView.h"
#include "crawl/FileRow.h"
#include "crawl/ImageVolumeChooser.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"
#include "tests/support/WalkGate.h"
#include "ui/EmptyListHint.h"
#include "ui/FindBar.h"
#include "ui/OriginDetailsController.h"
#include "ui/OriginDetailsPane.h"
#include "ui/RecordListView.h"
#include "ui/RowContextMenu.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestCrawlerView : public QObject
{
    Q_OBJECT

    TestTree m_tree;   // two files with provenance, one with only a quarantine value
    TestTree m_held;   // 300 files and two folders of 20, all with provenance
    TestTree m_images; // an APFS container written by the test writer, and a text file

    // The visible windows of type T (file dialogs, message boxes).
    template<class T> static QList<T*> shown()
    {
        QList<T*> found;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<T*>(widget); window && window->isVisible())
                found.append(window);
        return found;
    }

    // The list's rows as `role` gives them.
    static QStringList rows(const CrawlerView& view, int role)
    {
        QStringList texts;
        for (int row = 0; row < view.list()->model()->rowCount(); ++row)
            texts << view.list()->model()->index(row, 0).data(role).toString();
        return texts;
    }

    // The count line, the status line without its time (nor the note a run as non-root adds), and
    // the Stop button when it shows.
    static QString lines(const CrawlerView& view)
    {
        QStringList status = view.statusText().split(u" · "_s);
        status.removeIf(
            [](const QString& part) { return part.endsWith(u" s"_s) || part.startsWith(u"access"_s); });
        auto* stop = view.findChild<QPushButton*>();
        return view.countText() + u" | "_s + status.join(u" · "_s) +
               (stop->isHidden()    ? QString()
                : stop->isEnabled() ? u" | Stop"_s
                                    : u" | Stop, disabled"_s);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"QuellmarkTest"_s);
        QSettings().clear();
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        m_tree.setProvenance(m_tree.file(u"f0"_s), "\x01");
        m_tree.setProvenance(m_tree.file(u"f1"_s), "\x02");
        m_tree.setQuarantine(m_tree.file(u"quarantined only"_s), "0083;1;Browser;2");
        for (int i = 0; i < 300; ++i)
            m_held.setProvenance(m_held.file(u"f%1"_s.arg(i)), "\x07");
        for (const QString& sub : {u"a"_s, u"b"_s}) {
            m_held.setProvenance(m_held.folder(sub), "\x08");
            for (int i = 0; i < 20; ++i)
                m_held.setProvenance(m_held.file(sub + u"/g%1"_s.arg(i)), "\x09");
        }
        for (const QStringList& image :
             {QStringList{u"container.img"_s}, QStringList{u"huge.img"_s, u"--users"_s, u"--huge-policy"_s},
              QStringList{u"locked.img"_s, u"--password"_s, u"correct horse"_s}}) {
            QProcess writer;
            writer.start(u"/usr/bin/python3"_s,
                         QStringList{QStringLiteral(APFS_WRITER), m_images.path(image.first())} +
                             image.mid(1));
            QVERIFY(writer.waitForFinished(60000));
            QCOMPARE(writer.exitCode(), 0);
        }
        m_images.file(u"notes.txt"_s, "just some text\n");
    }

    // Ctrl+Shift+O asks for an image; its volumes' rows come in as a folder's do.
    void openDiskImage_data()
    {
        QTest::addColumn<QString>("image"); // locked.img: a password is asked for, and the dialog cancelled
        QTest::addColumn<QString>("unchecked"); // a volume left out when they are chosen; else all
        QTest::addColumn<QStringList>("rows");  // name | provenance | quarantine | path
        QTest::addColumn<QString>("lines");     // see lines()
        QTest::addColumn<QString>("detail");    // a line of the fifth row's details
        const QString provenance = u"❓ 0x0102008877665544332211"_s;
        const QStringList every{
            u".hidden | %1 |  | /Data/.hidden"_s.arg(provenance),
            u"caf\ufffd list.txt | %1 |  | /Data/Documents/caf%E9%20list.txt"_s.arg(provenance),
            u"Downloads | %1 |  | /Data/Downloads/"_s.arg(provenance),
            u"empty.txt |  | 🔸 unknown | /Data/Downloads/empty.txt"_s,
            u"installer.dmg | %1 | 🔸 Safari | /Data/Downloads/installer.dmg"_s.arg(provenance),
            u"Tool.app | ❓ 0x0102000102030405060708 |  | /System/Applications/Tool.app/"_s};
        const QString quarantine =
            u"  com.apple.quarantine (57 bytes): 0083;65a1b2c3;Safari;8C7D5E1F-1111-2222-3333-444455556666"_s;
        QTest::newRow("APFS container, every volume")
            << u"container.img"_s << QString() << every << u"6 files found | Finished: 9 entries examined"_s
            << quarantine;
        // Linked to the image's own databases, but one that is too large.
        QTest::newRow("a database refused") << u"huge.img"_s << QString() << every
                                            << u"6 files found | Finished: 19 entries examined · "
                                               u"/Data/private/var/db/SystemPolicyConfiguration/"
                                               u"ExecPolicy: 314572800 bytes, larger than 256 MiB; not read"_s
                                            << u"  Agent Bundle ID: com.apple.Safari"_s;
        QTest::newRow("a password asked for, and not given")
            << u"locked.img"_s << QString() << every.mid(0, 5)
            << u"5 files found | Finished: 7 entries examined · The volume System is encrypted: give its "
               u"password "
               u"to read it"_s
            << quarantine;
        // One volume chosen: its rows without its name, and no password asked for the other one.
        QStringList data = every.mid(0, 5);
        data.replaceInStrings(u"/Data/"_s, u"/"_s);
        QTest::newRow("the locked volume left out")
            << u"locked.img"_s << u"System"_s << data << u"5 files found | Finished: 7 entries examined"_s
            << quarantine;
        QTest::newRow("not an image")
            << u"notes.txt"_s << QString() << QStringList()
            << u"0 files found | The disk image could not be read: no volume found: no partition map, APFS "
               u"container or file system that Sleuth Kit can read"_s
            << QString();
    }

    void openDiskImage()
    {
        QFETCH(QString, image);
        QFETCH(QString, unchecked);
        QFETCH(QStringList, rows);
        QFETCH(QString, lines);
        QFETCH(QString, detail);
        CrawlerView view;
        view.setShowQuarantine(true);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QTest::keyClick(&view, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
        QFileDialog* dialog = shown<QFileDialog>().value(0);
        QVERIFY(dialog && dialog->fileMode() == QFileDialog::ExistingFile);
        QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
        emit dialog->fileSelected(m_images.path(image));
        dialog->close();
        if (auto* chooser = view.findChild<ImageVolumeChooser*>(); chooser && !rows.isEmpty()) {
            QVERIFY(!view.crawler()->isRunning());
            for (int row = 0; row < chooser->list()->count(); ++row)
                if (chooser->list()->item(row)->text().startsWith(unchecked + u" ("_s))
                    chooser->list()->item(row)->setCheckState(Qt::Unchecked);
            chooser->accept();
        }
        auto* password = view.findChild<QInputDialog*>();
        QCOMPARE(password != nullptr, image == u"locked.img"_s && unchecked.isEmpty());
        if (password) {
            // Asked, naming the volume, never echoed; cancelled: that volume is passed over.
            QCOMPARE(password->textEchoMode(), QLineEdit::Password);
            QVERIFY2(password->labelText().contains(u"System"_s), qPrintable(password->labelText()));
            QVERIFY(!view.crawler()->isRunning());
            password->reject();
        }
        QVERIFY(finished.wait());
        QCOMPARE(TestCrawlerView::rows(view, ExportTextRole), rows);
        QCOMPARE(view.filePathText() + u'\n' + TestCrawlerView::lines(view),
                 m_images.path(image) + u'\n' + lines);
        if (rows.isEmpty())
            return;
        // Its details are read through the image and linked to the image's own databases;
        // nothing on this machine is read, opened or dragged for it.
        auto* details = view.findChild<OriginDetailsController*>();
        details->showAction()->trigger();
        QSignalSpy filled(details, &OriginDetailsController::shown);
        view.list()->setCurrentIndex(view.list()->model()->index(4, 0));
        QVERIFY(filled.wait());
        const QStringList text = details->pane()->text().split(u'\n');
        QVERIFY2(text.contains(detail) && text.contains(u"  Path: "_s + rows.at(4).section(u" | "_s, 3)),
                 qPrintable(details->pane()->text()));
        auto* rowMenu = view.findChild<RowContextMenu*>();
        delete rowMenu->menuFor(view.list()->currentIndex());
        QVERIFY(!rowMenu->openFolderAction()->isEnabled() && rowMenu->copyPathAction()->isEnabled());
    }

    // While the walk is held at one entry (as on a hung share), what it found before it in walk order is
    // drawn and can be reached, records other threads examined after it wait, the count moves with the rows,
    // and Stop keeps exactly that and the held entry.
    void rowsShowWhileTheCrawlRuns()
    {
        // Held at a file of the folder itself, halfway in walk order (which the file system decides), so the
        // rows before it fill more than the list.
        const QList<QByteArray> order = TestTree::walkOrder(m_held.root());
        QByteArrayList files; // the folder's own
        for (const QByteArray& entry : order)
            if (entry.startsWith('f'))
                files.append(entry);
        const QByteArray held = files.at(files.size() / 2);
        QStringList paths;
        for (const QByteArray& entry : order.first(order.indexOf(held) + 1))
            paths.append(m_held.root() + u'/' + QString::fromUtf8(entry));
        const qsizetype before = paths.size() - 1;

        WalkGate gate(held);
        CrawlerView view;
        QAbstractItemModelTester tester(view.crawler(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        view.resize(600, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.crawlFolder(QFile::encodeName(m_held.root()));
        QVERIFY(gate.waitUntilHeld());
        RecordListView* list = view.list();
        QTRY_COMPARE(rows(view, PathRole), paths.mid(0, before));
        QTRY_COMPARE(lines(view), u"%1 files found | Crawling… %1 entries examined | Stop"_s.arg(before));
        QCOMPARE(list->indexAt(QPoint(1, 1)).row(), 0);
        // The first row's text is drawn: its strip is not all one colour.
        const QImage firstRow =
            list->viewport()->grab(list->visualRect(list->model()->index(0, 0))).toImage();
        QImage blank(firstRow.size(), firstRow.format());
        blank.fill(firstRow.pixel(0, 0));
        QVERIFY(firstRow != blank);

        // Saving now asks first, and then says that the file holds a partial list.
        const auto shownBox = [] { return shown<QMessageBox>().value(0); };
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QTest::keyClick(&view, Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY(shownBox());
        QCOMPARE(shownBox()->text(),
                 u"The crawl is still running: save the %1 rows found so far?"_s.arg(before));
        shownBox()->button(QMessageBox::Save)->click();
        QFileDialog* save = shown<QFileDialog>().value(0);
        QVERIFY(save && save->acceptMode() == QFileDialog::AcceptSave);
        QTemporaryDir out;
        const QString csv = out.filePath(u"partial.csv"_s);
        emit save->fileSelected(csv);
        save->close();
        QTRY_VERIFY(shownBox());
        QVERIFY(shownBox()->text().startsWith(csv + u" holds a partial list: the %1 rows"_s.arg(before)));
        shownBox()->close();
        QCOMPARE(ToolRun::contents(QFile::encodeName(csv)).count('\n'), before + 1);

        QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
        // Escape closes the find bar first, then stops, as the Stop button does.
        QTest::keyClick(&view, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(view.findChild<FindBar*>()->isOpen());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!view.findChild<FindBar*>()->isOpen());
        QVERIFY(view.crawler()->status() == Crawler::Running);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(lines(view),
                 u"%1 files found | Stopping… %1 entries examined | Stop, disabled"_s.arg(before));
        gate.release();
        QVERIFY(finished.wait());
        // The held entry's examination ended after the stop, and counts; nothing after it, then or later.
        QCOMPARE(lines(view), u"%1 files found | Stopped: %1 entries examined"_s.arg(before + 1));
        crawlQueue()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(rows(view, PathRole), paths);
    }

    // The count and status lines, and what an empty list says: what to do first, what the crawl
    // passed over, or that the find text matches nothing.
    void finishedCrawlSays_data()
    {
        // f: a plain file; q: one with only a quarantine value; l: a link; "-": no crawl; "missing"
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("find");  // typed into the find bar, quarantine shown; null: neither
        QTest::addColumn<QString>("lines"); // see lines()
        QTest::addColumn<QString>("hint");  // empty: none shown
        const QString none = u": none carries these attributes."_s;
        QTest::newRow("no crawl yet")
            << u"-"_s << QString() << u"0 files found | "_s << u"Choose a folder with Load Folder"_s;
        QTest::newRow("missing folder")
            << u"missing"_s << QString()
            << u"0 files found | The folder could not be read: No such file or directory"_s << QString();
        QTest::newRow("empty folder")
            << QString() << QString() << u"0 files found | Finished: 0 entries examined"_s
            << u"The folder is empty."_s;
        QTest::newRow("one file") << u"f"_s << QString() << u"0 files found | Finished: 1 entry examined"_s
                                  << u"1 entry examined"_s + none;
        QTest::newRow("a link")
            << u"ffl"_s << QString()
            << u"0 files found | Finished: 2 entries examined · 1 symbolic link not followed"_s
            << u"2 entries examined"_s + none;
        QTest::newRow("links")
            << u"fll"_s << QString()
            << u"0 files found | Finished: 1 entry examined · 2 symbolic links not followed"_s
            << u"1 entry examined"_s + none;
        QTest::newRow("quarantine left out")
            << u"fqq"_s << QString() << u"0 files found | Finished: 3 entries examined"_s
            << u"3 entries examined"_s + none +
                   u" Show Quarantine would list 2 more (load the folder again)."_s;
        // The count line counts every row, the ones the find bar hides too.
        QTest::newRow("find text matches nothing")
            << u"qq"_s << u"nowhere"_s << u"2 files found | Finished: 2 entries examined"_s
            << u"No row holds “nowhere”."_s;
    }

    void finishedCrawlSays()
    {
        QFETCH(QString, entries);
        QFETCH(QString, find);
        QFETCH(QString, lines);
        QFETCH(QString, hint);
        TestTree tree;
        for (int i = 0; i < entries.size() && entries != u"missing"_s; ++i) {
            const QString name = entries.at(i) + QString::number(i);
            if (entries.at(i) == u'l')
                tree.symlink(u"/"_s, name);
            else if (entries.at(i) == u'q')
                tree.setQuarantine(tree.file(name), "0081;1;Browser;2");
            else
                tree.file(name);
        }
        CrawlerView view;
        view.setShowQuarantine(!find.isNull());
        if (!find.isNull()) { // before the rows stream in
            view.findChild<FindBar*>()->open();
            view.findChild<FindBar*>()->field()->setText(find);
        }
        QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
        if (entries != u"-"_s)
            view.crawlFolder(QFile::encodeName(entries == u"missing"_s ? tree.path(entries) : tree.root()));
        QVERIFY(entries == u"-"_s || finished.wait(20000));
        QCOMPARE(TestCrawlerView::lines(view), lines);
        auto* label = view.findChild<EmptyListHint*>(find.isNull() ? u"emptyListHint"_s : u"noMatchHint"_s);
        QTRY_COMPARE(label->isShown() ? label->text() : QString(), hint);
    }

    // Ctrl+G opens this window's folder dialog only; the crawl takes the switch as it was at the press.
    void ctrlGCrawlsWithTheSwitchAtThePress()
    {
        QVERIFY(!CrawlerView().showQuarantine()); // the preference is read, never written
        QSettings().setValue(u"showQuarCrawler"_s, true);
        QMainWindow other; // with its own Ctrl+G, as the main window has
        QAction* otherLoad = other.addAction(u"other"_s);
        otherLoad->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
        QSignalSpy otherTriggered(otherLoad, &QAction::triggered);
        CrawlerView view;
        QAbstractItemModelTester tester(view.crawler(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
        view.show();
        other.show();
        for (QWidget* window : {static_cast<QWidget*>(&other), static_cast<QWidget*>(&view)}) {
            window->activateWindow(); // Ctrl+G pressed in each window must do only its own
            QVERIFY(QTest::qWaitForWindowActive(window));
            QTest::keyClick(window, Qt::Key_G, Qt::ControlModifier);
        }
        QCOMPARE(otherTriggered.count(), 1);
        const QList<QFileDialog*> dialogs = shown<QFileDialog>();
        QCOMPARE(dialogs.size(), 1);
        QCOMPARE(dialogs.first()->fileMode(), QFileDialog::Directory);
        QVERIFY(dialogs.first()->filter().testFlag(QDir::Hidden));
        view.findChild<QCheckBox*>()->click(); // on at the press, as read
        QVERIFY(!view.showQuarantine());
        emit dialogs.first()->fileSelected(m_tree.root());
        QVERIFY(finished.wait());
        QCOMPARE(QSettings().value(u"showQuarCrawler"_s), QVariant(true));
        QCOMPARE(view.filePathText(), m_tree.root());
        QCOMPARE(lines(view),
                 u"3 files found | Finished: 3 entries examined"_s); // the quarantine-only file too

        // What is shown is what is copied; the quarantine-only row leaves its provenance empty.
        auto* row = qobject_cast<FileRow*>(view.list()->itemDelegate());
        QStringList pieces;
        for (int i = 0; i < view.list()->model()->rowCount(); ++i)
            pieces << row->pieces(view.list()->model()->index(i, 0)).join(u" | "_s);
        QCOMPARE(pieces, rows(view, ExportTextRole));
        QVERIFY(pieces.contains(u"quarantined only |  | 🔸 Browser | "_s + m_tree.root() +
                                u"/quarantined%20only"_s));
    }
};

QTEST_MAIN(TestCrawlerView)
#include "tst_crawlerview.moc"
