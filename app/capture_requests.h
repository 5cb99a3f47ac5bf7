#pragma once
// Capture requests from other copies of the program (glimmerly --capture), taken on the window
// thread the way a press of Print is: the same handler, and dropped whenever hot key presses
// are dropped.

#include "platform/capture_channel.h"
#include "platform/platform.h"
#include "platform/qt/wake_notifier.h"

#include <functional>
#include <memory>
#include <string>

namespace glimmerly {

class CaptureRequests {
public:
    // `accepts` tells whether a capture would start now (as a press of Print would); `capture`
    // runs one, with the launcher's activation token ("" when the request carried none). Window
    // thread. Every request of a batch is answered before the capture runs (which may hold the
    // window thread for as long as the editor is open): the first "ok" when `accepts`, the rest
    // "busy", as presses made while a capture starts are dropped.
    CaptureRequests(platform::CaptureChannelServer& server, std::function<bool()> accepts,
                    std::function<void(const std::string& activationToken)> capture);

private:
    void TakeWaiting();

    platform::CaptureChannelServer& server_;
    std::function<bool()> accepts_;
    std::function<void(const std::string&)> capture_;
    // Wakes the window thread while requests read in full wait.
    platform::WakeNotifier notifier_;
};

// The desktop's hot keys, with the channel's waiting requests dropped together with the waiting
// presses (the program was busy when they came).
class HotKeysWithChannel : public platform::HotKeys {
public:
    HotKeysWithChannel(std::unique_ptr<platform::HotKeys> keys,
                       platform::CaptureChannelServer& server)
        : keys_(std::move(keys)), server_(server) {}

    bool Register(int id, platform::Key key, unsigned modifiers) override {
        return keys_->Register(id, key, modifiers);
    }
    void Unregister(int id) override { keys_->Unregister(id); }
    void SetHandler(std::function<void(int id)> onHotKey) override {
        keys_->SetHandler(std::move(onHotKey));
    }
    void DiscardPending() override {
        keys_->DiscardPending();
        server_.DropPending();
    }

private:
    std::unique_ptr<platform::HotKeys> keys_;
    platform::CaptureChannelServer& server_;
};

} // namespace glimmerly
