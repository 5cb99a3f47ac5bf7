#include "platform/crash_report.h"

#include "platform/win32/windows_api.h"

#include <cstdio>
#include <cstring>

namespace glimmerly::platform {
namespace {

// Only calls that neither allocate nor lock: the heap may be what broke.
void WriteText(const char* text) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)),
                &written, nullptr);
}

// One frame: the module and the offset into it (what addr2line wants), else the bare address.
void WriteFrame(void* address) {
    char line[MAX_PATH + 64];
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                 GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<const char*>(address), &module) &&
        ::GetModuleFileNameA(module, name, sizeof name) != 0) {
        const char* base = std::strrchr(name, '\\');
        std::snprintf(line, sizeof line, "  %s+0x%llx\n", base ? base + 1 : name,
                      static_cast<unsigned long long>(static_cast<const char*>(address) -
                                                      reinterpret_cast<const char*>(module)));
    } else {
        std::snprintf(line, sizeof line, "  %p\n", address);
    }
    WriteText(line);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    char line[128];
    const EXCEPTION_RECORD* record = info ? info->ExceptionRecord : nullptr;
    std::snprintf(
        line, sizeof line, "glimmerly: exception 0x%08lx at %p; the stack of the thread it hit:\n",
        record ? record->ExceptionCode : 0UL, record ? record->ExceptionAddress : nullptr);
    WriteText(line);
    if (record)
        WriteFrame(record->ExceptionAddress);
    void* frames[64];
    const USHORT count = ::CaptureStackBackTrace(0, 64, frames, nullptr);
    for (USHORT i = 0; i < count; ++i)
        WriteFrame(frames[i]);
    // The system's own handling goes on: the program ends as it would have.
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void InstallCrashReport() {
    ::SetUnhandledExceptionFilter(OnCrash);
}

} // namespace glimmerly::platform
