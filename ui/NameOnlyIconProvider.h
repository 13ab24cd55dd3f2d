#pragma once

#include <QFileIconProvider>

class QFileDialog;

// Icons and type names for our file dialogs, decided from a file's name and stat alone.
// Qt's own provider reads the first bytes of every file it lists to guess its type, and a
// regular file whose read never returns (/proc/kmsg, a file on a hung network share) then
// freezes the dialog, and with it every window.
class NameOnlyIconProvider : public QFileIconProvider
{
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;

    // Makes `dialog` Qt's own (a desktop's native dialog would pick types its own way)
    // and gives it the one shared provider, which outlives every dialog.
    static void useIn(QFileDialog* dialog);
};
