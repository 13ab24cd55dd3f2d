#pragma once

#include <Qt>

// Item data roles every record list model answers, beside its own.
enum RecordRole
{
    IdRole = Qt::UserRole + 1, // QUuid of the record
    ExportTextRole,            // the record's text form, as copied
    FirstModelRole = Qt::UserRole + 16
};
