// The floor of the road from Print to upload: the least one process has to do for it, timed by
// bench/road/run-road.sh against the real program.
//
//   road_floor PORT ROUNDS
//
// Grabs Print passively on the root window (as the program's hot keys do), and for each press:
// the whole root copied by the X server into a MIT-SHM segment kept from press to press, one
// encoding at quality 60 into memory that libjpeg takes straight from the server's B G R X rows
// (no conversion pass, no copy), and one POST of the same multipart body the program sends
// (HTTP/1.0, same headers and parts) over a plain socket to 127.0.0.1:PORT. Reads the reply,
// then waits for the next press. Prints "ready" once the key is grabbed and one line per upload.

#include "bench/floor_upload.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr xcb_keysym_t kPrintKeysym = 0xff61;

[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "road_floor: %s\n", what);
    std::exit(1);
}

std::vector<xcb_keycode_t> PrintKeycodes(xcb_connection_t* c) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* map = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr);
    if (map == nullptr)
        Die("no keyboard mapping");
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    std::vector<xcb_keycode_t> codes;
    for (int k = 0; k < count; ++k) {
        for (int i = 0; i < map->keysyms_per_keycode; ++i) {
            if (syms[k * map->keysyms_per_keycode + i] == kPrintKeysym) {
                codes.push_back(static_cast<xcb_keycode_t>(setup->min_keycode + k));
                break;
            }
        }
    }
    std::free(map);
    return codes;
}

void GrabPrint(xcb_connection_t* c, xcb_window_t root) {
    const std::uint16_t variants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                      XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
    const std::vector<xcb_keycode_t> codes = PrintKeycodes(c);
    if (codes.empty())
        Die("no keycode for Print");
    for (xcb_keycode_t code : codes) {
        for (std::uint16_t mods : variants) {
            xcb_generic_error_t* error = xcb_request_check(
                c, xcb_grab_key_checked(c, 1, root, mods, code, XCB_GRAB_MODE_ASYNC,
                                        XCB_GRAB_MODE_ASYNC));
            if (error != nullptr)
                Die("Print is grabbed by another client");
        }
    }
}

// A MIT-SHM segment attached to the server and to this process, reused for every grab.
struct SharedSegment {
    xcb_shm_seg_t seg = 0;
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

SharedSegment AttachSegment(xcb_connection_t* c, std::size_t bytes) {
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
    if (shm == nullptr || !shm->present)
        Die("the X server offers no MIT-SHM");
    const int id = ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0)
        Die("shmget failed");
    void* address = ::shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1))
        Die("shmat failed");
    SharedSegment segment;
    segment.seg = xcb_generate_id(c);
    xcb_generic_error_t* error = xcb_request_check(
        c, xcb_shm_attach_checked(c, segment.seg, static_cast<std::uint32_t>(id), 0));
    ::shmctl(id, IPC_RMID, nullptr); // gone once both sides detach
    if (error != nullptr)
        Die("the X server cannot attach the segment");
    segment.data = static_cast<std::uint8_t*>(address);
    segment.size = bytes;
    return segment;
}

// The root's pixels into the segment: 32 bits per pixel, B G R X in memory.
void GrabRoot(xcb_connection_t* c, xcb_window_t root, const SharedSegment& segment, int width,
              int height) {
    auto* reply =
        xcb_shm_get_image_reply(c,
                                xcb_shm_get_image(c, root, 0, 0, static_cast<std::uint16_t>(width),
                                                  static_cast<std::uint16_t>(height), ~0u,
                                                  XCB_IMAGE_FORMAT_Z_PIXMAP, segment.seg, 0),
                                nullptr);
    if (reply == nullptr || reply->size < static_cast<std::uint32_t>(width) * height * 4)
        Die("no image of the root");
    std::free(reply);
}

void SendAll(int fd, const void* data, std::size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
        if (sent <= 0)
            Die("send failed");
        p += sent;
        n -= static_cast<std::size_t>(sent);
    }
}

std::string Post(int port, const std::vector<unsigned char>& jpeg) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        Die("cannot connect to the receiver");
    std::string tail;
    const std::string head =
        floor_upload::RequestHead(port, "/tmp/road-floor/screen.jpg", jpeg.size(), tail);
    SendAll(fd, head.data(), head.size());
    SendAll(fd, jpeg.data(), jpeg.size());
    SendAll(fd, tail.data(), tail.size());
    std::string reply;
    char buffer[4096];
    for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return reply;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: road_floor PORT ROUNDS\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int rounds = std::atoi(argv[2]);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        Die("no X display");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    GrabPrint(c, root);
    // Kept from press to press, as the program keeps its own.
    SharedSegment segment;
    {
        auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr);
        if (geometry == nullptr)
            Die("no root geometry");
        segment =
            AttachSegment(c, static_cast<std::size_t>(geometry->width) * geometry->height * 4);
        std::free(geometry);
    }
    std::printf("ready\n");
    std::fflush(stdout);

    for (int done = 0; done < rounds;) {
        xcb_generic_event_t* event = xcb_wait_for_event(c);
        if (event == nullptr)
            Die("X connection lost");
        const bool press = (event->response_type & 0x7f) == XCB_KEY_PRESS;
        std::free(event);
        if (!press)
            continue;
        auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr);
        if (geometry == nullptr)
            Die("no root geometry");
        const int width = geometry->width;
        const int height = geometry->height;
        std::free(geometry);
        const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
        if (segment.size < bytes) {
            if (segment.data != nullptr) {
                xcb_shm_detach(c, segment.seg);
                ::shmdt(segment.data);
            }
            segment = AttachSegment(c, bytes);
        }
        GrabRoot(c, root, segment, width, height);
        const std::vector<unsigned char> jpeg = floor_upload::Encode(
            segment.data, width, height, static_cast<std::size_t>(width) * 4, JCS_EXT_BGRX, 4);
        const std::string reply = Post(port, jpeg);
        ++done;
        std::printf("upload %d: %dx%d, %zu JPEG bytes, reply %s\n", done, width, height,
                    jpeg.size(), reply.substr(reply.rfind('\n') + 1).c_str());
        std::fflush(stdout);
    }
    xcb_shm_detach(c, segment.seg);
    ::shmdt(segment.data);
    xcb_disconnect(c);
    return 0;
}
