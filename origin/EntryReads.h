#pragma once

#include "core/AppleDouble.h"
#include "origin/FileStatus.h"
#include "origin/XattrSnapshot.h"

#include <QByteArray>
#include <QStringList>

#include <optional>

class OriginDatabases;

// What is read of one entry to tell where it came from: its attributes, its status and the
// AppleDouble file that lends it what it lacks. Read from a path, or handed over by the walk,
// which has read most of it already: either way each is read once.
struct EntryReads
{
    XattrSnapshot attributes;
    std::optional<FileStatus> status;
    std::optional<AppleDouble> sidecar;
    int sidecarError = 0;            // an AppleDouble file is there but could not be read
    bool sidecarFromArchive = false; // found in an unzipped archive's __MACOSX folder
    bool orphan = false;             // the entry is an AppleDouble file whose own file is gone

    // What a writer made of the entry on the walking thread, ahead of its turn (see
    // TreeWalker::Options::prepare), for the sink to write out in walk order.
    struct Written
    {
        bool kept = false;                          // the writer's filters keep the entry
        QByteArray text;                            // its output
        QStringList notes;                          // to say of it, one line each
        bool partial = false;                       // some of its evidence could not be used
        const OriginDatabases* databases = nullptr; // where its links came from
    };
    std::optional<Written> written;

    // The entry at `rawPath` (any length, no trailing "/"; symbolic links followed for the
    // attributes). With `sidecars`, its AppleDouble file is looked for too.
    static EntryReads of(const QByteArray& rawPath, bool sidecars);
};
