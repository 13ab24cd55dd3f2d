#include "tests/support/WalkGate.h"

#include "crawl/EntryXattrCalls.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

std::mutex g_mutex;
std::condition_variable g_changed;
QByteArray g_name;
bool g_open = false;
bool g_held = false;

void holdAtGate(const char* name)
{
    std::unique_lock lock(g_mutex);
    if (g_open || g_name != name)
        return;
    g_held = true;
    g_changed.notify_all();
    g_changed.wait(lock, [] { return g_open; });
}

} // namespace

WalkGate::WalkGate(const QByteArray& name)
{
    std::lock_guard lock(g_mutex);
    g_name = name;
    g_open = g_held = false;
    EntryXattrCalls::setCallHook(&holdAtGate);
}

WalkGate::~WalkGate()
{
    release();
    EntryXattrCalls::setCallHook(nullptr);
}

bool WalkGate::waitUntilHeld(int milliseconds)
{
    std::unique_lock lock(g_mutex);
    return g_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [] { return g_held; });
}

void WalkGate::release()
{
    std::lock_guard lock(g_mutex);
    g_open = true;
    g_changed.notify_all();
}
