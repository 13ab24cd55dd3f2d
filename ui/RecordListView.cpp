#include "ui/RecordListView.h"

#include "core/RecordRoles.h"

#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QKeyEvent>

#include <algorithm>

RecordListView::RecordListView(QWidget* parent) : QListView(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    setLayoutMode(QListView::Batched);
    setBatchSize(512);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideNone);
}

void RecordListView::keyPressEvent(QKeyEvent* event)
{
    // The base class would copy only the current row's display text.
    if (event == QKeySequence::Copy) {
        copySelection();
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

QStringList RecordListView::selectedExportTexts() const
{
    if (!selectionModel())
        return {};
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList texts;
    texts.reserve(rows.size());
    for (const QModelIndex& index : rows)
        texts.append(index.data(ExportTextRole).toString());
    return texts;
}

void RecordListView::copySelection()
{
    const QStringList texts = selectedExportTexts();
    if (texts.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(texts.join(QLatin1Char('\n')));
}
