#include "drop/FileInfo.h"

#include "core/AttributeEvaluation.h"
#include "core/DecoratedValues.h"
#include "core/FailureNotingCalls.h"
#include "core/ItemAttributes.h"
#include "core/PathEncoding.h"
#include "core/PathXattrCalls.h"
#include "core/PosixError.h"
#include "core/SidecarAttributes.h"
#include "core/SidecarReader.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>

namespace {

// The last component of a path, without the "/" a folder URL ends in; the root stays "/".
QByteArray lastComponent(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    if (path == "/")
        return path;
    return path.mid(path.lastIndexOf('/') + 1);
}

QString failureText(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return FileInfo::tr("not found");
    case EACCES:
    case EPERM:
        return FileInfo::tr("permission denied");
    default:
        return FileInfo::tr("could not be read: %1").arg(posixError(error).description);
    }
}

} // namespace

FileInfo::FileInfo(QObject* parent) : QAbstractListModel(parent) {}

FileDetail FileInfo::detailFor(const QUrl& url, bool sidecars, int* failure)
{
    // Decoded from the encoded form to bytes, not through QString, so that names which are
    // not UTF-8 reach the system calls exactly as the file system holds them.
    const QByteArray rawPath = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return detailFor(rawPath, rawPath, sidecars, failure);
}

FileDetail FileInfo::detailFor(const QByteArray& shownPath, const QByteArray& accessPath, bool sidecars,
                               int* failure)
{
    QByteArray path = shownPath;
    // A folder's path ends in "/" in every list, also when a file manager's URL has none.
    struct stat item;
    if (!path.endsWith('/') && ::stat(accessPath.constData(), &item) == 0 && S_ISDIR(item.st_mode))
        path += '/';

    FileDetail detail;
    detail.name = displayName(lastComponent(path));
    detail.path = encodePath(path);

    int unused = 0;
    ItemAttributes attributes(FailureNotingCalls(PathXattrCalls{accessPath}, failure ? failure : &unused));
    DecoratedValues values;
    // Looked for by the whole path where it can be given, so that a Finder archive's folder above
    // the item is found too.
    const QByteArray& sidecarPath = shownPath.size() < PATH_MAX ? shownPath : accessPath;
    evaluateLent(std::move(attributes), sidecars, [&sidecarPath] { return SidecarReader::findFor(sidecarPath); },
                 values);
    detail.provenanceID = values.provenanceID;
    detail.quarantineApp = values.quarantineApp;
    return detail;
}

void FileInfo::addFile(const QUrl& url)
{
    int failure = 0;
    FileDetail detail = detailFor(url, m_sidecars, &failure);
    // Not to be taken for a file without attributes: the row says why it has none.
    if (failure != 0) {
        detail.provenanceID = QStringLiteral("⚠️ ") + failureText(failure);
        ++m_unreadable;
    }
    const int row = int(m_fileList.size());
    beginInsertRows(QModelIndex(), row, row);
    m_fileList.append(std::move(detail));
    endInsertRows();
    emit fileListChanged();
}

int FileInfo::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_fileList.size());
}

QVariant FileInfo::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const FileDetail& detail = m_fileList.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case NameRole:
        return detail.name;
    case Qt::ToolTipRole:
    case ExportTextRole:
        return detail.exportText();
    case IdRole:
        return detail.id;
    case PathRole:
        return detail.path;
    case ProvenanceIDRole:
        return detail.provenanceID;
    case QuarantineAppRole:
        return detail.quarantineApp;
    default:
        return {};
    }
}

QHash<int, QByteArray> FileInfo::roleNames() const
{
    return recordRoleNames();
}
