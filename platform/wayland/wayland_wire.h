#pragma once
// The few pieces of the Wayland wire format that the program speaks itself, without a client
// library: 32-bit words in the machine's order, requests and events framed as (object,
// size << 16 | opcode, arguments), strings with their NUL padded to four bytes, and one short
// exchange with the compositor over its socket.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace glimmerly::platform::wayland::wire {

// The ids every exchange here starts with: the display, its registry, the sync's callback.
inline constexpr std::uint32_t kDisplay = 1;
inline constexpr std::uint32_t kRegistry = 2;
inline constexpr std::uint32_t kCallback = 3;

void PutWord(std::string& out, std::uint32_t value);
std::uint32_t GetWord(std::string_view data, std::size_t at);
// A string argument: its length with the NUL, the bytes, the NUL, padding to four bytes.
void PutString(std::string& out, std::string_view text);
// The string argument at `at` of `args`; nullopt when malformed.
std::optional<std::string> GetString(std::string_view args, std::size_t at);
void PutRequest(std::string& out, std::uint32_t object, std::uint32_t opcode,
                std::string_view args);
// wl_display.get_registry (as kRegistry), then wl_display.sync (as kCallback): the registry
// announces every global before the callback's done event.
std::string RegistryAndSync();

struct Event {
    std::uint32_t object;
    std::uint32_t opcode;
    std::string_view args;
};
// Hands each whole event at the start of `stream` (which may end in the middle of one) to
// `take` while it returns true. Returns the bytes of the events handed over; sets `failed` on a
// malformed frame or a wl_display.error.
std::size_t ReadEvents(std::string_view stream, const std::function<bool(const Event&)>& take,
                       bool& failed);

// What a reader of the compositor's answers makes of the bytes so far.
struct Reading {
    std::size_t used = 0; // bytes of whole events taken
    std::string send;     // requests to send now
    bool finished = false;
};
// Connects to the compositor at `socketPath`, sends `hello` and hands the answers as they come
// to `read` until it says it is finished. False when the socket cannot be reached, the
// compositor closes it, answers too much, or stays silent for `timeoutMs`.
bool Converse(const std::string& socketPath, int timeoutMs, const std::string& hello,
              const std::function<Reading(std::string_view pending)>& read);

} // namespace glimmerly::platform::wayland::wire
