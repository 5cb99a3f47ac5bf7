#pragma once
// Exchanging the first and third byte of 3-byte pixels (blue-green-red <-> red-green-blue).

#include <cstddef>
#include <cstdint>

namespace glimmerly {

// Writes `pixels` pixels of `source` to `target` with bytes 1 and 3 of each exchanged. The two
// may be the same buffer, but must not overlap otherwise.
void SwapRedAndBlue(const std::uint8_t* source, std::uint8_t* target, std::size_t pixels);

} // namespace glimmerly
