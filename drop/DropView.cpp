#include "drop/DropView.h"

#include "core/SidecarPreference.h"
#include "drop/DropPlaceholder.h"
#include "drop/FileInfo.h"
#include "drop/QuellmarkDropDelegate.h"
#include "ui/EmptyListHint.h"
#include "ui/FindBar.h"
#include "ui/ListWindowTools.h"
#include "ui/OriginDetailsController.h"
#include "ui/RecordListView.h"

#include <QEvent>
#include <QLabel>
#include <QStatusBar>

QStringList DropView::FileRow::pieces(const QModelIndex& index) const
{
    // TextRowDelegate leaves out empty texts, so a missing value leaves no gap.
    return {index.data(NameRole).toString(), index.data(ProvenanceIDRole).toString(),
            index.data(QuarantineAppRole).toString(), index.data(PathRole).toString()};
}

DropView::DropView(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(tr("Drop Files"));

    m_list = new RecordListView(this);
    m_list->setMinimumSize(600, 200);
    m_list->setItemDelegate(new FileRow(m_list));
    setCentralWidget(m_list);

    m_placeholder = new DropPlaceholder(m_list->viewport());
    m_list->viewport()->installEventFilter(this);
    // Find bar, row menu, row drag and empty-list hint: each out of the way until wanted; the
    // hint under the symbol.
    const ListWindowTools tools =
        ListWindowTools::attach(this, m_list, tr("Drop files here"), nullptr, true, DropPlaceholder::kSide / 2 + 16);
    m_findBar = tools.findBar;
    m_hint = tools.hint;
    // Shown only when some dropped file could not be examined.
    m_unreadable = new QLabel;
    statusBar()->addWidget(m_unreadable);
    statusBar()->hide();

    m_dropDelegate = new QuellmarkDropDelegate(
        {[this] { return m_fileInfo; }, [this](FileInfo* fileInfo) { setFileInfo(fileInfo); }}, this);
    m_dropDelegate->attach(m_list->viewport());
    m_dropDelegate->attach(m_list);

    setFileInfo(new FileInfo);
    tools.details->setSidecars(&SidecarPreference::enabled);
    tools.follow(m_list);
}

void DropView::setFileInfo(FileInfo* fileInfo)
{
    if (fileInfo == m_fileInfo)
        return;
    FileInfo* previous = m_fileInfo;
    m_fileInfo = fileInfo;
    m_fileInfo->setParent(this);
    // Nothing stays selected: the list gets a new selection model, or the find bar's filter starts over.
    m_findBar->setListModel(m_fileInfo);
    m_hint->setModel(m_fileInfo);
    connect(m_fileInfo, &FileInfo::fileListChanged, this, &DropView::updatePlaceholder);
    connect(m_fileInfo, &FileInfo::fileListChanged, this, &DropView::updateUnreadable);
    updatePlaceholder();
    updateUnreadable();

    if (previous) {
        previous->disconnect(this);
        previous->deleteLater();
    }
    emit fileInfoChanged(m_fileInfo);
}

void DropView::updatePlaceholder()
{
    // Scrolling the list moves the viewport's children too, so centre it again each time.
    centrePlaceholder();
    m_placeholder->setVisible(m_fileInfo->fileList().isEmpty());
}

QString DropView::unreadableText() const
{
    return statusBar()->isHidden() ? QString() : m_unreadable->text();
}

void DropView::updateUnreadable()
{
    const int unreadable = m_fileInfo->unreadableCount();
    m_unreadable->setText(tr("%1 could not be read").arg(unreadable));
    statusBar()->setVisible(unreadable > 0);
}

void DropView::centrePlaceholder()
{
    QRect area = m_placeholder->rect();
    area.moveCenter(m_list->viewport()->rect().center());
    m_placeholder->move(area.topLeft());
}

bool DropView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::Resize)
        centrePlaceholder();
    return QMainWindow::eventFilter(watched, event);
}
