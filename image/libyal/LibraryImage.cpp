#include "image/libyal/LibraryImage.h"

#include "image/libyal/BfioPool.h"
#include "image/libyal/LibyalCalls.h"

#include <QFile>

#include <sys/stat.h>

namespace {

// A library's error as one line (its last message), then freed.
template<typename Error, typename Sprint, typename Free>
QString take(Error* error, Sprint sprint, Free release, const QString& fallback)
{
    if (!error)
        return fallback;
    char text[1024] = {};
    const bool said = sprint(error, text, sizeof text) > 0;
    release(&error);
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return said && !lines.isEmpty() ? fallback + QStringLiteral(": ") + lines.last().simplified() : fallback;
}

QString ewfError(const LibyalCalls& calls, libewf_error_t* error, const QString& fallback)
{
    return take(error, calls.libewf_error_sprint, calls.libewf_error_free, fallback);
}

QString vmdkError(const LibyalCalls& calls, libvmdk_error_t* error, const QString& fallback)
{
    return take(error, calls.libvmdk_error_sprint, calls.libvmdk_error_free, fallback);
}

libewf_handle_t* ewf(void* handle)
{
    return static_cast<libewf_handle_t*>(handle);
}

libvmdk_handle_t* vmdk(void* handle)
{
    return static_cast<libvmdk_handle_t*>(handle);
}

// The name of the segment file `index` (from 1) of the set whose first segment ends in `first`
// and "01": E01…E99, EAA…ZZZ (s01…, saa… for SMART sets), in the case `first` has.
QByteArray segmentName(const QByteArray& stem, int index, char first)
{
    if (index <= 99)
        return stem + first + QByteArray::number(index).rightJustified(2, '0');
    const char a = first >= 'a' ? 'a' : 'A';
    const int past = index - 100;
    return stem + char(first + past / 676) + char(a + past / 26 % 26) + char(a + past % 26);
}

bool exists(const QByteArray& path)
{
    struct stat status;
    return ::stat(path.constData(), &status) == 0;
}

// The last index of the segment set whose first segment is `path`: 1 for a single file (no
// E01 or s01 name). A segment missing where a later one is there is named in `missing`: libewf
// would read zeros past the gap, which pass for an image without volumes.
int lastSegment(const QByteArray& path, QByteArray* missing)
{
    const QByteArray suffix = path.right(3).toUpper();
    if (path.size() < 4 || (suffix != "E01" && suffix != "S01") || path.at(path.size() - 4) != '.')
        return 1;
    const QByteArray stem = path.chopped(3);
    const char first = path.at(path.size() - 3);
    int last = 1;
    int gap = 0;
    // Past 50 names missing in a row, the set has ended.
    for (int index = 2; index <= 99 + 14 * 676 && index - last <= 50; ++index) {
        if (exists(segmentName(stem, index, first))) {
            if (gap != 0) {
                *missing = segmentName(stem, gap, first);
                return 0;
            }
            last = index;
        } else if (gap == 0) {
            gap = index;
        }
    }
    return last;
}

} // namespace

LibraryImage::LibraryImage(Format format, const LibyalCalls* calls) : m_format(format), m_calls(calls) {}

LibraryImage::~LibraryImage()
{
    if (m_format == Format::Ewf && m_handle) {
        auto* handle = ewf(m_handle);
        m_calls->libewf_handle_close(handle, nullptr);
        m_calls->libewf_handle_free(&handle, nullptr);
    } else if (m_handle) {
        auto* handle = vmdk(m_handle);
        m_calls->libvmdk_handle_close(handle, nullptr);
        m_calls->libvmdk_handle_free(&handle, nullptr);
    }
    // The pools go after the handles that read through them.
}

std::unique_ptr<LibraryImage> LibraryImage::open(Format format, const QByteArray& path, QString* error)
{
    const LibyalCalls* calls = LibyalCalls::get();
    if (!calls) {
        *error = QStringLiteral("this system's Sleuth Kit reads no %1 images")
                     .arg(format == Format::Ewf ? QStringLiteral("E01") : QStringLiteral("VMDK"));
        return nullptr;
    }
    std::unique_ptr<LibraryImage> image(new LibraryImage(format, calls));
    image->m_files = std::make_unique<BfioPool>(*calls);
    const bool opened = format == Format::Ewf ? image->openEwf(path, error) : image->openVmdk(path, error);
    if (!opened)
        return nullptr;
    return image;
}

