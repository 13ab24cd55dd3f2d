#pragma once

#include <QByteArray>
#include <QString>

// The display texts of the two attributes. Neither decoding fails.

// "0x" and every byte in stored order as two lowercase hex digits, however long the value.
QString decodeProvenanceID(const QByteArray& bytes);

// The third non-empty ";"-separated field of the quarantine text (the agent that
// downloaded the file), or "unknown" when there are fewer fields or the bytes are not UTF-8.
QString decodeQuarantineApp(const QByteArray& bytes);
