// Shows a picture as the background of the root window, scaled to the root's size, so that the
// desktop of bench/road/run-road.sh compresses like a real one.
//
//   road_wallpaper PICTURE
//
// The pixmap is kept by the server after this program ends (close-down mode RetainPermanent).

#include <QImage>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: road_wallpaper PICTURE\n");
        return 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "road_wallpaper: no X display\n");
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (screen->root_depth != 24) {
        std::fprintf(stderr, "road_wallpaper: the root is not 24 bits deep\n");
        return 1;
    }
    const int width = screen->width_in_pixels;
    const int height = screen->height_in_pixels;
    QImage picture(QString::fromLocal8Bit(argv[1]));
    if (picture.isNull()) {
        std::fprintf(stderr, "road_wallpaper: cannot read %s\n", argv[1]);
        return 1;
    }
    // Format_RGB32 is B, G, R, X in memory: the ZPixmap layout of a 24-bit little-endian server.
    picture = picture.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .convertToFormat(QImage::Format_RGB32);

    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, 24, pixmap, screen->root, static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    // Requests are limited in length: send the picture in bands of rows that fit.
    const std::uint32_t maxBytes = xcb_get_maximum_request_length(c) * 4 - 64;
    const int bandRows = std::max(1, static_cast<int>(maxBytes / (width * 4u)));
    for (int top = 0; top < height; top += bandRows) {
        const int rows = std::min(bandRows, height - top);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(rows), 0, static_cast<std::int16_t>(top), 0, 24,
                      static_cast<std::uint32_t>(width * 4 * rows), picture.constScanLine(top));
    }
    xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
    xcb_set_close_down_mode(c, XCB_CLOSE_DOWN_RETAIN_PERMANENT);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
    return 0;
}
