#pragma once

#include "core/AttributeReader.h"
#include "origin/AttributeList.h"
#include "origin/EntryReads.h"
#include "origin/FileStatus.h"
#include "origin/ProvenanceRecord.h"
#include "origin/QuarantineEvent.h"
#include "origin/QuarantineValue.h"
#include "origin/WhereFroms.h"

#include <QByteArray>
#include <QStringList>

#include <array>
#include <optional>
#include <sys/types.h>

class OriginDatabases;

// Everything known of where one file came from: its decoded attributes and the rows of the
// Mac's databases they lead to. Read on demand from the file's path.
struct OriginDetails
{
    QByteArray provenance; // the raw value; empty when there is none
    std::optional<QuarantineValue> quarantine;
    std::optional<QStringList> whereFroms;
    std::optional<QuarantineEvent> quarantineEvent;
    std::optional<ProvenanceRecord> provenanceRecord;
    QStringList notes;    // what was not found or linked, one line each
    QStringList problems; // evidence that could not be read or used, one line each
    // The attributes taken from the file's AppleDouble file, which it lacks itself.
    QStringList fromSidecar;
    // The item is an AppleDouble file whose own file is gone: its values are the sidecar's.
    bool orphanSidecar = false;
    std::optional<FileStatus> status; // the entry's own size and times
    // Where each value came from, in the order of kSourced: the host's name of the item's own
    // attribute ("user.com.apple.quarantine"), "._name" (an AppleDouble file beside it) or
    // "__MACOSX" (one in an unzipped archive's folder); empty for a value the item lacks.
    static constexpr std::array<const char*, 3> kSourced = {kProvenanceAttribute, kQuarantineAttribute,
                                                            WhereFroms::kAttribute};
    std::array<QByteArray, 3> sources;
    // Every attribute the item carries, then those of its AppleDouble file where it was read.
    QList<AttributeList::Entry> attributes;

    // Reads the attributes of the file at `rawPath` (any bytes, any length; symbolic links
    // followed) and links them to `databases` when given. With `sidecars`, an attribute the
    // file lacks is taken from its AppleDouble file, as the lists do.
    static OriginDetails inspect(const QByteArray& rawPath, const OriginDatabases* databases,
                                 bool sidecars = true);

    // Decodes the raw values read from wherever the item lives (a folder, a disk image).
    void decodeValues(const QByteArray& provenanceValue, const QByteArray& quarantineValue,
                      const QByteArray& whereFromsValue);
    // Looks up the decoded values' rows in `databases`; `path` and `uid` tell whose
    // quarantine database an event should come from.
    void linkTo(const OriginDatabases& databases, const QByteArray& path, std::optional<uid_t> uid);
    // linkTo() with the owner of the entry at `rawPath` (that of what a link leads to).
    void link(const OriginDatabases& databases, const QByteArray& rawPath);
    // The same from what was read of the entry at `rawPath` (no trailing "/") already.
    static OriginDetails fromReads(const EntryReads& reads, const QByteArray& rawPath,
                                   const OriginDatabases* databases);

    // The raw path of a listed record's percent-encoded path.
    static QByteArray rawPathOf(const QString& encodedPath);
};
