#pragma once
// The local time the multipart tests create their bodies at: 6 December 2026, 13:45:07
// (with 89 ms the boundary reads "--------120626134507089").

#include <ctime>

namespace glimmerly::testing {

inline std::tm SixthOfDecember2026() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = 13;
    t.tm_min = 45;
    t.tm_sec = 7;
    return t;
}

} // namespace glimmerly::testing
