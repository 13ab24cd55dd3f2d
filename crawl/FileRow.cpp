#include "crawl/FileRow.h"

#include "crawl/Crawler.h"

FileRow::FileRow(QObject* parent, bool isSearching) : TextRowDelegate(parent), m_isSearching(isSearching)
{
    setRowFont(fixedFont(theFontSize));
}

QStringList FileRow::pieces(const QModelIndex& index) const
{
    // Values are shown verbatim; their marks are part of them. An empty one leaves no gap.
    return {index.data(NameRole).toString(), index.data(ProvenanceIDRole).toString(),
            index.data(QuarantineAppRole).toString(), index.data(PathRole).toString()};
}
