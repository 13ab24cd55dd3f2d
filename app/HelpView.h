#pragma once

#include <QMainWindow>
#include <QUrl>

class PDFKitView;

// The help window, "Help Window": its whole content is the user guide shown by a PDFKitView.
class HelpView : public QMainWindow
{
    Q_OBJECT

public:
    // Locates the guide among the application's resources.
    explicit HelpView(QWidget* parent = nullptr);
    // Shows the document at `pdfUrl` instead.
    explicit HelpView(const QUrl& pdfUrl, QWidget* parent = nullptr);

    QUrl pdfUrl() const { return m_pdfUrl; }
    PDFKitView* pdfKitView() const { return m_pdfKitView; }

    // The guide's resource URL, qrc:/QuellmarkHelp.pdf, or an empty URL when the build
    // holds no such resource.
    static QUrl helpDocumentUrl();

private:
    QUrl m_pdfUrl;
    PDFKitView* m_pdfKitView = nullptr;
};
