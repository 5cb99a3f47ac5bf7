#include "platform/x11/x11_parts.h"

#include "imaging/pixel_order.h"
#include "platform/x11/x11_shared_image.h"
#include "text/cp1252.h"

#include <xcb/shm.h>

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

namespace glimmerly::platform::x11 {

namespace {

// Qt gives a screen's position in device pixels and its size in logical ones; the desktop works
// in device pixels throughout.
Rect DeviceRect(const QScreen* screen) {
    const QRect g = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    const int width = static_cast<int>(std::lround(g.width() * ratio));
    const int height = static_cast<int>(std::lround(g.height() * ratio));
    return Rect{g.x(), g.y(), g.x() + width, g.y() + height};
}

struct PixelLayout {
    int bitsPerPixel = 0;
    bool msbFirst = false;
    std::uint32_t red = 0, green = 0, blue = 0;
};

int ShiftOf(std::uint32_t mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1u) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

std::uint8_t Channel(std::uint32_t pixel, std::uint32_t mask) {
    if (mask == 0) {
        return 0;
    }
    const int shift = ShiftOf(mask);
    const std::uint32_t max = mask >> shift;
    const std::uint32_t value = (pixel & mask) >> shift;
    return static_cast<std::uint8_t>(max == 255 ? value : (value * 255 + max / 2) / max);
}

PixelLayout LayoutOf(xcb_connection_t* connection, xcb_window_t root, std::uint8_t depth,
                     xcb_visualid_t visual) {
    PixelLayout layout;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    layout.msbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == depth) {
            layout.bitsPerPixel = f.data->bits_per_pixel;
        }
    }
    for (auto s = xcb_setup_roots_iterator(setup); s.rem; xcb_screen_next(&s)) {
        if (s.data->root != root) {
            continue;
        }
        for (auto d = xcb_screen_allowed_depths_iterator(s.data); d.rem; xcb_depth_next(&d)) {
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->visual_id == visual) {
                    layout.red = v.data->red_mask;
                    layout.green = v.data->green_mask;
                    layout.blue = v.data->blue_mask;
                }
            }
        }
    }
    return layout;
}

// Lines of a ZPixmap are padded to 32 bits in every server this runs against.
std::size_t LineBytes(int width, int bitsPerPixel) {
    return ((static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32) * 4;
}

// Converts `rows` rows of a ZPixmap reply into the picture at (x, y); false when the reply is
// shorter than that.
bool ConvertRows(const PixelLayout& layout, const std::uint8_t* data, std::size_t dataSize,
                 int width, int rows, Picture& picture, int x, int y) {
    const int bytesPerPixel = layout.bitsPerPixel / 8;
    const std::size_t lineBytes = LineBytes(width, layout.bitsPerPixel);
    if (dataSize < lineBytes * static_cast<std::size_t>(rows)) {
        return false;
    }
    const bool plain = bytesPerPixel == 4 && !layout.msbFirst && layout.red == 0xff0000 &&
                       layout.green == 0xff00 && layout.blue == 0xff;
    for (int row = 0; row < rows; ++row) {
        const std::uint8_t* src = data + lineBytes * static_cast<std::size_t>(row);
        std::uint8_t* dst = picture.At(x, y + row);
        if (plain) {
            // B, G, R, X in memory: keep the first three bytes of each pixel.
            DropFourthByte(src, dst, static_cast<std::size_t>(width));
            continue;
        }
        for (int i = 0; i < width; ++i, src += bytesPerPixel, dst += 3) {
            std::uint32_t pixel = 0;
            for (int b = 0; b < bytesPerPixel; ++b) {
                const int index = layout.msbFirst ? b : bytesPerPixel - 1 - b;
                pixel = (pixel << 8) | src[index];
            }
            dst[0] = Channel(pixel, layout.blue);
            dst[1] = Channel(pixel, layout.green);
            dst[2] = Channel(pixel, layout.red);
        }
    }
    return true;
}

int BitsPerPixel(xcb_connection_t* connection, std::uint8_t depth) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == depth) {
            return f.data->bits_per_pixel;
        }
    }
    return 0;
}

