#include "inventory/Provener.h"

#include "core/CsvWriter.h"
#include "inventory/ApplicationInventory.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

Provener::Provener(QObject* parent) : QAbstractListModel(parent) {}

Provener::~Provener()
{
    // A load still running stops at its next application; its result goes nowhere.
    if (m_cancel)
        m_cancel->store(true);
}

void Provener::loadApps()
{
    if (m_loading)
        return;
    beginResetModel();
    m_proverList.clear();
    endResetModel();
    emit proverListChanged();
    setSearchProblem({}, 0);
    m_loading = true;
    emit loadingChanged(true);

    m_cancel = std::make_shared<std::atomic_bool>(false);
    QThreadPool::globalInstance()->start(
        [model = QPointer<Provener>(this), discovery = m_discovery, cancel = m_cancel] {
            ApplicationInventory::Loaded loaded = ApplicationInventory::load(discovery, cancel.get());
            if (loaded.cancelled)
                return;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [model, cancel, loaded = std::move(loaded)]() mutable {
                    if (model && !cancel->load())
                        model->finishLoad(std::move(loaded));
                },
                Qt::QueuedConnection);
        });
}

void Provener::finishLoad(ApplicationInventory::Loaded loaded)
{
    if (!loaded.list.isEmpty()) {
        beginInsertRows({}, 0, int(loaded.list.size()) - 1);
        m_proverList = std::move(loaded.list);
        endInsertRows();
        emit proverListChanged();
    }
    m_examined = loaded.examined;
    setSearchProblem(loaded.failure, loaded.unreadableLines);
    m_cancel.reset();
    m_loading = false;
    emit loadingChanged(false);
    emit loadFinished();
}

void Provener::setSearchProblem(const QString& failure, qsizetype unreadableLines)
{
    if (failure == m_searchFailure && unreadableLines == m_unreadableLines)
        return;
    m_searchFailure = failure;
    m_unreadableLines = unreadableLines;
    emit searchProblemChanged();
}

CsvWriteResult Provener::writeCSV(const QString& destination) const
{
    return ApplicationInventory::csv(m_proverList).exportTo(destination);
}

int Provener::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_proverList.size());
}

QVariant Provener::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Prover& record = m_proverList.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case ExportTextRole:
        return record.exportText();
    case IdRole:
        return record.id;
    case NameRole:
        return record.name;
    case HasProvenanceRole:
        return record.hasProvenance;
    case ProvenanceIDRole:
        return record.provenanceID;
    case HasQuarantineRole:
        return record.hasQuarantine;
    case QuarantineAppRole:
        return record.quarantineApp;
    default:
        return {};
    }
}

QHash<int, QByteArray> Provener::roleNames() const
{
    return recordRoleNames();
}
