#include "ui/CsvSaveDialog.h"

#include "ui/NameOnlyIconProvider.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

void CsvSaveDialog::open(QWidget* parent, const QString& proposedName, Writer write)
{
    // Not modal and not attached to the window, so the window stays usable meanwhile.
    auto* dialog = new QFileDialog(nullptr, QObject::tr("Save CSV"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::ReadOnly, false); // folders can be created
    dialog->setMimeTypeFilters({QStringLiteral("text/csv"), QStringLiteral("text/plain")});
    dialog->selectFile(proposedName);
    dialog->setWindowModality(Qt::NonModal);
    NameOnlyIconProvider::useIn(dialog);

    QPointer<QWidget> owner(parent);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [owner, write](const QString& destination) {
        if (destination.isEmpty() || !owner)
            return;
        report(owner, write(destination), destination);
    });
    if (parent)
        QObject::connect(parent, &QObject::destroyed, dialog, &QWidget::close);
    dialog->show();
}

void CsvSaveDialog::report(QWidget* parent, const CsvWriteResult& result, const QString& destination)
{
    switch (result.status) {
    case CsvWriteResult::Written:
        return;
    case CsvWriteResult::NothingToWrite:
        QMessageBox::information(
            parent, QObject::tr("Nothing Written"),
            QObject::tr("The list is empty, so nothing was written to %1.").arg(destination));
        return;
    case CsvWriteResult::Failed:
        QMessageBox::warning(
            parent, QObject::tr("CSV Not Written"),
            QObject::tr("The list could not be written to %1:\n%2").arg(destination, result.reason));
        return;
    }
}