// Rows of the screen in the server's pixel format, as one reply or one part of the shared
// segment delivers them; `top` is a screen row.
struct Strip {
    int top = 0;
    int rows = 0;
    std::uint8_t depth = 0;
    xcb_visualid_t visual = 0;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// Converts strips of the screen area `clip` into a picture of the area `band` (which contains
// it), black where the band lies beyond the clip. The first failure is kept; a picture with a
// failure is never handed out.
class StripConverter {
public:
    StripConverter(xcb_connection_t* c, xcb_window_t root, std::uint8_t depth, const Rect& band,
                   const Rect& clip)
        : c_(c), root_(root), depth_(depth), band_(band), whole_(clip == band),
          x_(clip.Left - band.Left), rowOffset_(-band.Top) {}

    // Makes the picture once the strips have been asked for, while the server produces them.
    // Where the strips cover the whole band its bytes are not cleared first.
    void Prepare() {
        if (!prepared_) {
            picture_ = whole_ ? Picture::Unfilled(band_.Width(), band_.Height())
                              : Picture(band_.Width(), band_.Height());
            prepared_ = true;
        }
    }
    Picture Result() {
        Prepare();
        return std::move(picture_);
    }

    void Take(const Strip& strip, int width) {
        if (failure_ != nullptr) {
            return;
        }
        Prepare();
        if (layout_.bitsPerPixel == 0) {
            layout_ = LayoutOf(c_, root_, strip.depth ? strip.depth : depth_, strip.visual);
        }
        const bool supported = (layout_.bitsPerPixel == 16 || layout_.bitsPerPixel == 24 ||
                                layout_.bitsPerPixel == 32) &&
                               layout_.red != 0 && layout_.green != 0 && layout_.blue != 0;
        if (!supported) {
            failure_ = "Farbformat des Bildschirms wird nicht unterstützt";
        } else if (!ConvertRows(layout_, strip.data, strip.size, width, strip.rows, picture_, x_,
                                strip.top + rowOffset_)) {
            failure_ = "Bildschirminhalt unvollständig gelesen";
        }
    }
    void Fail() {
        if (failure_ == nullptr) {
            failure_ = "Bildschirminhalt kann nicht gelesen werden";
        }
    }
    void ThrowIfFailed() const {
        if (failure_ != nullptr) {
            throw std::runtime_error(cp1252::FromUtf8(failure_));
        }
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_;
    std::uint8_t depth_;
    Rect band_;
    bool whole_;
    bool prepared_ = false;
    Picture picture_;
    int x_;
    int rowOffset_;
    PixelLayout layout_;
    const char* failure_ = nullptr;
};

// Strips of about half a megabyte: each is converted while the server still produces the next,
// and is still in the shared cache when it is read (with strips of a megabyte or more the grab
// of a 3200 x 1080 desktop took a sixth longer, in one piece about twice as long).
int StripRows(std::size_t lineBytes) {
    return std::max(1,
                    static_cast<int>((std::size_t{1} << 19) / std::max<std::size_t>(lineBytes, 1)));
}

// The clip through replies on the connection. All requests go out before the first reply is
// awaited, so the strips cost no extra round trips.
void ReadReplies(xcb_connection_t* c, xcb_window_t root, const Rect& clip,
                 StripConverter& converter) {
    const int width = clip.Width();
    const int stripRows = StripRows(static_cast<std::size_t>(width) * 4);
    std::vector<std::pair<int, xcb_get_image_cookie_t>> strips;
    for (int top = clip.Top; top < clip.Bottom; top += stripRows) {
        const int rows = std::min(stripRows, clip.Bottom - top);
        strips.emplace_back(top, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root,
                                               static_cast<std::int16_t>(clip.Left),
                                               static_cast<std::int16_t>(top),
                                               static_cast<std::uint16_t>(width),
                                               static_cast<std::uint16_t>(rows), ~0u));
    }
    converter.Prepare();
    for (const auto& [top, cookie] : strips) {
        // Every reply is collected, also after a failure, so none is left queued.
        xcb_generic_error_t* error = nullptr;
        xcb_get_image_reply_t* reply = xcb_get_image_reply(c, cookie, &error);
        std::free(error);
        if (reply == nullptr) {
            converter.Fail();
            continue;
        }
        converter.Take(Strip{top, std::min(stripRows, clip.Bottom - top), reply->depth,
                             reply->visual, xcb_get_image_data(reply),
                             static_cast<std::size_t>(xcb_get_image_data_length(reply))},
                       width);
        std::free(reply);
    }
}

// The clip through the shared segment, each strip into its own part of it. False, with nothing
// converted that counts, when the segment cannot be had or the server refuses to fill it.
bool ReadShared(SharedImage& shared, xcb_connection_t* c, xcb_window_t root, std::uint8_t depth,
                const Rect& clip, StripConverter& converter) {
    const int bitsPerPixel = BitsPerPixel(c, depth);
    const int width = clip.Width();
    const std::size_t lineBytes = LineBytes(width, bitsPerPixel == 0 ? 32 : bitsPerPixel);
    if (!shared.Reserve(lineBytes * static_cast<std::size_t>(clip.Height()))) {
        return false;
    }
    const int stripRows = StripRows(lineBytes);
    std::vector<std::pair<int, xcb_shm_get_image_cookie_t>> strips;
    for (int top = clip.Top; top < clip.Bottom; top += stripRows) {
        const int rows = std::min(stripRows, clip.Bottom - top);
        strips.emplace_back(
            top, xcb_shm_get_image(
                     c, root, static_cast<std::int16_t>(clip.Left), static_cast<std::int16_t>(top),
                     static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(rows), ~0u,
                     XCB_IMAGE_FORMAT_Z_PIXMAP, shared.segment(),
                     static_cast<std::uint32_t>(lineBytes * (top - clip.Top))));
    }
    converter.Prepare();
    bool refused = false;
    for (const auto& [top, cookie] : strips) {
        xcb_generic_error_t* error = nullptr;
        xcb_shm_get_image_reply_t* reply = xcb_shm_get_image_reply(c, cookie, &error);
        std::free(error);
        if (reply == nullptr || refused) {
            refused = true;
            std::free(reply);
            continue;
        }
        const std::size_t offset = lineBytes * static_cast<std::size_t>(top - clip.Top);
        converter.Take(Strip{top, std::min(stripRows, clip.Bottom - top), reply->depth,
                             reply->visual, shared.data() + offset,
                             std::min<std::size_t>(reply->size, shared.size() - offset)},
                       width);
        std::free(reply);
    }
    return !refused;
}

} // namespace

