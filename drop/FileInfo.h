#pragma once

#include "core/RecordRoles.h"
#include "drop/FileDetail.h"

#include <QAbstractListModel>
#include <QList>
#include <QUrl>

// The drop window's list: one FileDetail per addFile call, in call order. Lives on the
// GUI thread; the drop handling makes a new one for every drop.
class FileInfo : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit FileInfo(QObject* parent = nullptr);

    const QList<FileDetail>& fileList() const { return m_fileList; }

    // Examines the file that `url` names and appends its record. A missing or empty
    // attribute leaves its value empty; a file that could not be examined has the reason
    // ("⚠️ not found") as its provenance value. Every call appends exactly one record.
    void addFile(const QUrl& url);
    // How many of the records are of files that could not be examined.
    int unreadableCount() const { return m_unreadable; }

    // The record addFile appends for `url`, without a model. With `sidecars`, an attribute
    // the file lacks is taken from its AppleDouble sidecar, if it has one.
    static FileDetail detailFor(const QUrl& url, bool sidecars = true, int* failure = nullptr);
    // The record for the item reached at `accessPath` (relative to the working directory
    // unless absolute), shown as `shownPath`. `failure` gets the errno of the first
    // attribute call that failed other than for a missing attribute, else stays as it was.
    static FileDetail detailFor(const QByteArray& shownPath, const QByteArray& accessPath,
                                bool sidecars = true, int* failure = nullptr);

    // Whether addFile reads sidecars; on unless turned off.
    bool sidecars() const { return m_sidecars; }
    void setSidecars(bool sidecars) { m_sidecars = sidecars; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void fileListChanged();

private:
    QList<FileDetail> m_fileList;
    bool m_sidecars = true;
    int m_unreadable = 0;
};
