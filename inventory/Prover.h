#pragma once

#include <QString>
#include <QUuid>

// One application that carries a provenance or a quarantine attribute.
struct Prover
{
    QUuid id = QUuid::createUuid();
    QString name; // the application's full path, as discovery gave it
    bool hasProvenance = false;
    QString provenanceID = QStringLiteral("no ID");
    bool hasQuarantine = false;
    QString quarantineApp = QStringLiteral("no app");

    // "name | provenanceID | quarantineApp", as copied from the list; one line: control
    // characters are shown as their pictures.
    QString exportText() const;
};
