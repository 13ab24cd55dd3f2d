#include "ui/CustomizableToolBar.h"

#include "ui/WindowCommands.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QSettings>
#include <QStyle>

CustomizableToolBar::CustomizableToolBar(const QString& identifier, QWidget* parent)
    : QToolBar(parent), m_customizeMenu(new QMenu(tr("Toolbar Buttons"), this)),
      m_reset(new QAction(tr("Reset Toolbar"), this))
{
    setObjectName(identifier);
    setWindowTitle(tr("Toolbar"));
    setMovable(true);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        QMenu menu(this);
        menu.addActions(m_customizeMenu->actions());
        menu.addSeparator();
        menu.addAction(m_reset);
        menu.exec(mapToGlobal(position));
    });
    connect(this, &QToolBar::topLevelChanged, this, [this](bool floating) {
        if (!floating)
            rememberArea();
    });

    connect(m_reset, &QAction::triggered, this, &CustomizableToolBar::reset);
    // With every button hidden the bar is a thin strip; the View menu still has these.
    WindowCommands::mark(m_customizeMenu->menuAction(), WindowCommands::ViewMenu);
    WindowCommands::mark(m_reset, WindowCommands::ViewMenu);
}

QAction* CustomizableToolBar::addItem(const QString& itemIdentifier, const QString& title,
                                      const QString& toolTip, const QString& themeIcon,
                                      QStyle::StandardPixmap fallback)
{
    const QIcon icon = QIcon::fromTheme(themeIcon, QApplication::style()->standardIcon(fallback));
    // The command belongs to the window, so hiding the button cannot switch off its shortcut.
    QWidget* window = parentWidget();
    auto* command = new QAction(icon, title, window ? static_cast<QObject*>(window) : this);
    command->setObjectName(itemIdentifier);
    command->setToolTip(toolTip);
    if (window)
        window->addAction(command);
    WindowCommands::mark(command, WindowCommands::FileMenu);

    QAction* button = addAction(icon, title);
    button->setObjectName(itemIdentifier + QStringLiteral("Button"));
    button->setToolTip(toolTip);
    connect(button, &QAction::triggered, command, &QAction::trigger);
    connect(command, &QAction::changed, button, [command, button, toolTip] {
        button->setEnabled(command->isEnabled());
        // The button names its key, which a toolbar would not show anywhere.
        const QString key = command->shortcut().toString(QKeySequence::NativeText);
        button->setToolTip(key.isEmpty() ? toolTip : tr("%1 (%2)").arg(toolTip, key));
    });

    auto* toggle = new QAction(title, this);
    toggle->setCheckable(true);
    m_customizeMenu->addAction(toggle);
    connect(toggle, &QAction::toggled, this,
            [this, itemIdentifier](bool shown) { setItemShown(itemIdentifier, shown); });

    m_items.append({itemIdentifier, command, button, toggle});
    const bool shown = QSettings().value(settingsKey(itemIdentifier), true).toBool();
    button->setVisible(shown);
    toggle->setChecked(shown);
    return command;
}

const CustomizableToolBar::Item* CustomizableToolBar::find(const QString& itemIdentifier) const
{
    for (const Item& entry : m_items) {
        if (entry.identifier == itemIdentifier)
            return &entry;
    }
    return nullptr;
}

QAction* CustomizableToolBar::item(const QString& itemIdentifier) const
{
    const Item* entry = find(itemIdentifier);
    return entry ? entry->command : nullptr;
}

QAction* CustomizableToolBar::button(const QString& itemIdentifier) const
{
    const Item* entry = find(itemIdentifier);
    return entry ? entry->button : nullptr;
}

QStringList CustomizableToolBar::itemIdentifiers() const
{
    QStringList identifiers;
    for (const Item& entry : m_items)
        identifiers.append(entry.identifier);
    return identifiers;
}

bool CustomizableToolBar::isItemShown(const QString& itemIdentifier) const
{
    const Item* entry = find(itemIdentifier);
    return entry && entry->button->isVisible();
}

void CustomizableToolBar::setItemShown(const QString& itemIdentifier, bool shown)
{
    const Item* entry = find(itemIdentifier);
    if (!entry)
        return;
    entry->button->setVisible(shown);
    entry->toggle->setChecked(shown); // no loop: toggled is not emitted for an unchanged state
    QSettings().setValue(settingsKey(itemIdentifier), shown);
}

void CustomizableToolBar::reset()
{
    for (const Item& entry : m_items) {
        entry.button->setVisible(true);
        entry.toggle->setChecked(true);
    }
    QSettings().remove(QStringLiteral("toolbars/%1").arg(identifier()));
    if (auto* window = qobject_cast<QMainWindow*>(parentWidget()))
        window->addToolBar(Qt::TopToolBarArea, this);
    show();
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

void CustomizableToolBar::rememberArea()
{
    auto* window = qobject_cast<QMainWindow*>(parentWidget());
    if (!window || isFloating())
        return;
    QSettings().setValue(QStringLiteral("toolbars/%1/area").arg(identifier()),
                         int(window->toolBarArea(this)));
}
