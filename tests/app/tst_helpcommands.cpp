#include "app/HelpCommands.h"

#include <QtTest>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QWhatsThis>

namespace {

QList<QAction*> itemsTitled(const QMenuBar& bar, const QString& title)
{
    QList<QAction*> found;
    for (QAction* top : bar.actions()) {
        if (!top->menu())
            continue;
        for (QAction* item : top->menu()->actions()) {
            if (item->text() == title)
                found << item;
        }
    }
    return found;
}

QStringList titles(const QMenu* menu)
{
    QStringList list;
    for (const QAction* action : menu->actions())
        list << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return list;
}

} // namespace

class TestHelpCommands : public QObject
{
    Q_OBJECT

private slots:
    void replacesStandardItems_data();
    void replacesStandardItems();
    void addsAHelpMenuWhenThereIsNone();
    void installingAgainKeepsOneItem();
    void choosingTheItemAsksForTheHelpWindow();
    void servesTheMenusOfSeveralWindows();
};

void TestHelpCommands::replacesStandardItems_data()
{
    // What the Help menu holds before, and what it must hold after.
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");

    QTest::newRow("empty") << QStringList() << QStringList{QStringLiteral("Quellmark Help")};
    QTest::newRow("F1 item") << QStringList{QStringLiteral("F1:Help Contents")}
                             << QStringList{QStringLiteral("Quellmark Help")};
    QTest::newRow("What's This") << QStringList{QStringLiteral("whatsthis"), QStringLiteral("-"),
                                                QStringLiteral("About Quellmark")}
                                 << QStringList{QStringLiteral("Quellmark Help"), QStringLiteral("-"),
                                                QStringLiteral("About Quellmark")};
    QTest::newRow("standard items among others")
        << QStringList{QStringLiteral("Report a Problem"), QStringLiteral("F1:Help Contents"),
                       QStringLiteral("Shift+F1:What's This?"), QStringLiteral("About Quellmark")}
        << QStringList{QStringLiteral("Report a Problem"), QStringLiteral("Quellmark Help"),
                       QStringLiteral("About Quellmark")};
    QTest::newRow("no standard item")
        << QStringList{QStringLiteral("About Quellmark")}
        << QStringList{QStringLiteral("Quellmark Help"), QStringLiteral("About Quellmark")};
}

void TestHelpCommands::replacesStandardItems()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QMenuBar bar;
    bar.addMenu(QStringLiteral("&File"));
    QMenu* help = bar.addMenu(QStringLiteral("&Help"));
    for (const QString& entry : before) {
        if (entry == QLatin1String("-")) {
            help->addSeparator();
        } else if (entry == QLatin1String("whatsthis")) {
            help->addAction(QWhatsThis::createAction(help));
        } else if (entry.contains(QLatin1Char(':'))) {
            QAction* action = help->addAction(entry.section(QLatin1Char(':'), 1));
            action->setShortcut(QKeySequence(entry.section(QLatin1Char(':'), 0, 0)));
        } else {
            help->addAction(entry);
        }
    }

    HelpCommands commands;
    QAction* item = commands.install(&bar);
    QVERIFY(item);
    QCOMPARE(bar.actions().size(), 2); // no second Help menu
    QCOMPARE(titles(help), after);
    QCOMPARE(item->text(), QStringLiteral("Quellmark Help"));
    QVERIFY(item->shortcut().isEmpty());
    QVERIFY(item->shortcuts().isEmpty());
    QCOMPARE(item->menuRole(), QAction::NoRole);
    for (const QAction* action : help->actions())
        QVERIFY2(action->shortcut() != QKeySequence(QKeySequence::HelpContents), "no F1 item is left");
}

void TestHelpCommands::addsAHelpMenuWhenThereIsNone()
{
    QMenuBar bar;
    QMenu* file = bar.addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("Quit"));
    HelpCommands commands;
    QAction* item = commands.install(&bar);
    QCOMPARE(bar.actions().size(), 2);
    QMenu* help = bar.actions().last()->menu();
    QVERIFY(help);
    QCOMPARE(help->title(), QStringLiteral("&Help"));
    QCOMPARE(help->actions(), QList<QAction*>{item});
    QCOMPARE(titles(file), QStringList{QStringLiteral("Quit")});
}

void TestHelpCommands::installingAgainKeepsOneItem()
{
    QMenuBar bar;
    int opened = 0;
    HelpCommands commands([&opened](const QString&) { ++opened; });
    commands.install(&bar);
    QAction* second = commands.install(&bar);
    QCOMPARE(bar.actions().size(), 1);
    QCOMPARE(itemsTitled(bar, QStringLiteral("Quellmark Help")), QList<QAction*>{second});
    second->trigger();
    QCOMPARE(opened, 1);
}

void TestHelpCommands::choosingTheItemAsksForTheHelpWindow()
{
    QStringList asked;
    HelpCommands commands([&asked](const QString& identifier) { asked << identifier; });
    QSignalSpy spy(&commands, &HelpCommands::openWindowRequested);
    QMenuBar bar;
    QAction* item = commands.install(&bar);
    QVERIFY(asked.isEmpty());
    item->trigger();
    QCOMPARE(asked, QStringList{QStringLiteral("help")});
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("help"));
    item->trigger();
    QCOMPARE(asked.size(), 2);
    QCOMPARE(spy.size(), 2);

    // Without an open-window function the signal alone carries the request.
    HelpCommands signalOnly;
    QSignalSpy onlySpy(&signalOnly, &HelpCommands::openWindowRequested);
    QMenu menu;
    signalOnly.install(&menu)->trigger();
    QCOMPARE(onlySpy.size(), 1);
}

void TestHelpCommands::servesTheMenusOfSeveralWindows()
{
    QStringList asked;
    HelpCommands commands([&asked](const QString& identifier) { asked << identifier; });
    QMenuBar main;
    QMenuBar crawl;
    QAction* fromMain = commands.install(&main);
    QAction* fromCrawl = commands.install(&crawl);
    QVERIFY(fromMain != fromCrawl);
    QCOMPARE(itemsTitled(main, QStringLiteral("Quellmark Help")).size(), 1);
    QCOMPARE(itemsTitled(crawl, QStringLiteral("Quellmark Help")).size(), 1);
    fromCrawl->trigger();
    fromMain->trigger();
    QCOMPARE(asked, (QStringList{QStringLiteral("help"), QStringLiteral("help")}));
}

QTEST_MAIN(TestHelpCommands)
#include "tst_helpcommands.moc"
