#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QUuid>

struct DecoratedValues;

class CsvWriter;

// One listed entry of a folder crawl: its name as the user reads it, the percent-encoded
// full path (a directory's ends in "/"), and the decorated provenance and quarantine texts.
// Stored compactly (one UTF-8 block, the folder's encoded path shared with the entry's
// siblings) because a crawl may list millions of them.
class Crawled
{
public:
    Crawled() = default;
    // A record with a new id.
    Crawled(const QString& name, const QString& path, const QString& provenanceID,
            const QString& quarantineApp);

    // The walk's record: `encodedFolder` is the folder's encoded path ending in "/", shared
    // with the other entries of that folder; `rawName` the entry's name as stored on disk.
    static Crawled fromWalk(const QByteArray& encodedFolder, QByteArrayView rawName, bool isDirectory,
                            const DecoratedValues& values);

    QUuid id() const { return m_id; }
    QString name() const;
    QString path() const;
    QString provenanceID() const;
    QString quarantineApp() const;

    // name | provenanceID | quarantineApp | path, empty fields kept; one line: control
    // characters are shown as their pictures.
    QString exportText() const;
    // The CSV columns, in csvHeader() order.
    QStringList csvFields() const;
    // The same fields as one CSV row, straight from the stored UTF-8.
    void addCsvRow(CsvWriter& csv) const;
    static QStringList csvHeader();

    bool operator==(const Crawled& other) const;

private:
    QString piece(quint32 begin, quint32 end) const;

    QUuid m_id;
    QByteArray m_folder; // encoded, shared between siblings
    QByteArray m_text;   // UTF-8: name, provenance, quarantine, then the rest of the encoded path
    quint32 m_nameEnd = 0;
    quint32 m_provenanceEnd = 0;
    quint32 m_quarantineEnd = 0;
};

Q_DECLARE_TYPEINFO(Crawled, Q_RELOCATABLE_TYPE);
