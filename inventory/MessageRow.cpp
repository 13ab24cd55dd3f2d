#include "inventory/MessageRow.h"

#include "inventory/Provener.h"

MessageRow::MessageRow(QObject* parent) : TextRowDelegate(parent)
{
    setRowFont(fixedFont(theFontSize));
}

QStringList MessageRow::pieces(const QModelIndex& index) const
{
    QStringList texts{index.data(NameRole).toString()};
    if (index.data(HasProvenanceRole).toBool())
        texts << tr("✅") << index.data(ProvenanceIDRole).toString();
    else
        texts << tr("⭕️");
    if (index.data(HasQuarantineRole).toBool())
        texts << tr("🔸") << index.data(QuarantineAppRole).toString();
    else
        texts << tr("⭕️");
    return texts;
}
