#pragma once

#include "image/libyal/LibyalCalls.h"

#include <QByteArray>
#include <QString>

// The files of one E01 or VMDK image, opened by us rather than by libewf or libvmdk: each is a
// libbfio handle whose I/O is ours, so every open goes through EvidenceAccess (read-only,
// O_NOATIME where allowed, close-on-exec, never blocking on a FIFO). libbfio may close and
// reopen a file as its pool rotates through many segments.
class BfioPool
{
public:
    explicit BfioPool(const LibyalCalls& calls);
    ~BfioPool();
    BfioPool(const BfioPool&) = delete;
    BfioPool& operator=(const BfioPool&) = delete;

    // Adds `path` as the next file, checking now that it opens and is a regular file;
    // false with the reason (naming the file) in `error`.
    bool add(const QByteArray& path, QString* error);

    libbfio_pool_t* pool() const { return m_pool; }
    // The handle of the file added `entry`-th (from 0), owned by the pool.
    libbfio_handle_t* handle(int entry) const;
    int count() const { return m_count; }

private:
    const LibyalCalls& m_calls;
    libbfio_pool_t* m_pool = nullptr;
    int m_count = 0;
};
