#include "app/HelpCommands.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include <utility>

namespace {

const auto kActionName = QStringLiteral("quellmarkHelp");

bool isStandardHelpItem(const QAction* action)
{
    if (action->objectName() == kActionName)
        return true;
    if (QLatin1String(action->metaObject()->className()) == QLatin1String("QWhatsThisAction"))
        return true;
    const QList<QKeySequence> shortcuts = action->shortcuts();
    for (const auto standard : {QKeySequence::HelpContents, QKeySequence::WhatsThis}) {
        for (const QKeySequence& key : QKeySequence::keyBindings(standard)) {
            if (shortcuts.contains(key))
                return true;
        }
    }
    return false;
}

QString plainTitle(QString title)
{
    return title.remove(QLatin1Char('&'));
}

} // namespace

HelpCommands::HelpCommands(OpenWindow openWindow, QObject* parent)
    : QObject(parent), m_openWindow(std::move(openWindow))
{}

QAction* HelpCommands::install(QMenuBar* menuBar)
{
    for (QAction* entry : menuBar->actions()) {
        QMenu* menu = entry->menu();
        if (menu && plainTitle(entry->text()).compare(plainTitle(tr("&Help")), Qt::CaseInsensitive) == 0)
            return install(menu);
    }
    QMenu* menu = menuBar->addMenu(tr("&Help"));
    menu->setObjectName(QStringLiteral("helpMenu"));
    return install(menu);
}

QAction* HelpCommands::install(QMenu* helpMenu)
{
    // The item takes the place of the first standard item, or the top of the menu.
    qsizetype place = 0;
    bool replaced = false;
    const QList<QAction*> existing = helpMenu->actions();
    for (qsizetype i = 0; i < existing.size(); ++i) {
        QAction* action = existing.at(i);
        if (!isStandardHelpItem(action))
            continue;
        if (!replaced)
            place = i;
        replaced = true;
        helpMenu->removeAction(action);
        if (action->parent() == helpMenu)
            action->deleteLater();
    }
    QAction* before = helpMenu->actions().value(place);

    auto* action = new QAction(tr("Quellmark Help"), helpMenu);
    action->setObjectName(kActionName);
    // The desktop's key for help contents.
    action->setShortcut(QKeySequence::HelpContents);
    action->setMenuRole(QAction::NoRole);
    connect(action, &QAction::triggered, this, &HelpCommands::openHelp);
    helpMenu->insertAction(before, action);
    return action;
}

void HelpCommands::openHelp()
{
    if (m_openWindow)
        m_openWindow(windowIdentifier());
    emit openWindowRequested(windowIdentifier());
}
