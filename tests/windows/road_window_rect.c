// Prints the outer rectangle (GetWindowRect, frame included) of the top-level window with the
// given title as "LEFT TOP RIGHT BOTTOM FRONT", FRONT being 1 when it is the foreground window:
// what a capture of the active window has to show, as Windows sees it. Under wine the foreground
// window follows the X focus a moment later, so a test waits for FRONT before pressing a key.
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: road_window_rect TITLE\n");
        return 2;
    }
    HWND window = FindWindowA(NULL, argv[1]);
    RECT r;
    if (window == NULL || !GetWindowRect(window, &r)) {
        fprintf(stderr, "road_window_rect: no window titled %s\n", argv[1]);
        return 1;
    }
    printf("%ld %ld %ld %ld %d\n", r.left, r.top, r.right, r.bottom,
           GetForegroundWindow() == window ? 1 : 0);
    return 0;
}
