#pragma once

// Both libraries declare their libbfio entry points only where libbfio is asked for.
#ifndef HAVE_LIBBFIO
#define HAVE_LIBBFIO 1
#endif
#include <libbfio.h>
#include <libewf.h>
#include <libvmdk.h>

// The libewf, libvmdk and libbfio functions we call, taken from the copies Sleuth Kit's own
// libraries are bound to rather than linked by us. Debian's libewf and libvhdi each carry a
// copy of libbfio (libvmdk one of libcdata, and so on), the first loaded serves every caller,
// and the copies mix only in the order Sleuth Kit loads them: libewf's pools crash or fail
// when another order serves them. Looked up once; each member is the function of its name.
// clang-format off
#define QUELLMARK_LIBYAL_CALLS(X)                                                                   \
    X(libbfio_handle_initialize) X(libbfio_handle_free) X(libbfio_pool_initialize)                \
    X(libbfio_pool_free) X(libbfio_pool_append_handle) X(libbfio_pool_get_handle)                 \
    X(libewf_handle_initialize) X(libewf_handle_free) X(libewf_handle_open_file_io_pool)          \
    X(libewf_handle_close) X(libewf_handle_get_media_size) X(libewf_handle_get_bytes_per_sector)  \
    X(libewf_handle_read_random) X(libewf_error_sprint) X(libewf_error_free)                      \
    X(libvmdk_handle_initialize) X(libvmdk_handle_free) X(libvmdk_handle_open_file_io_handle)     \
    X(libvmdk_handle_get_number_of_extents) X(libvmdk_handle_get_extent_descriptor)               \
    X(libvmdk_handle_get_disk_type)                                                               \
    X(libvmdk_extent_descriptor_free) X(libvmdk_extent_descriptor_get_utf8_filename_size)         \
    X(libvmdk_extent_descriptor_get_utf8_filename)                                                \
    X(libvmdk_handle_open_extent_data_files_file_io_pool) X(libvmdk_handle_get_media_size)        \
    X(libvmdk_handle_read_buffer_at_offset) X(libvmdk_handle_close) X(libvmdk_error_sprint)       \
    X(libvmdk_error_free)
// clang-format on

struct LibyalCalls
{
#define QUELLMARK_LIBYAL_MEMBER(name) decltype(&::name) name = nullptr;
    QUELLMARK_LIBYAL_CALLS(QUELLMARK_LIBYAL_MEMBER)
#undef QUELLMARK_LIBYAL_MEMBER

    // Null when this Sleuth Kit was built without libewf or libvmdk (or either lacks one).
    static const LibyalCalls* get();
};
