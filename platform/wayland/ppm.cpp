#include "platform/wayland/ppm.h"

#include "imaging/pixel_order.h"
#include "text/cp1252.h"

#include <cctype>
#include <stdexcept>

namespace glimmerly::platform::wayland {

namespace {

[[noreturn]] void Fail(const char* why) {
    throw std::runtime_error(cp1252::FromUtf8(std::string("Bildschirmfoto unlesbar: ") + why));
}

// Header reader: numbers separated by white space, '#' comments up to the line end.
class Header {
public:
    explicit Header(std::string_view data) : data_(data) {}

    long Number() {
        SkipSpaceAndComments();
        if (pos_ >= data_.size() || !std::isdigit(static_cast<unsigned char>(data_[pos_])))
            Fail("Kopf unvollständig");
        long value = 0;
        while (pos_ < data_.size() && std::isdigit(static_cast<unsigned char>(data_[pos_]))) {
            value = value * 10 + (data_[pos_] - '0');
            if (value > 1'000'000)
                Fail("Maße zu groß");
            ++pos_;
        }
        return value;
    }
    // Exactly one white-space byte separates the header from the pixels.
    std::size_t PixelStart() {
        if (pos_ >= data_.size() || !std::isspace(static_cast<unsigned char>(data_[pos_])))
            Fail("Kopf unvollständig");
        return pos_ + 1;
    }

private:
    void SkipSpaceAndComments() {
        while (pos_ < data_.size()) {
            const char c = data_[pos_];
            if (c == '#') {
                while (pos_ < data_.size() && data_[pos_] != '\n')
                    ++pos_;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else {
                return;
            }
        }
    }

    std::string_view data_;
    std::size_t pos_ = 2; // after the magic number
};

} // namespace

Picture ParsePpm(std::string_view data) {
    if (data.size() < 2 || data[0] != 'P' || data[1] != '6')
        Fail("kein PPM-Bild");
    Header header(data);
    const long width = header.Number();
    const long height = header.Number();
    const long maxval = header.Number();
    const std::size_t start = header.PixelStart();
    if (width <= 0 || height <= 0 || width > kMaxPpmSide || height > kMaxPpmSide)
        Fail("Maße ungültig");
    if (maxval != 255)
        Fail("nur 8 Bit je Farbe werden gelesen");
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    if (data.size() - start < rowBytes * static_cast<std::size_t>(height))
        Fail("Bilddaten unvollständig");

    Picture picture(static_cast<int>(width), static_cast<int>(height));
    const auto* src = reinterpret_cast<const std::uint8_t*>(data.data() + start);
    for (int y = 0; y < picture.height; ++y, src += rowBytes) {
        // R, G, B in the file; the picture keeps B, G, R.
        SwapRedAndBlue(src, picture.Row(y), static_cast<std::size_t>(width));
    }
    return picture;
}

} // namespace glimmerly::platform::wayland
