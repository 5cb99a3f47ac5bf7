// The PPM reader's size limits at their edges, each refusal with its own reason: a side of 32768
// is read, one of 32769 is not; a number of 1000000 is still read (and then too large a side),
// one of 1000001 is not read to its end.

#include "platform/wayland/ppm.h"
#include "text/cp1252.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace glimmerly::platform::wayland {
namespace {

// "WxH" when the file is read, else the reason given.
std::string Fate(const std::string& file) {
    try {
        const Picture p = ParsePpm(file);
        return std::to_string(p.width) + "x" + std::to_string(p.height);
    } catch (const std::runtime_error& e) {
        return cp1252::ToUtf8(e.what());
    }
}

std::string File(const std::string& width, const std::string& height, std::size_t pixels) {
    return "P6 " + width + " " + height + " 255\n" + std::string(pixels * 3, '\x7f');
}

TEST(PpmEdges, EachSideMayBe32768PixelsAndNoMore) {
    EXPECT_EQ(Fate(File("32768", "1", 32768)), "32768x1");
    EXPECT_EQ(Fate(File("1", "32768", 32768)), "1x32768");
    const std::string refused = "Bildschirmfoto unlesbar: Maße ungültig";
    EXPECT_EQ(Fate(File("32769", "1", 32769)), refused);
    EXPECT_EQ(Fate(File("1", "32769", 32769)), refused);
}

TEST(PpmEdges, ANumberPastAMillionIsNotReadToItsEnd) {
    EXPECT_EQ(Fate(File("1000000", "1", 1)), "Bildschirmfoto unlesbar: Maße ungültig");
    EXPECT_EQ(Fate(File("1000001", "1", 1)), "Bildschirmfoto unlesbar: Maße zu groß");
    EXPECT_EQ(Fate(File("1", "1000001", 1)), "Bildschirmfoto unlesbar: Maße zu groß");
}

} // namespace
} // namespace glimmerly::platform::wayland
