#include "inventory/MessageRow.h"

#include "inventory/Provener.h"

MessageRow::MessageRow(QObject* parent) : TextRowDelegate(parent)
{
    setRowFont(fixedFont(theFontSize));
}

QStringList MessageRow::pieces(const QModelIndex& index) const
{
    QStringList texts{index.data(Provener::NameRole).toString()};
    if (index.data(Provener::HasProvenanceRole).toBool())
        texts << tr("✅") << index.data(Provener::ProvenanceIDRole).toString();
    else
        texts << tr("⭕️");
    if (index.data(Provener::HasQuarantineRole).toBool())
        texts << tr("🔸") << index.data(Provener::QuarantineAppRole).toString();
    else
        texts << tr("⭕️");
    return texts;
}
