#pragma once

#include "ui/TextRowDelegate.h"

// One crawl row: the name, the provenance value if any, the quarantine value if any, and
// the path, in the system's fixed-width font at 12 points. The row never depends on
// whether a search is running (isSearching), which the crawl window always passes as false.
class FileRow : public TextRowDelegate
{
    Q_OBJECT

public:
    explicit FileRow(QObject* parent = nullptr, bool isSearching = false);

    QStringList pieces(const QModelIndex& index) const override;

    bool isSearching() const { return m_isSearching; }

    static constexpr qreal theFontSize = 12;

private:
    bool m_isSearching;
};
