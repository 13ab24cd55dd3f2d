#pragma once

#include <QByteArray>
#include <QByteArrayList>

// The mount points of the volumes that may hold applications, from a mountinfo table
// (/proc/self/mountinfo format), in table order and each once.
class MountTable
{
public:
    // Leaves out kernel and runtime pseudo file systems, anything mounted below /proc,
    // /sys or /dev, memory file systems below /run, and network file systems, which
    // the platform's own index leaves out too and which could stall the listing.
    static QByteArrayList volumeMountPoints(const QByteArray& mountinfo);
};
