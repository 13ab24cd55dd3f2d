#include "crawl/ImagePasswordPrompt.h"

#include "crawl/Crawler.h"
#include "crawl/ImageVolumeChooser.h"
#include "image/DiskImage.h"
#include "image/ImageVolumes.h"

#include <QInputDialog>
#include <QLineEdit>

QDialog* ImagePasswordPrompt::crawl(Crawler* crawler, QWidget* parent, const QByteArray& rawImage,
                                    bool showQuarantine, bool sidecars)
{
    std::vector<ImageVolume> volumes;
    QString ignored; // the crawl says why an image cannot be read
    if (const std::unique_ptr<DiskImage> image = DiskImage::open(rawImage, &ignored))
        volumes = ImageVolumes(*image).list();
    if (volumes.size() <= 1)
        return askPassword(crawler, parent, rawImage, showQuarantine, sidecars, volumes, {});
    auto* chooser = new ImageVolumeChooser(volumes, parent);
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(chooser, &QDialog::accepted, crawler, [=] {
        const QList<int> chosen = chooser->chosen();
        // Every one checked is the same crawl as with none named: rows keep their volume's name.
        askPassword(crawler, parent, rawImage, showQuarantine, sidecars, volumes,
                    chosen.size() == qsizetype(volumes.size()) ? QList<int>() : chosen);
    });
    chooser->open();
    return chooser;
}

QDialog* ImagePasswordPrompt::askPassword(Crawler* crawler, QWidget* parent, const QByteArray& rawImage,
                                          bool showQuarantine, bool sidecars,
                                          const std::vector<ImageVolume>& volumes, const QList<int>& chosen)
{
    QStringList locked;
    for (const ImageVolume& volume : volumes)
        if (volume.encrypted && (chosen.isEmpty() || chosen.contains(volume.number)))
            locked << volume.shownName();
    if (locked.isEmpty()) {
        crawler->startImageCrawl(rawImage, showQuarantine, std::nullopt, chosen, sidecars);
        return nullptr;
    }
    auto* dialog = new QInputDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Encrypted Volume"));
    dialog->setLabelText(tr("The volume %1 is encrypted. Its password (Cancel to skip it):")
                             .arg(locked.join(QStringLiteral(", "))));
    dialog->setTextEchoMode(QLineEdit::Password);
    QObject::connect(dialog, &QInputDialog::textValueSelected, crawler, [=](const QString& password) {
        crawler->startImageCrawl(rawImage, showQuarantine, password.toUtf8(), chosen, sidecars);
    });
    QObject::connect(dialog, &QDialog::rejected, crawler, [=] {
        crawler->startImageCrawl(rawImage, showQuarantine, std::nullopt, chosen, sidecars);
    });
    dialog->open();
    return dialog;
}
