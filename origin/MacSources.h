#pragma once

#include <QByteArray>
#include <QList>

// Where a Mac keeps the records that say where its files came from: the volume's ExecPolicy
// database and each user's QuarantineEventsV2 database. Paths are raw file-system bytes.
struct MacSources
{
    QByteArray execPolicy;              // empty when there is none
    QList<QByteArray> quarantineEvents; // in the order they are consulted

    bool isEmpty() const { return execPolicy.isEmpty() && quarantineEvents.isEmpty(); }
    friend bool operator==(const MacSources&, const MacSources&) = default;

    // The databases under `dir`, named as a Mac volume root (Users/*/Library/...,
    // private/var/db/...) or as a home folder (Library/Preferences/...).
    static MacSources at(const QByteArray& dir);
    // The nearest home folder and the nearest volume root at or above `path` (a file or a
    // folder; relative to the working folder unless absolute). Empty when there are none.
    static MacSources above(const QByteArray& path);
};

size_t qHash(const MacSources& sources, size_t seed = 0);
