#include "app/HelpCommands.h"

#include <QMenuBar>
#include <QWhatsThis>
#include <QtTest>

class TestHelpCommands : public QObject
{
    Q_OBJECT

private slots:
    void takesThePlaceOfStandardItems()
    {
        QMenuBar bar;
        QMenu* help = bar.addMenu(QStringLiteral("&Help"));
        help->addAction(QStringLiteral("Report"));
        help->addAction(QStringLiteral("Help Contents"))->setShortcut(QKeySequence::HelpContents);
        help->addAction(QWhatsThis::createAction(help));
        help->addAction(QStringLiteral("About"));
        QStringList asked;
        HelpCommands commands([&asked](const QString& identifier) { asked << identifier; });
        commands.install(&bar);
        QAction* item = commands.install(&bar); // installing again still leaves one item
        QStringList titles;
        for (const QAction* action : help->actions())
            titles << action->text();
        QCOMPARE(titles, (QStringList{QStringLiteral("Report"), QStringLiteral("Quellmark Help"),
                                      QStringLiteral("About")}));
        QCOMPARE(bar.actions().size(), 1);
        QCOMPARE(item->shortcut(), QKeySequence(QKeySequence::HelpContents));
        item->trigger();
        QCOMPARE(asked, QStringList{QStringLiteral("help")});
    }
};

QTEST_MAIN(TestHelpCommands)
#include "tst_helpcommands.moc"
