#pragma once
// The words of the channel a second copy of the program uses to ask the running one for a
// capture, the same on every system.
//
// Request: "capture\n", or "capture " + an activation token + "\n" (the token the launcher gave
// the asking process, which lets the running copy's window take the focus). Answers: "ok\n"
// (taken), "busy\n" (dropped, as a key press would be, or not read in time), "refused\n"
// (another user), "?\n" (not a request).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace glimmerly::platform {

enum class CaptureRequestResult { Taken, Dropped, Refused, NoListener };

inline constexpr std::string_view kCaptureAnswerTaken = "ok\n";
inline constexpr std::string_view kCaptureAnswerBusy = "busy\n";
inline constexpr std::string_view kCaptureAnswerRefused = "refused\n";
inline constexpr std::string_view kCaptureAnswerUnknown = "?\n";

// The longest request: what the channel reads of a client at most.
inline constexpr std::size_t kMaxCaptureRequestLine = 8 + 255 + 1;

// Whether `token` can travel in a request: 1 to 255 printable ASCII characters, no blank.
bool IsActivationToken(const std::string& token);

// The request to send: with `activationToken` when it is one, else the plain one.
std::string CaptureRequestLine(const std::string& activationToken);

// The token of a well-formed request line ("" for one without), nullopt for anything else.
std::optional<std::string> ParseCaptureRequest(const std::string& line);

// What an answer read from the running copy means ("?\n" and anything unknown: Refused).
CaptureRequestResult CaptureAnswerResult(const std::string& answer);

} // namespace glimmerly::platform
