#include "app/PDFKitView.h"

#include "ui/WindowCommands.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfPageNavigator>
#include <QPdfSelection>
#include <QPdfView>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace {

constexpr qreal kZoomStep = 1.25;
constexpr qreal kMinimumZoom = 0.25;
constexpr qreal kMaximumZoom = 8.0;
constexpr qreal kReadableZoom = 0.75; // body text of about 11 pixels

// QPdfDocument opens resources through QFile, so a qrc: URL becomes its ":/" path.
QString sourcePath(const QUrl& url)
{
    if (url.scheme() == QLatin1String("qrc"))
        return QLatin1Char(':') + url.path();
    if (url.isLocalFile())
        return url.toLocalFile();
    return {};
}

// Pixels per page point at zoom 1, as QPdfView counts them.
qreal screenResolution()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() / 72.0 : 1.0;
}

} // namespace

PDFKitView::PDFKitView(const QUrl& url, QWidget* parent)
    : QWidget(parent), m_url(url), m_document(new QPdfDocument(this)), m_pdfView(new QPdfView(this)),
      m_notice(new QLabel(tr("The user guide could not be opened."))), m_viewport(m_pdfView->viewport()),
      m_highlight(new QWidget(m_viewport)), m_zoomIn(new QAction(tr("Zoom In"), this)),
      m_zoomOut(new QAction(tr("Zoom Out"), this)), m_fit(new QAction(tr("Fit Page"), this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pdfView);
    setFocusProxy(m_pdfView);

    m_pdfView->setPageMode(QPdfView::PageMode::SinglePage);
    m_pdfView->setDocument(m_document);
    fitToPage();
    m_pdfView->installEventFilter(this);
    m_pdfView->viewport()->installEventFilter(this);
    m_pdfView->viewport()->setCursor(Qt::IBeamCursor);
    connect(m_pdfView->pageNavigator(), &QPdfPageNavigator::currentPageChanged, this,
            &PDFKitView::clearSelection);

    // The selection is drawn over the page by a child that lets the mouse through.
    m_highlight->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_highlight->installEventFilter(this);

    // The notice sits on the empty page area, centred.
    auto* overlay = new QVBoxLayout(m_pdfView->viewport());
    overlay->addWidget(m_notice, 0, Qt::AlignCenter);
    m_notice->setAlignment(Qt::AlignCenter);
    m_notice->setWordWrap(true);
    m_notice->setVisible(!load());

    m_zoomIn->setShortcuts({QKeySequence(QKeySequence::ZoomIn), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    m_zoomOut->setShortcuts(QKeySequence::ZoomOut);
    m_fit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    connect(m_zoomIn, &QAction::triggered, this, &PDFKitView::zoomIn);
    connect(m_zoomOut, &QAction::triggered, this, &PDFKitView::zoomOut);
    connect(m_fit, &QAction::triggered, this, &PDFKitView::fitToPage);
    for (QAction* action : {m_zoomIn, m_zoomOut, m_fit}) {
        addAction(action);
        WindowCommands::mark(action, WindowCommands::ViewMenu);
    }
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

bool PDFKitView::isFitted() const
{
    return m_pdfView->zoomMode() == QPdfView::ZoomMode::FitInView;
}

QRectF PDFKitView::pageRect() const
{
    // Where QPdfView puts a single page: at the top margin, centred across the wider of
    // the viewport and the page with its margins, moved by the scroll bars.
    const QSizeF points = m_document->pagePointSize(currentPage());
    if (points.isEmpty())
        return {};
    const QMargins margins = m_pdfView->documentMargins();
    const QSize viewport = m_pdfView->viewport()->size();
    QSize size = QSizeF(points * screenResolution()).toSize();
    if (isFitted())
        size.scale(viewport - QSize(margins.left() + margins.right(), m_pdfView->pageSpacing()),
                   Qt::KeepAspectRatio);
    else
        size = QSizeF(points * screenResolution() * m_pdfView->zoomFactor()).toSize();
    const int width = size.width() + margins.left() + margins.right();
    const int x = (std::max(width, viewport.width()) - size.width()) / 2;
    return QRectF(QPointF(x - m_pdfView->horizontalScrollBar()->value(),
                          margins.top() - m_pdfView->verticalScrollBar()->value()),
                  size);
}

qreal PDFKitView::zoomFactor() const
{
    if (!isFitted())
        return m_pdfView->zoomFactor();
    const QSizeF points = m_document->pagePointSize(currentPage());
    return points.isEmpty() ? 1.0 : pageRect().width() / (points.width() * screenResolution());
}

void PDFKitView::setZoom(qreal factor)
{
    m_pdfView->setZoomFactor(std::clamp(factor, kMinimumZoom, kMaximumZoom));
    m_pdfView->setZoomMode(QPdfView::ZoomMode::Custom);
    // A zoomed page is scrolled; a fitted one leaves nothing to scroll.
    m_pdfView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pdfView->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_highlight->update();
}

void PDFKitView::zoomIn()
{
    setZoom(zoomFactor() * kZoomStep);
}

void PDFKitView::zoomOut()
{
    setZoom(zoomFactor() / kZoomStep);
}

void PDFKitView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    const QSizeF points = m_document->pagePointSize(currentPage());
    if (points.isEmpty() || zoomFactor() >= kReadableZoom)
        return;
    // A small window: the page as wide as the view, read by scrolling down.
    const QMargins margins = m_pdfView->documentMargins();
    const int width = m_viewport->width() - margins.left() - margins.right() -
                      m_pdfView->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    setZoom(std::max(width / (points.width() * screenResolution()), kReadableZoom));
}

void PDFKitView::fitToPage()
{
    m_pdfView->setZoomMode(QPdfView::ZoomMode::FitInView);
    // A fitted page leaves nothing to scroll; pages are turned with the wheel and keys.
    m_pdfView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pdfView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_highlight->update();
}

QPointF PDFKitView::toPage(const QPointF& viewportPosition) const
{
    const QRectF page = pageRect();
    const QSizeF points = m_document->pagePointSize(currentPage());
    if (page.isEmpty())
        return {};
    return QPointF((viewportPosition.x() - page.left()) * points.width() / page.width(),
                   (viewportPosition.y() - page.top()) * points.height() / page.height());
}

void PDFKitView::selectBetween(const QPointF& from, const QPointF& to)
{
    const QPdfSelection selection = m_document->getSelection(currentPage(), toPage(from), toPage(to));
    setSelection(selection.text(), selection.bounds());
}

void PDFKitView::selectAll()
{
    const QPdfSelection selection = m_document->getAllText(currentPage());
    setSelection(selection.text(), selection.bounds());
}

void PDFKitView::clearSelection()
{
    setSelection({}, {});
}

void PDFKitView::setSelection(const QString& text, const QList<QPolygonF>& bounds)
{
    m_selectedText = text;
    m_selectedBounds = bounds;
    m_highlight->update();
}

void PDFKitView::copySelection()
{
    if (!m_selectedText.isEmpty())
        QGuiApplication::clipboard()->setText(m_selectedText);
}

void PDFKitView::paintSelection()
{
    if (m_selectedBounds.isEmpty())
        return;
    const QRectF page = pageRect();
    const QSizeF points = m_document->pagePointSize(currentPage());
    if (page.isEmpty() || points.isEmpty())
        return;
    QPainter painter(m_highlight);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(page.topLeft());
    painter.scale(page.width() / points.width(), page.height() / points.height());
    QColor colour = palette().color(QPalette::Highlight);
    colour.setAlpha(120);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    // The boxes are a character's each, tight round the glyph: widened a little, they join up.
    for (const QPolygonF& bound : std::as_const(m_selectedBounds))
        painter.drawRect(bound.boundingRect().adjusted(-0.5, -0.5, 0.5, 0.5));
}

bool PDFKitView::handleKey(QEvent* event)
{
    auto* key = static_cast<QKeyEvent*>(event);
    const bool copy = key->matches(QKeySequence::Copy);
    const bool all = key->matches(QKeySequence::SelectAll);
    if (event->type() == QEvent::ShortcutOverride) {
        // The view's own keys win over the window's shortcuts for the same keys.
        if (copy || all)
            event->accept();
        return false;
    }
    if (copy) {
        copySelection();
        return true;
    }
    if (all) {
        selectAll();
        return true;
    }
    const bool zoomed = !isFitted();
    switch (key->key()) {
    case Qt::Key_Down:
    case Qt::Key_Right:
        if (zoomed)
            return false; // scrolls
        [[fallthrough]];
    case Qt::Key_PageDown:
    case Qt::Key_Space:
        goToPage(currentPage() + 1);
        return true;
    case Qt::Key_Up:
    case Qt::Key_Left:
        if (zoomed)
            return false;
        [[fallthrough]];
    case Qt::Key_PageUp:
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
        return false;
    }
}

bool PDFKitView::eventFilter(QObject* watched, QEvent* event)
{
    // Compared with pointers kept, not asked for: the viewport has events while the view is
    // being destroyed.
    QWidget* viewport = m_viewport;
    if (watched == m_highlight && event->type() == QEvent::Paint) {
        paintSelection();
        return true;
    }
    if (watched == viewport) {
        switch (event->type()) {
        case QEvent::Paint:
            // Scrolling moves the viewport's children along; the highlight stays over all of it.
            if (m_highlight->geometry() != viewport->rect())
                m_highlight->setGeometry(viewport->rect());
            break;
        case QEvent::Wheel: {
            const auto* wheel = static_cast<QWheelEvent*>(event);
            if (wheel->modifiers() & Qt::ControlModifier) {
                const int delta = wheel->angleDelta().y();
                if (delta > 0)
                    zoomIn();
                else if (delta < 0)
                    zoomOut();
                return true;
            }
            if (!isFitted())
                return false; // a zoomed page scrolls
            // A fitted single page leaves nothing to scroll, so the wheel turns pages.
            m_wheelRemainder += wheel->angleDelta().y();
            const int steps = m_wheelRemainder / QWheelEvent::DefaultDeltasPerStep;
            m_wheelRemainder -= steps * QWheelEvent::DefaultDeltasPerStep;
            if (steps != 0)
                goToPage(currentPage() - steps);
            return true;
        }
        case QEvent::MouseButtonPress: {
            const auto* press = static_cast<QMouseEvent*>(event);
            if (press->button() != Qt::LeftButton)
                break;
            m_selecting = true;
            m_anchor = press->position();
            m_pdfView->setFocus(Qt::MouseFocusReason);
            clearSelection();
            return true;
        }
        case QEvent::MouseMove:
            if (m_selecting) {
                selectBetween(m_anchor, static_cast<QMouseEvent*>(event)->position());
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            m_selecting = false;
            break;
        default:
            break;
        }
    }
    if (watched == m_pdfView &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) && handleKey(event))
        return true;
    return QWidget::eventFilter(watched, event);
}
