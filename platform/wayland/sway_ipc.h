#pragma once
// The sway compositor's IPC socket: one request, one reply. Framing: "i3-ipc", payload length
// and message type as 32-bit numbers in the machine's byte order, then the payload. No Qt.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace glimmerly::platform::wayland {

inline constexpr std::uint32_t kSwayGetTree = 4;
inline constexpr std::size_t kSwayHeaderSize = 14;
// Replies beyond this are refused (a tree of thousands of windows stays far below).
inline constexpr std::uint32_t kMaxSwayReply = 64u << 20;

std::string SwayRequest(std::uint32_t type, std::string_view payload);

// The payload length of a reply header of `type`; nullopt when the header is not one (wrong
// magic, another type, a length beyond kMaxSwayReply).
std::optional<std::uint32_t> SwayReplyLength(std::string_view header, std::uint32_t type);

// Sends the request to the socket at `socketPath` and returns the reply's payload; nullopt when
// the socket cannot be reached or answers nothing sensible within `timeoutMs` per read.
std::optional<std::string> SwayQuery(const std::string& socketPath, std::uint32_t type,
                                     std::string_view payload, int timeoutMs = 2000);

} // namespace glimmerly::platform::wayland
