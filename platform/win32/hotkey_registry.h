#pragma once
// The program's global hot keys as the system keeps them: RegisterHotKey for the thread (no
// window), so each press arrives as a WM_HOTKEY thread message in the window thread's queue.
// No Qt; the hot key interface on top of it watches Qt's event loop for those messages.

#include "platform/platform.h"

#include <set>

struct tagMSG;

namespace glimmerly::platform::win32 {

class HotKeyRegistry {
public:
    HotKeyRegistry() = default;
    ~HotKeyRegistry();
    HotKeyRegistry(const HotKeyRegistry&) = delete;
    HotKeyRegistry& operator=(const HotKeyRegistry&) = delete;

    // False when the key cannot be had (ERROR_HOTKEY_ALREADY_REGISTERED: another program, or
    // another id of this one, holds it). An id registered before is given up first. Auto-repeat
    // of a held key is not reported (MOD_NOREPEAT).
    bool Register(int id, Key key, unsigned modifiers);
    void Unregister(int id);

    bool Holds(int id) const { return ids_.count(id) != 0; }
    // The id of a press of one of this registry's keys, -1 for every other message.
    int PressOf(const tagMSG& message) const;

    // Removes every press still waiting in the calling thread's queue.
    static void DropQueuedPresses();

private:
    std::set<int> ids_;
};

} // namespace glimmerly::platform::win32
