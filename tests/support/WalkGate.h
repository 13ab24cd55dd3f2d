#pragma once

#include <QByteArray>

// Holds every walk at the entry with the given name (at its first attribute call) until
// release() or the gate's end, the way a hung file system would. One gate at a time.
class WalkGate
{
public:
    explicit WalkGate(const QByteArray& name);
    ~WalkGate();
    WalkGate(const WalkGate&) = delete;
    WalkGate& operator=(const WalkGate&) = delete;

    // Waits until a walk is held at the gate; false after `milliseconds` without one.
    bool waitUntilHeld(int milliseconds = 10000);
    // Lets every held walk go on; later ones pass too.
    void release();
};
