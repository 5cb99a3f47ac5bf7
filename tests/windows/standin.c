// Takes glimmerly.exe's place in the installer's test: it starts only when the DLLs it links lie
// beside it and loads its platform plugin from platforms\ as Qt does; --version prints the
// product name and version from its own version resource.
#include <stdio.h>
#include <string.h>
#include <windows.h>

__declspec(dllimport) int standin_core_answer(void);

static char path[MAX_PATH];

static int print_version(void) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    static char info[16384];
    if (size == 0 || size > sizeof info || !GetFileVersionInfoA(path, 0, size, info))
        return 3;
    char *product = NULL, *version = NULL;
    UINT n = 0;
    if (!VerQueryValueA(info, "\\StringFileInfo\\040704E4\\ProductName", (void**)&product, &n) ||
        !VerQueryValueA(info, "\\StringFileInfo\\040704E4\\ProductVersion", (void**)&version, &n))
        return 4;
    printf("%s %s\n", product, version);
    return 0;
}

int main(int argc, char** argv) {
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    if (length == 0 || length == MAX_PATH || slash == NULL || slash - path + 30 > MAX_PATH)
        return 2;
    char plugin_path[MAX_PATH];
    memcpy(plugin_path, path, slash - path);
    strcpy(plugin_path + (slash - path), "\\platforms\\qwindows.dll");
    HMODULE plugin = LoadLibraryA(plugin_path);
    if (plugin == NULL) {
        fprintf(stderr, "no platform plugin (%lu)\n", GetLastError());
        return 5;
    }
    if (standin_core_answer() != 42)
        return 6;
    if (argc > 1 && strcmp(argv[1], "--version") == 0)
        return print_version();
    return 0;
}
