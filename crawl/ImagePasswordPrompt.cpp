#include "crawl/ImagePasswordPrompt.h"

#include "crawl/Crawler.h"
#include "image/DiskImage.h"
#include "image/ImageVolumes.h"

#include <QInputDialog>
#include <QLineEdit>

QInputDialog* ImagePasswordPrompt::crawl(Crawler* crawler, QWidget* parent, const QByteArray& rawImage,
                                         bool showQuarantine)
{
    QStringList locked;
    QString ignored; // the crawl says why an image cannot be read
    if (const std::unique_ptr<DiskImage> image = DiskImage::open(rawImage, &ignored)) {
        const ImageVolumes volumes(*image);
        for (const ImageVolume& volume : volumes.list())
            if (volume.encrypted)
                locked << volume.shownName();
    }
    if (locked.isEmpty()) {
        crawler->startImageCrawl(rawImage, showQuarantine);
        return nullptr;
    }
    auto* dialog = new QInputDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Encrypted Volume"));
    dialog->setLabelText(tr("The volume %1 is encrypted. Its password (Cancel to skip it):")
                             .arg(locked.join(QStringLiteral(", "))));
    dialog->setTextEchoMode(QLineEdit::Password);
    QObject::connect(dialog, &QInputDialog::textValueSelected, crawler,
                     [crawler, rawImage, showQuarantine](const QString& password) {
                         crawler->startImageCrawl(rawImage, showQuarantine, password.toUtf8());
                     });
    QObject::connect(dialog, &QDialog::rejected, crawler, [crawler, rawImage, showQuarantine] {
        crawler->startImageCrawl(rawImage, showQuarantine);
    });
    dialog->open();
    return dialog;
}
