#include "ui/ListWindowTools.h"

#include "ui/EmptyListHint.h"
#include "ui/FindBar.h"
#include "ui/OriginDetailsController.h"
#include "ui/RecordListView.h"
#include "ui/RowContextMenu.h"
#include "ui/RowDrag.h"

ListWindowTools ListWindowTools::attach(QMainWindow* window, RecordListView* list, const QString& hint,
                                        QAbstractItemModel* model, bool offerMacVolume, int below)
{
    auto* findBar = new FindBar(list, window);
    auto* rows = new RowContextMenu(list);
    new RowDrag(list);
    auto* shownHint = new EmptyListHint(hint, list, model, below);
    return {findBar, rows, shownHint, new OriginDetailsController(window, offerMacVolume)};
}

void ListWindowTools::follow(RecordListView* list) const
{
    details->follow(list);
    details->offerOnRows(rows, list);
}
