#include "app/HelpView.h"

#include "app/PDFKitView.h"

#include <QFile>

HelpView::HelpView(QWidget* parent) : HelpView(helpDocumentUrl(), parent) {}

HelpView::HelpView(const QUrl& pdfUrl, QWidget* parent)
    : QMainWindow(parent), m_pdfUrl(pdfUrl), m_pdfKitView(new PDFKitView(m_pdfUrl, this))
{
    setWindowTitle(tr("Help Window"));
    setCentralWidget(m_pdfKitView);
}

QUrl HelpView::helpDocumentUrl()
{
    if (!QFile::exists(QStringLiteral(":/QuellmarkHelp.pdf")))
        return {};
    return QUrl(QStringLiteral("qrc:/QuellmarkHelp.pdf"));
}