bool LibraryImage::openEwf(const QByteArray& path, QString* error)
{
    QByteArray missing;
    const int last = lastSegment(path, &missing);
    if (last == 0) {
        *error =
            QStringLiteral("the segment file %1 of the image is missing").arg(QFile::decodeName(missing));
        return false;
    }
    const QByteArray stem = path.chopped(3);
    for (int index = 1; index <= last; ++index) {
        if (!m_files->add(index == 1 ? path : segmentName(stem, index, path.at(path.size() - 3)), error))
            return false;
    }
    libewf_handle_t* handle = nullptr;
    libewf_error_t* failure = nullptr;
    if (m_calls->libewf_handle_initialize(&handle, &failure) != 1) {
        *error = ewfError(*m_calls, failure, QStringLiteral("cannot read the E01 image"));
        return false;
    }
    m_handle = handle;
    size64_t size = 0;
    uint32_t sectorSize = 0;
    if (m_calls->libewf_handle_open_file_io_pool(handle, m_files->pool(), LIBEWF_OPEN_READ, &failure) != 1 ||
        m_calls->libewf_handle_get_media_size(handle, &size, &failure) != 1) {
        *error = ewfError(*m_calls, failure, QStringLiteral("cannot read the E01 image"));
        return false;
    }
    if (m_calls->libewf_handle_get_bytes_per_sector(handle, &sectorSize, nullptr) == 1 && sectorSize >= 512 &&
        sectorSize % 512 == 0)
        m_sectorSize = sectorSize;
    m_size = qint64(size);
    return true;
}

bool LibraryImage::openVmdk(const QByteArray& path, QString* error)
{
    m_descriptor = std::make_unique<BfioPool>(*m_calls);
    if (!m_descriptor->add(path, error))
        return false;
    libvmdk_handle_t* handle = nullptr;
    libvmdk_error_t* failure = nullptr;
    if (m_calls->libvmdk_handle_initialize(&handle, &failure) != 1) {
        *error = vmdkError(*m_calls, failure, QStringLiteral("cannot read the VMDK image"));
        return false;
    }
    m_handle = handle;
    int extents = 0;
    if (m_calls->libvmdk_handle_open_file_io_handle(handle, m_descriptor->handle(0), LIBVMDK_OPEN_READ,
                                                    &failure) != 1 ||
        m_calls->libvmdk_handle_get_number_of_extents(handle, &extents, &failure) != 1) {
        *error = vmdkError(*m_calls, failure, QStringLiteral("cannot read the VMDK image"));
        return false;
    }
    // A sparse or stream-optimized disk is one file, its descriptor inside: read under whatever
    // name the file has now, not the one its descriptor was written with.
    int type = LIBVMDK_DISK_TYPE_UNDEFINED;
    const bool oneFile =
        extents == 1 && m_calls->libvmdk_handle_get_disk_type(handle, &type, nullptr) == 1 &&
        (type == LIBVMDK_DISK_TYPE_MONOLITHIC_SPARSE || type == LIBVMDK_DISK_TYPE_STREAM_OPTIMIZED);
    if (oneFile && !m_files->add(path, error))
        return false;
    // Extents are looked for beside the descriptor, by their base name alone: a descriptor
    // is evidence too, and may name any path on this machine.
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : path.left(slash + 1);
    for (int index = 0; !oneFile && index < extents; ++index) {
        libvmdk_extent_descriptor_t* extent = nullptr;
        size_t nameSize = 0;
        QByteArray name;
        if (m_calls->libvmdk_handle_get_extent_descriptor(handle, index, &extent, &failure) == 1 &&
            m_calls->libvmdk_extent_descriptor_get_utf8_filename_size(extent, &nameSize, &failure) == 1 &&
            nameSize > 1) {
            name.resize(qsizetype(nameSize));
            if (m_calls->libvmdk_extent_descriptor_get_utf8_filename(
                    extent, reinterpret_cast<uint8_t*>(name.data()), nameSize, &failure) != 1)
                name.clear();
        }
        if (extent)
            m_calls->libvmdk_extent_descriptor_free(&extent, nullptr);
        name = name.left(name.indexOf('\0'));
        name = name.mid(std::max(name.lastIndexOf('/'), name.lastIndexOf('\\')) + 1);
        if (name.isEmpty() || name == "." || name == "..") {
            *error =
                vmdkError(*m_calls, failure,
                          QStringLiteral("the VMDK descriptor names no file for extent %1").arg(index + 1));
            return false;
        }
        if (!m_files->add(folder + name, error))
            return false;
    }
    size64_t size = 0;
    if (m_calls->libvmdk_handle_open_extent_data_files_file_io_pool(handle, m_files->pool(), &failure) != 1 ||
        m_calls->libvmdk_handle_get_media_size(handle, &size, &failure) != 1) {
        *error = vmdkError(*m_calls, failure, QStringLiteral("cannot read the VMDK image"));
        return false;
    }
    m_size = qint64(size);
    return true;
}

qint64 LibraryImage::read(quint64 offset, char* buffer, size_t length, QString* error) const
{
    if (m_format == Format::Ewf) {
        libewf_error_t* failure = nullptr;
        const ssize_t got =
            m_calls->libewf_handle_read_random(ewf(m_handle), buffer, length, off64_t(offset), &failure);
        if (got < 0)
            *error = ewfError(*m_calls, failure, QStringLiteral("cannot read the E01 image"));
        return got;
    }
    libvmdk_error_t* failure = nullptr;
    const ssize_t got = m_calls->libvmdk_handle_read_buffer_at_offset(vmdk(m_handle), buffer, length,
                                                                      off64_t(offset), &failure);
    if (got < 0)
        *error = vmdkError(*m_calls, failure, QStringLiteral("cannot read the VMDK image"));
    return got;
}
