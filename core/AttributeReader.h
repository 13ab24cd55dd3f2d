#pragma once

#include "core/HostAttributeName.h"
#include "core/PosixResult.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Reads the extended attributes of a file-system path, following symbolic links.
// A path may be given as text or as its raw bytes (file names need not be UTF-8).
// Failures come back as the POSIX error: ENODATA when the attribute does not exist.

inline constexpr char kProvenanceAttribute[] = "com.apple.provenance";
inline constexpr char kQuarantineAttribute[] = "com.apple.quarantine";

// True when the attribute exists with at least one byte, false when it is empty.
PosixResult<bool> attributeHasValue(const QByteArray& path, const QString& name);
PosixResult<bool> attributeHasValue(const QString& path, const QString& name);

PosixResult<bool> provenancePresent(const QString& path);
PosixResult<bool> quarantinePresent(const QString& path);

// The attribute's whole value.
PosixResult<QByteArray> readAttribute(const QByteArray& path, const QString& name);
PosixResult<QByteArray> readAttribute(const QString& path, const QString& name);

// The host forms of the two attributes, computed once.
const std::vector<HostAttributeName>& provenanceForms();
const std::vector<HostAttributeName>& quarantineForms();
