#include "ui/WindowCommands.h"

#include <QAction>
#include <QVariant>

namespace {

const char kMenuProperty[] = "quellmarkMenu";
const char kSeparatedProperty[] = "quellmarkMenuSeparated";

} // namespace

void WindowCommands::mark(QAction* action, Menu menu, bool separated)
{
    action->setProperty(kMenuProperty, int(menu));
    action->setProperty(kSeparatedProperty, separated);
}

bool WindowCommands::isSeparated(const QAction* action)
{
    return action->property(kSeparatedProperty).toBool();
}

QList<QAction*> WindowCommands::actions(const QObject* window, Menu menu)
{
    QList<QAction*> marked;
    for (QAction* action : window->findChildren<QAction*>()) {
        const QVariant value = action->property(kMenuProperty);
        if (value.isValid() && value.toInt() == int(menu))
            marked.append(action);
    }
    return marked;
}
