#include "drop/DropView.h"

#include "core/SidecarPreference.h"
#include "drop/DropPlaceholder.h"
#include "drop/FileInfo.h"
#include "drop/QuellmarkDropDelegate.h"
#include "ui/OriginDetailsController.h"
#include "ui/RecordListView.h"

#include <QEvent>

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

    m_dropDelegate = new QuellmarkDropDelegate(
        {[this] { return m_fileInfo; }, [this](FileInfo* fileInfo) { setFileInfo(fileInfo); }}, this);
    m_dropDelegate->attach(m_list->viewport());
    m_dropDelegate->attach(m_list);

    setFileInfo(new FileInfo);
    auto* details = new OriginDetailsController(this, true);
    details->setSidecars(&SidecarPreference::enabled);
    details->follow(m_list);
    connect(this, &DropView::fileInfoChanged, details, [details, list = m_list] { details->follow(list); });
}

void DropView::setFileInfo(FileInfo* fileInfo)
{
    if (fileInfo == m_fileInfo)
        return;
    FileInfo* previous = m_fileInfo;
    m_fileInfo = fileInfo;
    m_fileInfo->setParent(this);
    // A new selection model comes with it, so nothing is selected; the old one goes with the old model.
    m_list->setModel(m_fileInfo);
    connect(m_fileInfo, &FileInfo::fileListChanged, this, &DropView::updatePlaceholder);
    updatePlaceholder();

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
