#pragma once
// Byte orders of pixels: exchanging the first and third byte of 3-byte pixels (blue-green-red
// <-> red-green-blue), and dropping the fourth byte of 4-byte ones.

#include <cstddef>
#include <cstdint>

namespace glimmerly {

// Writes `pixels` pixels of `source` to `target` with bytes 1 and 3 of each exchanged. The two
// may be the same buffer, but must not overlap otherwise.
void SwapRedAndBlue(const std::uint8_t* source, std::uint8_t* target, std::size_t pixels);

// Writes `pixels` 4-byte pixels of `source` to `target` as 3-byte pixels: the first three bytes
// of each are kept, the fourth is dropped (B, G, R, X -> B, G, R). The buffers must not overlap.
void DropFourthByte(const std::uint8_t* source, std::uint8_t* target, std::size_t pixels);

} // namespace glimmerly
