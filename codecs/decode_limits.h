#pragma once
// What decoding a dropped picture file may cost, and the error by which the JPEG and BMP readers
// refuse a file that would cost more. The readers say why; the program words it for the user.

#include <cstdint>
#include <stdexcept>

namespace glimmerly {

// The most memory one decode may take: the finished picture and the library's working memory
// (for progressive JPEG files, a coefficient buffer of the whole picture) together.
inline constexpr std::uint64_t kDecodeBudgetBytes = std::uint64_t{256} << 20;
// The longest side the JPEG encoder takes, so the longest side a picture to be uploaded may have.
inline constexpr int kMaxPictureSide = 65500;
// Pictures with more pixels than this are refused before anything is allocated for them.
inline constexpr std::uint64_t kMaxPicturePixels = std::uint64_t{1} << 26;

enum class PictureRefusal {
    SideTooLong,        // width or height above kMaxPictureSide
    TooManyPixels,      // more than kMaxPicturePixels
    OverBudget,         // picture and working memory above kDecodeBudgetBytes
    ShorterThanClaimed, // the header claims more 8x8 blocks than the data can hold
    ScansOutOfOrder,    // a progressive file that does not start with the DC coefficients
    ArithmeticCoding,   // arithmetic-coded JPEG: its size says nothing about the picture's
};

class PictureRefused : public std::runtime_error {
public:
    explicit PictureRefused(PictureRefusal reason);
    PictureRefusal reason() const { return reason_; }

private:
    PictureRefusal reason_;
};

} // namespace glimmerly
