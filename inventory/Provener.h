#pragma once

#include "core/ApplicationDiscovery.h"
#include "core/CsvWriteResult.h"
#include "core/RecordRoles.h"
#include "inventory/ApplicationInventory.h"
#include "inventory/Prover.h"

#include <QAbstractListModel>

#include <atomic>
#include <memory>

// The application list behind a main window. loadApps() runs the load on a worker
// thread, so the window keeps drawing; the finished list replaces proverList on the
// GUI thread in one step.
class Provener : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(bool loading READ isLoading NOTIFY loadingChanged)

public:
    explicit Provener(QObject* parent = nullptr);
    ~Provener() override;

    const QList<Prover>& proverList() const { return m_proverList; }
    bool isLoading() const { return m_loading; }
    // After a load: why the application search may have missed applications (empty when
    // it ran to the end), and how many of its results could not be read. The list then
    // holds what was found.
    QString searchFailure() const { return m_searchFailure; }
    qsizetype unreadableSearchResults() const { return m_unreadableLines; }
    // How many applications the last load examined, listed or not.
    qsizetype applicationsExamined() const { return m_examined; }

    // The discovery tool to run (tests give a fake one).
    void setDiscovery(const ApplicationDiscovery& discovery) { m_discovery = discovery; }

    // Empties the list and starts a load; ignored while a load is running.
    void loadApps();

    // Writes the list as CSV; an empty list writes nothing.
    CsvWriteResult writeCSV(const QString& destination) const;
    static QString proposedCsvName() { return QStringLiteral("Quellmark_App_List.csv"); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void loadingChanged(bool loading);
    void proverListChanged();
    void loadFinished();
    void searchProblemChanged();

private:
    void finishLoad(ApplicationInventory::Loaded loaded);
    void setSearchProblem(const QString& failure, qsizetype unreadableLines);

    QList<Prover> m_proverList;
    ApplicationDiscovery m_discovery;
    bool m_loading = false;
    QString m_searchFailure;
    qsizetype m_unreadableLines = 0;
    qsizetype m_examined = 0;
    std::shared_ptr<std::atomic_bool> m_cancel;
};
