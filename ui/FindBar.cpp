#include "ui/FindBar.h"

#include "ui/EmptyListHint.h"
#include "ui/RowFilterModel.h"
#include "ui/TextRowDelegate.h"
#include "ui/WindowCommands.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QStyle>

#include <algorithm>

FindBar::FindBar(QAbstractItemView* list, QMainWindow* window)
    : QToolBar(window), m_list(list), m_find(new QAction(tr("Find…"), window)), m_field(new QLineEdit),
      m_count(new QLabel)
{
    setObjectName(QStringLiteral("findBar"));
    setWindowTitle(tr("Find"));
    setMovable(false);
    setFloatable(false);
    setAllowedAreas(Qt::BottomToolBarArea);
    toggleViewAction()->setVisible(false); // not one of the toolbars a user shows or hides

    auto* label = new QLabel(tr("Find:"));
    label->setBuddy(m_field);
    label->setContentsMargins(4, 0, 4, 0);
    addWidget(label);
    m_field->setClearButtonEnabled(true);
    m_field->setPlaceholderText(tr("Text in any field"));
    addWidget(m_field);
    m_count->setContentsMargins(8, 0, 8, 0);
    addWidget(m_count);
    QAction* close = addAction(style()->standardIcon(QStyle::SP_DialogCloseButton), tr("Close Find Bar"));
    close->setToolTip(tr("Close the find bar (Esc)"));
    connect(close, &QAction::triggered, this, &FindBar::dismiss);

    connect(m_field, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_filter)
            m_filter->setFilterText(text);
    });
    connect(m_field, &QLineEdit::returnPressed, this, &FindBar::focusList);
    // Escape in the field or the list closes the bar, before any window command on that key.
    m_field->installEventFilter(this);
    m_list->installEventFilter(this);

    m_find->setShortcuts(QKeySequence::Find);
    connect(m_find, &QAction::triggered, this, &FindBar::open);
    window->addAction(m_find);
    WindowCommands::mark(m_find, WindowCommands::EditMenu, true);

    window->addToolBar(Qt::BottomToolBarArea, this);
    hide();
    m_noMatch = new EmptyListHint(QString(), m_list, nullptr);
    m_noMatch->setObjectName(QStringLiteral("noMatchHint"));
}

QString FindBar::countText() const
{
    return m_filter ? m_count->text() : QString();
}

void FindBar::setListModel(QAbstractItemModel* model)
{
    if (m_filter)
        m_filter->setSourceModel(model);
    else
        m_list->setModel(model);
}

void FindBar::open()
{
    if (!m_filter) {
        m_filter = new RowFilterModel(this);
        // What the rows show is what is searched, marks included.
        if (auto* rows = qobject_cast<TextRowDelegate*>(m_list->itemDelegate()))
            m_filter->setFields([rows](const QModelIndex& index) { return rows->pieces(index); });
        m_filter->setFilterText(m_field->text());
        connect(m_filter, &RowFilterModel::countsChanged, this, &FindBar::updateCount);
        connect(m_filter, &RowFilterModel::filtered, this, &FindBar::updateCount);
        m_noMatch->setModel(m_filter);
        m_filter->setSourceModel(m_list->model());
        m_held = chosenRows([](const QModelIndex& row) { return row; });
        m_list->setModel(m_filter);
        connect(m_filter, &QAbstractItemModel::modelAboutToBeReset, this, &FindBar::holdSelection);
        connect(m_filter, &RowFilterModel::filtered, this, &FindBar::restoreSelection);
        show();
    }
    updateCount();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void FindBar::dismiss()
{
    if (!m_filter)
        return;
    RowFilterModel* filter = std::exchange(m_filter, nullptr);
    disconnect(filter, nullptr, this, nullptr); // it lives on until deleted, and may still report
    m_held = {};
    const Rows chosen = chosenRows([filter](const QModelIndex& row) { return filter->mapToSource(row); });
    m_noMatch->setHint({});
    m_noMatch->setModel(nullptr);
    m_list->setModel(filter->sourceModel());
    filter->deleteLater();
    hide();
    select(chosen, [](const QModelIndex& row) { return row; });
    m_list->setFocus(Qt::OtherFocusReason);
}

void FindBar::holdSelection()
{
    // The filter shows its rows anew as it examines them, after the bar opens and whenever the
    // text changes. The details pane follows the selection: finding must not blank it.
    if (m_list->model() == m_filter && m_list->selectionModel()->hasSelection())
        m_held = chosenRows([this](const QModelIndex& row) { return m_filter->mapToSource(row); });
}

void FindBar::restoreSelection()
{
    // Rows chosen while the filter worked are the user's choice and stay.
    const Rows held = std::exchange(m_held, {});
    if (m_filter && !m_list->selectionModel()->hasSelection())
        select(held, [this](const QModelIndex& row) { return m_filter->mapFromSource(row); });
}

FindBar::Rows FindBar::chosenRows(const Map& toSource) const
{
    Rows rows{{}, toSource(m_list->currentIndex())};
    if (QItemSelectionModel* selection = m_list->selectionModel()) {
        for (const QModelIndex& index : selection->selectedRows())
            rows.selected.append(toSource(index));
    }
    return rows;
}

void FindBar::select(const Rows& rows, const Map& fromSource)
{
    QList<int> selected;
    for (const QPersistentModelIndex& row : rows.selected) {
        if (const QModelIndex shown = fromSource(row); shown.isValid())
            selected.append(shown.row());
    }
    // Runs of neighbouring rows become one range each.
    std::sort(selected.begin(), selected.end());
    QItemSelection ranges;
    const QAbstractItemModel* model = m_list->model();
    for (qsizetype i = 0; i < selected.size();) {
        qsizetype end = i;
        while (end + 1 < selected.size() && selected.at(end + 1) == selected.at(end) + 1)
            ++end;
        ranges.select(model->index(selected.at(i), 0), model->index(selected.at(end), 0));
        i = end + 1;
    }
    m_list->selectionModel()->select(ranges, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (const QModelIndex current = fromSource(rows.current); current.isValid()) {
        m_list->selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
        m_list->scrollTo(current, QAbstractItemView::PositionAtCenter);
    }
}

bool FindBar::eventFilter(QObject* watched, QEvent* event)
{
    if ((event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) && m_filter &&
        (watched == m_field || watched == m_list)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            // Claimed as the override, so that it comes as a key press and no shortcut takes it.
            if (event->type() == QEvent::KeyPress)
                dismiss();
            event->accept();
            return true;
        }
    }
    return QToolBar::eventFilter(watched, event);
}

void FindBar::updateCount()
{
    if (!m_filter)
        return;
    m_count->setText(tr("%1 of %2").arg(m_filter->rowCount()).arg(m_filter->totalCount()));
    // An empty list under the bar says it is the find text, not the list, that has nothing.
    const bool noMatch = !m_filter->isFiltering() && m_filter->rowCount() == 0 && m_filter->totalCount() > 0;
    m_noMatch->setHint(noMatch ? tr("No row holds \u201c%1\u201d.").arg(m_filter->filterText()) : QString());
}

void FindBar::focusList()
{
    m_list->setFocus(Qt::OtherFocusReason);
    if (!m_list->currentIndex().isValid() && m_list->model()->rowCount() > 0)
        m_list->setCurrentIndex(m_list->model()->index(0, 0));
}
