#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
class QPdfDocument;
class QPdfView;

// Shows a PDF document one page at a time, scaled to fit the widget as it is resized. The
// document is loaded once, at construction, from a local file URL or a qrc: resource URL; a
// document that is missing or not a readable PDF leaves the view empty with a short notice.
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

    QSize sizeHint() const override;

public slots:
    // Shows `page` (clamped to the document's pages).
    void goToPage(int page);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool load();

    QUrl m_url;
    QPdfDocument* m_document = nullptr;
    QPdfView* m_pdfView = nullptr;
    QLabel* m_notice = nullptr;
    int m_wheelRemainder = 0;
};
