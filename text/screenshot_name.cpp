#include "text/screenshot_name.h"

#include "text/cp1252.h"
#include "text/text_routines.h"

#include <array>
#include <utility>

namespace glimmerly {
namespace {

constexpr std::size_t kLongestTail = 255;
constexpr std::size_t kShortenAbove = 20;
constexpr std::size_t kShortenedBelow = 25;

// Applied in this order, each to every occurrence.
constexpr std::array<std::pair<char, std::string_view>, 12> kReplacements = {{
    {' ', "_"},
    {'.', "_"},
    {'#', ""},
    {'(', ""},
    {')', ""},
    {'[', ""},
    {']', ""},
    {'?', ""},
    {'/', ""},
    {'\\', ""},
    {'%', ""},
    {':', ""},
}};

std::string ReplaceAll(std::string_view text, char find, std::string_view with) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == find)
            out += with;
        else
            out += c;
    }
    return out;
}

} // namespace

std::string MakeScreenshotName(std::string_view title) {
    std::string s = cp1252::ToLower(title);
    const auto dash = s.rfind('-');
    const std::size_t start = dash == std::string::npos ? 0 : dash + 1;
    s = TrimControls(std::string_view(s).substr(start, kLongestTail));
    for (const auto& [find, with] : kReplacements)
        s = ReplaceAll(s, find, with);
    if (s.size() > kShortenAbove) {
        const std::string candidate = TextBefore(s, "_") + "_" + TextBefore(TextAfter(s, "_"), "_");
        if (candidate.size() < kShortenedBelow)
            s = candidate;
    }
    return s;
}

} // namespace glimmerly
