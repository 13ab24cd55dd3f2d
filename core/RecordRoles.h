#pragma once

#include <QByteArray>
#include <QHash>

#include <Qt>

// Item data roles of the record list models. Each model answers the ones its records have.
enum RecordRole
{
    IdRole = Qt::UserRole + 1, // QUuid of the record
    ExportTextRole,            // the record's text form, as copied
    NameRole,
    PathRole,
    ProvenanceIDRole,
    QuarantineAppRole,
    HasProvenanceRole, // the application list's presence flags
    HasQuarantineRole,
    InImageRole,     // true for a record read inside a disk image: its path is not one on this machine
    ImageVolumeRole, // of a record inside a disk image: its volume's number
    ImageInodeRole   // and its inode number there
};

// The roles' names, for every model's roleNames().
QHash<int, QByteArray> recordRoleNames();
