#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The display texts of the two attributes. Neither decoding fails.

// "0x" and every byte of provenanceValue() in stored order as two lowercase hex digits,
// however long the value.
QString decodeProvenanceID(const QByteArray& bytes);

// The third non-empty ";"-separated field of quarantineText() (the agent that downloaded
// the file), or "unknown" when there are fewer fields or the text is not UTF-8.
QString decodeQuarantineApp(const QByteArray& bytes);

// Shares that append a NUL to every value (Samba's prefix "user.", netatalk's "ea = samba")
// make an 11-byte provenance (01 02 00 and an 8-byte key) 12 bytes long: such a value
// plus 00 is that 11-byte value. Every other value is kept as it is.
QByteArrayView provenanceValue(QByteArrayView bytes);

// The quarantine value is a C string: it ends at its first NUL, if any.
QByteArrayView quarantineText(QByteArrayView bytes);
