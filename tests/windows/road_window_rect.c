// Prints the outer rectangle (GetWindowRect, frame included) of the top-level window with the
// given title as "LEFT TOP RIGHT BOTTOM", as Windows sees it: what a capture of that window as
// the foreground window has to show.
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
    printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    return 0;
}
