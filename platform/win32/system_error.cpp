#include "platform/win32/system_error.h"

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {

std::string SystemErrorText(unsigned long error) {
    char buffer[512];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               error, 0, buffer, sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' '))
        --n;
    if (n == 0)
        return "Fehler " + std::to_string(error);
    return std::string(buffer, n);
}

} // namespace glimmerly::platform::win32
