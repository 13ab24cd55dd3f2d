#pragma once

#include <sys/types.h>

#include <cstddef>

struct TSK_FS_FILE;

// The attribute calls of ItemAttributes over one file of an image: the names are the
// extended attributes Sleuth Kit found on the file (APFS and HFS+ store the Mac's bare
// names), the values are read from the image. listxattr/getxattr semantics: ERANGE for a
// buffer too small, ENODATA for no such name, EIO for a value that cannot be read, E2BIG
// for one larger than the cap.
class ImageXattrCalls
{
public:
    explicit ImageXattrCalls(TSK_FS_FILE* file) : m_file(file) {}

    // Whether the file carries any extended attribute at all.
    bool any() const;

    ssize_t list(char* buffer, size_t size);
    ssize_t get(const char* name, void* buffer, size_t size);

    // A value larger than this is not read: evidence may be built to exhaust memory.
    static constexpr size_t kMaxValueSize = 1 << 20;

private:
    TSK_FS_FILE* m_file;
};
