#pragma once
// xdg-activation: a compositor lets a window take the focus when it presents a token. The token
// of a key binding comes from the launcher that started `glimmerly --capture` in
// $XDG_ACTIVATION_TOKEN; without one, the asking process asks the compositor for a token of its
// own, and the compositor's rules decide what it is worth (sway 1.7 focuses the window with
// `focus_on_window_activation focus`, and marks it urgent by default).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace glimmerly::platform::wayland {

// The launcher's token of this process ($XDG_ACTIVATION_TOKEN), empty when there is none that
// can travel in a capture request.
std::string LauncherActivationToken();

// The requests that bind xdg_activation_v1 (the registry's global `name`, as object 4) and ask it
// for a token (object 5), committed without surface or serial.
std::string TokenRequests(std::uint32_t name);

// Reads the compositor's events from `stream` (which may end in the middle of one) for the
// exchange of TokenRequests: first the registry up to the sync (sets `activationGlobal` when
// xdg_activation_v1 is announced, `synced` when done), then the token's done event (sets
// `token`). Returns the bytes used; sets `failed` on a protocol error or a malformed message.
std::size_t ReadTokenEvents(std::string_view stream, std::optional<std::uint32_t>& activationGlobal,
                            bool& synced, std::optional<std::string>& token, bool& failed);

// A token from the compositor at `socketPath`; nullopt when it offers no xdg-activation or does
// not answer in time.
std::optional<std::string> RequestActivationToken(const std::string& socketPath,
                                                  int timeoutMs = 1000);

// For the life of the object, the next activation of one of this program's windows presents
// `token` (nothing happens for an empty one): Qt's Wayland plugin reads $XDG_ACTIVATION_TOKEN
// at each activation and removes it. Taken back at the end when unused, so that neither a later
// activation nor a program started later gets a stale token. Create it on the window thread
// before other threads of the program run: adding a variable may move the environment.
class ActivationTokenScope {
public:
    explicit ActivationTokenScope(const std::string& token);
    ~ActivationTokenScope();
    ActivationTokenScope(const ActivationTokenScope&) = delete;
    ActivationTokenScope& operator=(const ActivationTokenScope&) = delete;

private:
    bool set_ = false;
};

} // namespace glimmerly::platform::wayland
