#pragma once

#include <QModelIndexList>
#include <QObject>
#include <QPersistentModelIndex>
#include <QPoint>

class QMimeData;
class QWidget;
class RecordListView;

// Dragging rows out of a list: the selected rows' files go as URLs (text/uri-list), with
// their copy text as plain text, offered for copying or linking, never for moving.
class RowDrag : public QObject
{
    Q_OBJECT

public:
    explicit RowDrag(RecordListView* list);

    // What a drag of `rows` carries (rows in list order).
    static QMimeData* mimeData(const QModelIndexList& rows);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startDrag();

    RecordListView* m_list;
    QWidget* m_viewport;
    QPersistentModelIndex m_pressed;
    QPoint m_pressPosition;
};
