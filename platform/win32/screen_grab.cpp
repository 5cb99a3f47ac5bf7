#include "platform/win32/system_error.h"
#include "platform/win32/win32_parts.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {

namespace {

// The device contexts and the bitmap of one grab, released in the right order.
struct GrabObjects {
    HDC screen = nullptr;
    HDC memory = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    ~GrabObjects() {
        if (previous)
            ::SelectObject(memory, previous);
        if (bitmap)
            ::DeleteObject(bitmap);
        if (memory)
            ::DeleteDC(memory);
        if (screen)
            ::DeleteDC(screen);
    }
};

[[noreturn]] void Fail(const char* step) {
    throw std::runtime_error(std::string("Der Bildschirm ist nicht lesbar (") + step +
                             "): " + SystemErrorText(::GetLastError()));
}

} // namespace

Picture Win32Screen::Grab(const Rect& band) {
    const int width = std::max(band.Width(), 0);
    const int height = std::max(band.Height(), 0);
    if (width == 0 || height == 0)
        return Picture(width, height);
    // Only the part of the band on the virtual screen is copied; the rest stays black.
    const int vx = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int vy = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const Rect part{std::max(band.Left, vx), std::max(band.Top, vy),
                    std::min(band.Right, vx + ::GetSystemMetrics(SM_CXVIRTUALSCREEN)),
                    std::min(band.Bottom, vy + ::GetSystemMetrics(SM_CYVIRTUALSCREEN))};
    if (part.Width() <= 0 || part.Height() <= 0)
        return Picture(width, height);

    GrabObjects g;
    g.screen = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (!g.screen)
        Fail("CreateDCA");
    g.memory = ::CreateCompatibleDC(g.screen);
    if (!g.memory)
        Fail("CreateCompatibleDC");
    g.bitmap = ::CreateCompatibleBitmap(g.screen, part.Width(), part.Height());
    if (!g.bitmap)
        Fail("CreateCompatibleBitmap");
    g.previous = ::SelectObject(g.memory, g.bitmap);
    // The display context's clip box is the virtual screen in the context's own coordinates.
    // Windows puts the primary monitor's corner at 0,0 there, as the monitor list does; wine
    // puts the virtual screen's corner there, so monitors left of or above the primary would be
    // read from the wrong place.
    RECT clip{vx, vy, 0, 0};
    if (::GetClipBox(g.screen, &clip) == ERROR)
        Fail("GetClipBox");
    if (!::BitBlt(g.memory, 0, 0, part.Width(), part.Height(), g.screen, part.Left - vx + clip.left,
                  part.Top - vy + clip.top, SRCCOPY))
        Fail("BitBlt");
    ::SelectObject(g.memory, g.previous);
    g.previous = nullptr;

    // The bitmap's rows as 24-bit blue, green, red from the top, each padded to 4 bytes: the
    // picture's own layout with that stride. When the whole band is on the screen (nearly
    // always) they are read straight into the picture: a second buffer of some ten megabytes and
    // its copy cost an eighth of the grab under wine.
    const std::size_t stride = (static_cast<std::size_t>(part.Width()) * 3 + 3) & ~std::size_t{3};
    const auto readRows = [&](std::uint8_t* rows) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = part.Width();
        info.bmiHeader.biHeight = -part.Height();
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        if (::GetDIBits(g.memory, g.bitmap, 0, static_cast<UINT>(part.Height()), rows, &info,
                        DIB_RGB_COLORS) != part.Height())
            Fail("GetDIBits");
    };
    if (part == band) {
        Picture picture = Picture::Unfilled(width, height, stride);
        readRows(picture.pixels.data());
        return picture;
    }
    Picture picture(width, height);
    PixelBytes rows(stride * static_cast<std::size_t>(part.Height()));
    readRows(rows.data());
    for (int y = 0; y < part.Height(); ++y)
        std::memcpy(picture.At(part.Left - band.Left, part.Top - band.Top + y),
                    rows.data() + stride * static_cast<std::size_t>(y),
                    static_cast<std::size_t>(part.Width()) * 3);
    return picture;
}

} // namespace glimmerly::platform::win32
