#pragma once

#include <QList>
#include <QPolygonF>
#include <QUrl>
#include <QWidget>

class QAction;
class QLabel;
class QPdfDocument;
class QPdfView;

// Shows a PDF document one page at a time, scaled to fit the widget as it is resized. The
// document is loaded once, at construction, from a local file URL or a qrc: resource URL; a
// document that is missing or not a readable PDF leaves the view empty with a short notice.
// Beyond that: zoom (Ctrl+plus, Ctrl+minus, Ctrl+0 back to fitting the page), and the
// page's text can be selected with the mouse (Ctrl+A: all of it) and copied.
class PDFKitView : public QWidget
{
    Q_OBJECT

public:
    explicit PDFKitView(const QUrl& url, QWidget* parent = nullptr);

    QUrl url() const { return m_url; }
    QPdfView* pdfView() const { return m_pdfView; }
    QPdfDocument* document() const { return m_document; }

    // The notice shown in place of the document, or empty when the document opened.
    QString notice() const;
    int currentPage() const;

    // True while the page is fitted to the view (as it opens); otherwise zoomFactor applies.
    bool isFitted() const;
    // The page's scale against its natural size (1: 72 points an inch of the screen).
    qreal zoomFactor() const;
    // The shown page's place in the viewport.
    QRectF pageRect() const;

    QString selectedText() const { return m_selectedText; }
    // Selects the text between two viewport positions on the shown page.
    void selectBetween(const QPointF& from, const QPointF& to);

    QAction* zoomInAction() const { return m_zoomIn; }
    QAction* zoomOutAction() const { return m_zoomOut; }
    QAction* fitAction() const { return m_fit; }

    QSize sizeHint() const override;

public slots:
    // Shows `page` (clamped to the document's pages).
    void goToPage(int page);
    void zoomIn();
    void zoomOut();
    void fitToPage();
    void selectAll();
    // Puts the selected text on the clipboard; with nothing selected the clipboard is left alone.
    void copySelection();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The first time: the page fitted where that leaves its text readable, else as wide as the view.
    void showEvent(QShowEvent* event) override;

private:
    bool load();
    void setZoom(qreal factor);
    QPointF toPage(const QPointF& viewportPosition) const;
    void clearSelection();
    void setSelection(const QString& text, const QList<QPolygonF>& bounds);
    void paintSelection();
    bool handleKey(QEvent* event);

    QUrl m_url;
    QPdfDocument* m_document = nullptr;
    QPdfView* m_pdfView = nullptr;
    QLabel* m_notice = nullptr;
    QWidget* m_viewport = nullptr;
    QWidget* m_highlight = nullptr;
    QAction* m_zoomIn = nullptr;
    QAction* m_zoomOut = nullptr;
    QAction* m_fit = nullptr;
    int m_wheelRemainder = 0;
    bool m_selecting = false;
    bool m_shown = false;
    QPointF m_anchor; // where the selection began, in viewport coordinates
    QString m_selectedText;
    QList<QPolygonF> m_selectedBounds; // in page points
};
