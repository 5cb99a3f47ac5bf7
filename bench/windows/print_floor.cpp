// The floor of the road from Print to upload on Windows: the least one program has to do for it,
// timed by bench/windows/run-windows.sh against glimmerly.exe under wine.
//
//   print_floor.exe PORT ROUNDS [ddb]
//
// Registers Print as a hot key (as the program does, id 101), and for each WM_HOTKEY: the whole
// virtual screen copied by BitBlt into a top-down 32-bit DIB section kept from press to press,
// one encoding at quality 60 into memory that libjpeg takes straight from the B G R X rows, and
// one POST of the same multipart body the program sends (HTTP/1.0, same headers and parts) over a
// Winsock socket to 127.0.0.1:PORT. Reads the reply, then waits for the next press. Prints
// "ready" once the key is registered and one line per upload with the time from WM_HOTKEY to the
// reply's end. With "ddb" the grab goes the longer way the program's grab goes (a bitmap
// compatible with the display, its rows read by GetDIBits as 24-bit B G R), to weigh that route.

#include "bench/floor_upload.h"

// Windows Sockets before windows.h, which would bring the older sockets header.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kPrintHotKey = 101;

[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "print_floor: %s (error %lu)\n", what, GetLastError());
    std::exit(1);
}

// A 32-bit top-down DIB section of the virtual screen's size, reused for every grab; or, on the
// longer route, the 24-bit rows read from a display bitmap.
struct Surface {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    std::uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int pixelBytes = 4;
    std::size_t stride = 0;
    std::vector<std::uint8_t> rows;
};

void Release(Surface& surface) {
    if (surface.dc != nullptr)
        DeleteDC(surface.dc);
    if (surface.bitmap != nullptr)
        DeleteObject(surface.bitmap);
    surface = Surface{};
}

Surface MakeSurface(int width, int height) {
    Surface surface;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    surface.bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    surface.dc = CreateCompatibleDC(nullptr);
    if (surface.bitmap == nullptr || surface.dc == nullptr)
        Die("no DIB section");
    SelectObject(surface.dc, surface.bitmap);
    surface.bits = static_cast<std::uint8_t*>(bits);
    surface.width = width;
    surface.height = height;
    surface.stride = static_cast<std::size_t>(width) * 4;
    return surface;
}

// The program's route: CreateDCA("DISPLAY"), a compatible bitmap, BitBlt, GetDIBits to 24 bits.
void GrabThroughBitmap(Surface& surface) {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const BOOL copied = BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY);
    SelectObject(memory, previous);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    surface.width = width;
    surface.height = height;
    surface.pixelBytes = 3;
    surface.stride = (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
    surface.rows.resize(surface.stride * static_cast<std::size_t>(height));
    const int read = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), surface.rows.data(),
                               &info, DIB_RGB_COLORS);
    surface.bits = surface.rows.data();
    DeleteObject(bitmap);
    DeleteDC(memory);
    DeleteDC(screen);
    if (!copied || read != height)
        Die("the grab through a display bitmap failed");
}

// The virtual screen's pixels into the surface, sized anew when the screen changed.
void Grab(Surface& surface) {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (surface.width != width || surface.height != height) {
        Release(surface);
        surface = MakeSurface(width, height);
    }
    HDC screen = GetDC(nullptr);
    const BOOL copied = BitBlt(surface.dc, 0, 0, width, height, screen, left, top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    if (!copied)
        Die("BitBlt of the screen failed");
    GdiFlush();
}

void SendAll(SOCKET s, const void* data, std::size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(n, 1 << 20));
        const int sent = send(s, p, chunk, 0);
        if (sent <= 0)
            Die("send failed");
        p += sent;
        n -= static_cast<std::size_t>(sent);
    }
}

std::string Post(int port, const std::string& file, const std::vector<unsigned char>& jpeg) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET ||
        connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        Die("cannot connect to the receiver");
    std::string tail;
    const std::string head = floor_upload::RequestHead(port, file, jpeg.size(), tail);
    SendAll(s, head.data(), head.size());
    SendAll(s, jpeg.data(), jpeg.size());
    SendAll(s, tail.data(), tail.size());
    std::string reply;
    char buffer[4096];
    for (int got; (got = recv(s, buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, static_cast<std::size_t>(got));
    closesocket(s);
    return reply;
}

std::string TempFile() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof path, path);
    std::string file(path, n);
    if (file.empty() || file.back() != '\\')
        file += '\\';
    return file + "screen.jpg";
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

} // namespace

int main(int argc, char** argv) {
    const bool throughBitmap = argc == 4 && std::string(argv[3]) == "ddb";
    if (argc != 3 && !throughBitmap) {
        std::fprintf(stderr, "usage: print_floor PORT ROUNDS [ddb]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int rounds = std::atoi(argv[2]);
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        Die("no Winsock");
    if (!RegisterHotKey(nullptr, kPrintHotKey, 0, VK_SNAPSHOT))
        Die("Print is taken by another program");
    const std::string file = TempFile();
    Surface surface;
    std::printf("ready\n");
    std::fflush(stdout);

    MSG msg;
    for (int done = 0; done < rounds && GetMessageA(&msg, nullptr, 0, 0) > 0;) {
        if (msg.message != WM_HOTKEY || msg.wParam != kPrintHotKey)
            continue;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        if (throughBitmap)
            GrabThroughBitmap(surface);
        else
            Grab(surface);
        const std::vector<unsigned char> jpeg = floor_upload::Encode(
            surface.bits, surface.width, surface.height, surface.stride,
            surface.pixelBytes == 4 ? JCS_EXT_BGRX : JCS_EXT_BGR, surface.pixelBytes);
        const std::string reply = Post(port, file, jpeg);
        QueryPerformanceCounter(&end);
        ++done;
        std::printf("upload %d: %dx%d, %zu JPEG bytes, %.1f ms, reply %s\n", done, surface.width,
                    surface.height, jpeg.size(), Milliseconds(start, end),
                    reply.substr(reply.rfind('\n') + 1).c_str());
        std::fflush(stdout);
    }
    UnregisterHotKey(nullptr, kPrintHotKey);
    Release(surface);
    WSACleanup();
    return 0;
}
