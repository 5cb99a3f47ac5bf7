#pragma once
// Baseline JFIF encoding of a 24-bit picture with libjpeg, built in memory.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/picture.h"

namespace glimmerly {

// An error reported by the JPEG library; code() is the library's message code.
class JpegError : public std::runtime_error {
public:
    explicit JpegError(int code);
    int code() const { return code_; }

private:
    int code_;
};

class JpegEncoder {
public:
    JpegEncoder(); // quality 90

    // Takes a copy of the picture; a previous encoding no longer belongs to it.
    void SetPicture(const Picture& p);
    void SetPicture(Picture&& p);
    // Clamped to 1..100.
    void SetQuality(int quality);
    std::uint8_t Quality() const { return quality_; }

    // Encodes the picture at the current quality and replaces Data(). A picture without pixels
    // gives empty data (the library is not asked). Throws JpegError when the library fails (Data()
    // is then empty) and std::invalid_argument for a picture whose buffer does not hold its rows.
    void Encode();
    const std::vector<std::uint8_t>& Data() const { return data_; }

private:
    Picture picture_;
    std::uint8_t quality_ = 90;
    std::vector<std::uint8_t> data_;
};

} // namespace glimmerly
