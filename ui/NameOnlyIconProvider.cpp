#include "ui/NameOnlyIconProvider.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeDatabase>

namespace {

// By the file name's pattern only: never MatchDefault, which opens the file.
QMimeType typeByName(const QFileInfo& info)
{
    const QList<QMimeType> types = QMimeDatabase().mimeTypesForFileName(info.fileName());
    return types.isEmpty() ? QMimeDatabase().mimeTypeForName(QStringLiteral("application/octet-stream"))
                           : types.first();
}

} // namespace

QIcon NameOnlyIconProvider::icon(const QFileInfo& info) const
{
    // The base class would ask the platform theme, which may look inside the file too.
    if (info.isRoot())
        return icon(Drive);
    if (info.isDir())
        return icon(Folder);
    if (info.isFile()) {
        const QMimeType type = typeByName(info);
        QIcon themed = QIcon::fromTheme(type.iconName());
        if (themed.isNull())
            themed = QIcon::fromTheme(type.genericIconName());
        if (!themed.isNull())
            return themed;
    }
    return icon(File);
}

QString NameOnlyIconProvider::type(const QFileInfo& info) const
{
    if (info.isFile()) {
        const QMimeType type = typeByName(info);
        return type.comment().isEmpty() ? type.name() : type.comment();
    }
    // Folders, links to nothing, devices: the base class decides these by stat alone.
    return QFileIconProvider::type(info);
}

void NameOnlyIconProvider::useIn(QFileDialog* dialog)
{
    static NameOnlyIconProvider shared;
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setIconProvider(&shared);
}
