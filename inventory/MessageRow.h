#pragma once

#include "ui/TextRowDelegate.h"

// One application row: the path, "✅" and the ID or "⭕️", "🔸" and the agent or "⭕️",
// in the system's fixed-width font at 12 points.
class MessageRow : public TextRowDelegate
{
    Q_OBJECT

public:
    explicit MessageRow(QObject* parent = nullptr);

    QStringList pieces(const QModelIndex& index) const override;

    static constexpr qreal theFontSize = 12;
};
