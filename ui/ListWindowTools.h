#pragma once

#include <QString>

class EmptyListHint;
class FindBar;
class OriginDetailsController;
class QAbstractItemModel;
class QMainWindow;
class RecordListView;
class RowContextMenu;

// What every list window adds around its list, each out of the way until wanted: the find
// bar, the row menu, dragging rows out, the empty-list hint and the details pane.
struct ListWindowTools
{
    FindBar* findBar;
    RowContextMenu* rows;
    EmptyListHint* hint;
    OriginDetailsController* details; // set up by the window, then started with follow()

    // `hint` is shown over the empty list (see EmptyListHint for `model` and `below`, its vertical offset);
    // `offerMacVolume` as OriginDetailsController takes it.
    static ListWindowTools attach(QMainWindow* window, RecordListView* list, const QString& hint,
                                  QAbstractItemModel* model, bool offerMacVolume, int below = 0);
    // The details pane follows the list's current row, and is offered on the row menu.
    void follow(RecordListView* list) const;
};
