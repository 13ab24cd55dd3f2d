#include "core/RecordRoles.h"

QHash<int, QByteArray> recordRoleNames()
{
    return {{Qt::DisplayRole, "display"},
            {Qt::ToolTipRole, "toolTip"},
            {IdRole, "id"},
            {ExportTextRole, "exportText"},
            {NameRole, "name"},
            {PathRole, "path"},
            {ProvenanceIDRole, "provenanceID"},
            {QuarantineAppRole, "quarantineApp"},
            {HasProvenanceRole, "hasProvenance"},
            {HasQuarantineRole, "hasQuarantine"},
            {InImageRole, "inImage"},
            {ImageVolumeRole, "imageVolume"},
            {ImageInodeRole, "imageInode"}};
}
