#include "ui/CustomizableToolBar.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QSettings>
#include <QStyle>

namespace {

const char kItemProperty[] = "quellmarkItemIdentifier";

} // namespace

CustomizableToolBar::CustomizableToolBar(const QString& identifier, QWidget* parent) : QToolBar(parent)
{
    setObjectName(identifier);
    setWindowTitle(tr("Toolbar"));
    setMovable(true);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &CustomizableToolBar::showCustomizeMenu);
    connect(this, &QToolBar::topLevelChanged, this, [this](bool floating) {
        if (!floating)
            rememberArea();
    });
}

QAction* CustomizableToolBar::addItem(const QString& itemIdentifier, const QString& title,
                                      const QString& toolTip, const QString& themeIcon,
                                      QStyle::StandardPixmap fallback)
{
    const QIcon icon = QIcon::fromTheme(themeIcon, QApplication::style()->standardIcon(fallback));
    QAction* action = addAction(icon, title);
    action->setObjectName(itemIdentifier);
    action->setProperty(kItemProperty, itemIdentifier);
    action->setToolTip(toolTip);
    action->setVisible(QSettings().value(settingsKey(itemIdentifier), true).toBool());
    return action;
}

QAction* CustomizableToolBar::item(const QString& itemIdentifier) const
{
    for (QAction* action : actions()) {
        if (action->property(kItemProperty).toString() == itemIdentifier)
            return action;
    }
    return nullptr;
}

QStringList CustomizableToolBar::itemIdentifiers() const
{
    QStringList identifiers;
    for (QAction* action : actions()) {
        const QString id = action->property(kItemProperty).toString();
        if (!id.isEmpty())
            identifiers.append(id);
    }
    return identifiers;
}

void CustomizableToolBar::setItemShown(const QString& itemIdentifier, bool shown)
{
    if (QAction* action = item(itemIdentifier)) {
        action->setVisible(shown);
        QSettings().setValue(settingsKey(itemIdentifier), shown);
    }
}

Qt::ToolBarArea CustomizableToolBar::savedArea() const
{
    const int area =
        QSettings().value(QStringLiteral("toolbars/%1/area").arg(identifier()), Qt::TopToolBarArea).toInt();
    switch (area) {
    case Qt::LeftToolBarArea:
    case Qt::RightToolBarArea:
    case Qt::BottomToolBarArea:
        return Qt::ToolBarArea(area);
    default:
        return Qt::TopToolBarArea;
    }
}

QString CustomizableToolBar::settingsKey(const QString& itemIdentifier) const
{
    return QStringLiteral("toolbars/%1/%2/shown").arg(identifier(), itemIdentifier);
}

void CustomizableToolBar::showCustomizeMenu(const QPoint& position)
{
    QMenu menu(this);
    menu.setTitle(tr("Customize Toolbar"));
    for (QAction* action : actions()) {
        const QString id = action->property(kItemProperty).toString();
        if (id.isEmpty())
            continue;
        QAction* toggle = menu.addAction(action->text());
        toggle->setCheckable(true);
        toggle->setChecked(action->isVisible());
        connect(toggle, &QAction::toggled, this, [this, id](bool shown) { setItemShown(id, shown); });
    }
    menu.exec(mapToGlobal(position));
}

void CustomizableToolBar::rememberArea()
{
    auto* window = qobject_cast<QMainWindow*>(parentWidget());
    if (!window || isFloating())
        return;
    QSettings().setValue(QStringLiteral("toolbars/%1/area").arg(identifier()),
                         int(window->toolBarArea(this)));
}
