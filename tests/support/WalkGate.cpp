#include "tests/support/WalkGate.h"

#include "crawl/EntryXattrCalls.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {

struct GateState
{
    std::mutex mutex;
    std::condition_variable changed;
    QByteArray name;
    bool open = false;
    bool held = false;
};

GateState& gate()
{
    static GateState state;
    return state;
}

void holdAtGate(const char* name)
{
    GateState& state = gate();
    std::unique_lock lock(state.mutex);
    if (state.open || state.name != name)
        return;
    state.held = true;
    state.changed.notify_all();
    state.changed.wait(lock, [&state] { return state.open; });
}

} // namespace

WalkGate::WalkGate(const QByteArray& name)
{
    {
        std::lock_guard lock(gate().mutex);
        gate().name = name;
        gate().open = false;
        gate().held = false;
    }
    EntryXattrCalls::setCallHook(&holdAtGate);
}

WalkGate::~WalkGate()
{
    release();
    EntryXattrCalls::setCallHook(nullptr);
}

bool WalkGate::waitUntilHeld(int milliseconds)
{
    std::unique_lock lock(gate().mutex);
    return gate().changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [] { return gate().held; });
}

void WalkGate::release()
{
    std::lock_guard lock(gate().mutex);
    gate().open = true;
    gate().changed.notify_all();
}
