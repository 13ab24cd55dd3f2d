#pragma once

#include "crawl/Crawled.h"
#include "crawl/EntryXattrCalls.h"
#include "origin/EntryReads.h"

#include <QByteArray>

class FolderSidecars;
struct DecoratedValues;

#include <cstdint>
#include <memory>
#include <optional>

// Examines the entries of an open folder for the walk, one walking thread each: lists an
// entry's attribute names once (most entries carry none, and that settles them), then runs
// the usual evaluation over the names listed, and makes the entry's record if it is listed.
class EntryExaminer
{
public:
    // `whereFroms`: an entry that carries only a download URL is listed too. `keepReads`: a
    // listed entry's record comes with what was read of it (see EntryReads).
    explicit EntryExaminer(bool showQuarantine, bool whereFroms = false, bool keepReads = false)
        : m_showQuarantine(showQuarantine), m_whereFroms(whereFroms), m_keepReads(keepReads)
    {}

    struct Outcome
    {
        std::optional<Crawled> record;
        std::unique_ptr<EntryReads> reads; // with keepReads, for a listed entry
        // The entry's attributes could not be read (no permission, an I/O error): what the
        // list shows of it may be incomplete. An entry that vanished is not unreadable.
        bool unreadable = false;
        int error = 0; // the errno that made it unreadable
        // Not listed only because the crawl leaves quarantine values out.
        bool quarantineOnly = false;
    };

    // `sidecars`: where the folder's entries find their AppleDouble files, or null when
    // sidecars are not read. An AppleDouble file itself is then no row.
    Outcome examine(int folderFd, const char* name, std::uint32_t length, unsigned char type,
                    const QByteArray& encodedFolder, const FolderSidecars* sidecars);

    // Whether a failed call with this errno means the attributes exist but could not be read.
    static bool isReadFailure(int error);

private:
    template<typename Source> void keepWithUrl(Source& source, DecoratedValues& values) const;

    bool m_showQuarantine;
    bool m_whereFroms;
    bool m_keepReads;
    EntryXattrCalls::Scratch m_scratch;
};
