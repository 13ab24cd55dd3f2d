#pragma once

#include "core/CsvWriteResult.h"

#include <QString>

#include <functional>

class QWidget;

// The save dialog behind the "Write CSV" buttons: proposes a name, allows creating
// folders, offers text files only, and is not modal. When the user confirms, `write`
// runs with the chosen path; a failure or an empty list is told in a message box.
class CsvSaveDialog
{
public:
    using Writer = std::function<CsvWriteResult(const QString& destination)>;

    // Opens the dialog and returns at once; the dialog deletes itself when it closes.
    static void open(QWidget* parent, const QString& proposedName, Writer write);

    // Tells the user about a result that is not plain success (used by open()).
    static void report(QWidget* parent, const CsvWriteResult& result, const QString& destination);
};