std::vector<Monitor> X11Screen::Monitors() {
    std::vector<Monitor> monitors;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* screen : QGuiApplication::screens()) {
        monitors.push_back(Monitor{DeviceRect(screen), screen == primary});
    }
    if (monitors.empty()) {
        // No screen known to Qt: the root window is the one monitor.
        xcb_connection_t* c = context_->connection();
        auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, context_->root()), nullptr);
        if (geometry != nullptr) {
            monitors.push_back(Monitor{Rect{0, 0, geometry->width, geometry->height}, true});
            std::free(geometry);
        }
    }
    return monitors;
}

X11Screen::X11Screen(std::shared_ptr<Context> context)
    : context_(std::move(context)), shared_(std::make_unique<SharedImage>(context_->connection())) {
}

X11Screen::~X11Screen() = default;

Picture X11Screen::Grab(const Rect& band) {
    if (band.Width() <= 0 || band.Height() <= 0) {
        return Picture();
    }
    xcb_connection_t* c = context_->connection();
    const xcb_window_t root = context_->root();

    auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr);
    if (geometry == nullptr) {
        throw std::runtime_error(cp1252::FromUtf8("Bildschirmgröße kann nicht gelesen werden"));
    }
    const Rect rootRect{0, 0, geometry->width, geometry->height};
    const std::uint8_t depth = geometry->depth;
    std::free(geometry);

    const Rect clip{std::max(band.Left, rootRect.Left), std::max(band.Top, rootRect.Top),
                    std::min(band.Right, rootRect.Right), std::min(band.Bottom, rootRect.Bottom)};
    StripConverter converter(c, root, depth, band, clip);
    if (clip.Width() <= 0 || clip.Height() <= 0) {
        return converter.Result(); // all black
    }
    if (!ReadShared(*shared_, c, root, depth, clip, converter)) {
        ReadReplies(c, root, clip, converter);
    }
    converter.ThrowIfFailed();
    return converter.Result();
}

} // namespace glimmerly::platform::x11
