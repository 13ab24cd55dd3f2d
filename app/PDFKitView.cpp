#include "app/PDFKitView.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPdfDocument>
#include <QPdfPageNavigator>
#include <QPdfView>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace {

// QPdfDocument opens resources through QFile, so a qrc: URL becomes its ":/" path.
QString sourcePath(const QUrl& url)
{
    if (url.scheme() == QLatin1String("qrc"))
        return QLatin1Char(':') + url.path();
    if (url.isLocalFile())
        return url.toLocalFile();
    return {};
}

} // namespace

PDFKitView::PDFKitView(const QUrl& url, QWidget* parent)
    : QWidget(parent), m_url(url), m_document(new QPdfDocument(this)), m_pdfView(new QPdfView(this)),
      m_notice(new QLabel(tr("The user guide could not be opened.")))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pdfView);
    setFocusProxy(m_pdfView);

    m_pdfView->setPageMode(QPdfView::PageMode::SinglePage);
    m_pdfView->setZoomMode(QPdfView::ZoomMode::FitInView);
    // A fitted page leaves nothing to scroll; pages are turned with the wheel and keys.
    m_pdfView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pdfView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pdfView->setDocument(m_document);
    m_pdfView->installEventFilter(this);
    m_pdfView->viewport()->installEventFilter(this);

    // The notice sits on the empty page area, centred.
    auto* overlay = new QVBoxLayout(m_pdfView->viewport());
    overlay->addWidget(m_notice, 0, Qt::AlignCenter);
    m_notice->setAlignment(Qt::AlignCenter);
    m_notice->setWordWrap(true);
    m_notice->setVisible(!load());
}

bool PDFKitView::load()
{
    const QString path = sourcePath(m_url);
    if (path.isEmpty())
        return false;
    return m_document->load(path) == QPdfDocument::Error::None &&
           m_document->status() == QPdfDocument::Status::Ready && m_document->pageCount() > 0;
}

QString PDFKitView::notice() const
{
    return m_notice->isVisibleTo(this) ? m_notice->text() : QString();
}

int PDFKitView::currentPage() const
{
    return m_pdfView->pageNavigator()->currentPage();
}

QSize PDFKitView::sizeHint() const
{
    // Room for a whole A4 page at a readable scale.
    return QSize(620, 860);
}

void PDFKitView::goToPage(int page)
{
    const int pages = m_document->pageCount();
    if (pages <= 0)
        return;
    page = std::clamp(page, 0, pages - 1);
    if (page != currentPage())
        m_pdfView->pageNavigator()->jump(page, QPointF(), 0);
    m_pdfView->viewport()->update();
}

bool PDFKitView::eventFilter(QObject* watched, QEvent* event)
{
    // A fitted single page leaves nothing to scroll, so wheel and paging keys turn pages.
    if (watched == m_pdfView->viewport() && event->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        m_wheelRemainder += wheel->angleDelta().y();
        const int steps = m_wheelRemainder / QWheelEvent::DefaultDeltasPerStep;
        m_wheelRemainder -= steps * QWheelEvent::DefaultDeltasPerStep;
        if (steps != 0)
            goToPage(currentPage() - steps);
        return true;
    }
    if (watched == m_pdfView && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_PageDown:
        case Qt::Key_Down:
        case Qt::Key_Right:
        case Qt::Key_Space:
            goToPage(currentPage() + 1);
            return true;
        case Qt::Key_PageUp:
        case Qt::Key_Up:
        case Qt::Key_Left:
        case Qt::Key_Backspace:
            goToPage(currentPage() - 1);
            return true;
        case Qt::Key_Home:
            goToPage(0);
            return true;
        case Qt::Key_End:
            goToPage(m_document->pageCount() - 1);
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
