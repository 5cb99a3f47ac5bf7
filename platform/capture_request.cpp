#include "platform/capture_request.h"

#include <algorithm>

namespace glimmerly::platform {

namespace {

constexpr std::string_view kRequest = "capture\n";
constexpr std::string_view kRequestWithToken = "capture ";
constexpr std::size_t kMaxToken = 255;
static_assert(kMaxCaptureRequestLine == kRequestWithToken.size() + kMaxToken + 1);

} // namespace

bool IsActivationToken(const std::string& token) {
    return !token.empty() && token.size() <= kMaxToken &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

std::string CaptureRequestLine(const std::string& activationToken) {
    if (!IsActivationToken(activationToken))
        return std::string(kRequest);
    return std::string(kRequestWithToken) + activationToken + "\n";
}

std::optional<std::string> ParseCaptureRequest(const std::string& line) {
    if (line == kRequest)
        return std::string();
    if (line.size() < kRequestWithToken.size() + 2 ||
        line.compare(0, kRequestWithToken.size(), kRequestWithToken) != 0 || line.back() != '\n')
        return std::nullopt;
    std::string token =
        line.substr(kRequestWithToken.size(), line.size() - kRequestWithToken.size() - 1);
    if (!IsActivationToken(token))
        return std::nullopt;
    return token;
}

CaptureRequestResult CaptureAnswerResult(const std::string& answer) {
    if (answer == kCaptureAnswerTaken)
        return CaptureRequestResult::Taken;
    if (answer == kCaptureAnswerBusy)
        return CaptureRequestResult::Dropped;
    return CaptureRequestResult::Refused;
}

} // namespace glimmerly::platform
