#include "image/ImageXattrCalls.h"

#include <tsk/libtsk.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool isExtendedAttribute(const TSK_FS_ATTR* attribute)
{
    return attribute && attribute->name &&
           (attribute->type == TSK_FS_ATTR_TYPE_APFS_EXT_ATTR || attribute->type == TSK_FS_ATTR_TYPE_HFS_EXT_ATTR);
}

ssize_t failWith(int error)
{
    errno = error;
    return -1;
}

} // namespace

bool ImageXattrCalls::any() const
{
    const int count = tsk_fs_file_attr_getsize(m_file);
    for (int i = 0; i < count; ++i) {
        if (isExtendedAttribute(tsk_fs_file_attr_get_idx(m_file, i)))
            return true;
    }
    return false;
}

ssize_t ImageXattrCalls::list(char* buffer, size_t size)
{
    std::string names;
    const int count = tsk_fs_file_attr_getsize(m_file);
    for (int i = 0; i < count; ++i) {
        const TSK_FS_ATTR* attribute = tsk_fs_file_attr_get_idx(m_file, i);
        if (isExtendedAttribute(attribute)) {
            names += attribute->name;
            names += '\0';
        }
    }
    if (buffer && size < names.size())
        return failWith(ERANGE);
    if (buffer)
        std::memcpy(buffer, names.data(), names.size());
    return ssize_t(names.size());
}

ssize_t ImageXattrCalls::get(const char* name, void* buffer, size_t size)
{
    const int count = tsk_fs_file_attr_getsize(m_file);
    for (int i = 0; i < count; ++i) {
        const TSK_FS_ATTR* attribute = tsk_fs_file_attr_get_idx(m_file, i);
        if (!isExtendedAttribute(attribute) || std::strcmp(attribute->name, name) != 0)
            continue;
        if (attribute->size < 0)
            return failWith(EIO);
        const size_t valueSize = size_t(attribute->size);
        if (valueSize > kMaxValueSize)
            return failWith(E2BIG);
        if (!buffer)
            return ssize_t(valueSize);
        if (size < valueSize)
            return failWith(ERANGE);
        if (valueSize == 0)
            return 0;
        tsk_error_reset();
        const ssize_t got = tsk_fs_attr_read(attribute, 0, static_cast<char*>(buffer), valueSize,
                                             TSK_FS_FILE_READ_FLAG_NONE);
        tsk_error_reset();
        return got == ssize_t(valueSize) ? got : failWith(EIO);
    }
    return failWith(ENODATA);
}
