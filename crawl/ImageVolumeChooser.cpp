#include "crawl/ImageVolumeChooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

ImageVolumeChooser::ImageVolumeChooser(const std::vector<ImageVolume>& volumes, QWidget* parent)
    : QDialog(parent), m_list(new QListWidget(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(tr("Choose Volumes"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("The image has %1 volumes. Crawl these:").arg(volumes.size()), this));
    for (const ImageVolume& volume : volumes) {
        QStringList about;
        for (const QString& part : {volume.role, volume.fileSystem})
            if (!part.isEmpty() && part != volume.shownName())
                about << part;
        if (volume.encrypted)
            about << tr("encrypted");
        auto* item = new QListWidgetItem(
            about.isEmpty() ? volume.shownName()
                            : tr("%1 (%2)").arg(volume.shownName(), about.join(QStringLiteral(", "))),
            m_list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
        item->setData(Qt::UserRole, volume.number);
    }
    layout->addWidget(m_list);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A crawl of nothing is no crawl.
    connect(m_list, &QListWidget::itemChanged, this,
            [this] { m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!chosen().isEmpty()); });
}

QList<int> ImageVolumeChooser::chosen() const
{
    QList<int> numbers;
    for (int row = 0; row < m_list->count(); ++row)
        if (m_list->item(row)->checkState() == Qt::Checked)
            numbers << m_list->item(row)->data(Qt::UserRole).toInt();
    return numbers;
}
