#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class BfioPool;
struct LibyalCalls;

// An E01 segment set or a VMDK image (descriptor and extents), read by libewf or libvmdk over
// files we open ourselves (BfioPool): the libraries never open a file, so reading an image
// keeps its files' access times.
class LibraryImage
{
public:
    enum class Format
    {
        Ewf,
        Vmdk
    };

    ~LibraryImage();
    LibraryImage(const LibraryImage&) = delete;
    LibraryImage& operator=(const LibraryImage&) = delete;

    // Opens the image `path` names (an E01 set's first segment, a VMDK descriptor or sparse
    // extent); null with the reason in `error`.
    static std::unique_ptr<LibraryImage> open(Format format, const QByteArray& path, QString* error);

    Format format() const { return m_format; }
    qint64 size() const { return m_size; }
    unsigned int sectorSize() const { return m_sectorSize; }
    // Reads up to `length` bytes at `offset`; the count read, or -1 with the reason in `error`.
    qint64 read(quint64 offset, char* buffer, size_t length, QString* error) const;

private:
    LibraryImage(Format format, const LibyalCalls* calls);
    bool openEwf(const QByteArray& path, QString* error);
    bool openVmdk(const QByteArray& path, QString* error);

    Format m_format;
    const LibyalCalls* m_calls;
    qint64 m_size = 0;
    unsigned int m_sectorSize = 512;
    void* m_handle = nullptr;               // libewf_handle_t or libvmdk_handle_t, as m_format says
    std::unique_ptr<BfioPool> m_descriptor; // a VMDK's descriptor file
    std::unique_ptr<BfioPool> m_files;      // the segments or extents
};
