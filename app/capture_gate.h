#pragma once
// The one switch that decides whether a hot key starts a capture (CaptureReady), and the one way
// back to ready after a capture, an upload, a rename or a login has ended, however it ended.

#include <functional>

namespace glimmerly {

struct SharedState;
namespace platform {
class HotKeys;
}

class CaptureGate {
public:
    // `unlockOptions` enables the option controls again (LockOptions(false)).
    CaptureGate(SharedState& state, platform::HotKeys& hotKeys,
                std::function<void()> unlockOptions);

    // Back to ready: hot keys pressed while the program was busy are dropped (a press that sat in
    // the queue behind a blocking request must not start a capture now), the name waiting for a
    // rename is cleared, captures are allowed and the options unlocked. Window thread.
    void ReArm();

    // Busy for the life of the object: for a request that blocks the window thread. At its end,
    // the hot keys pressed meanwhile are dropped and the gate is as it was before.
    class Hold {
    public:
        explicit Hold(CaptureGate& gate);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        CaptureGate& gate_;
        bool wasReady_;
    };

private:
    SharedState& state_;
    platform::HotKeys& hotKeys_;
    std::function<void()> unlockOptions_;
};

} // namespace glimmerly
