#include "platform/desktop_session.h"

#include "platform/win32/windows_api.h"

#include <cstdio>
#include <cstdlib>

namespace glimmerly::platform {

namespace {

bool HasStandardHandle(DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

UINT consoleCodePage = 0;

void RestoreConsoleCodePage() {
    ::SetConsoleOutputCP(consoleCodePage);
}

} // namespace

// A windowed program gets no console of its own. Started from a console, it borrows the
// starter's for what it writes (the prompt may already stand there: the text comes after it);
// started from the desktop there is none, and the texts go nowhere (the exit status still tells).
void ConnectConsole() {
    const bool out = HasStandardHandle(STD_OUTPUT_HANDLE);
    const bool err = HasStandardHandle(STD_ERROR_HANDLE);
    if (out && err)
        return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!out)
        std::freopen("CONOUT$", "w", stdout);
    if (!err)
        std::freopen("CONOUT$", "w", stderr);
    // The texts are UTF-8; the console shows them so until the program ends.
    consoleCodePage = ::GetConsoleOutputCP();
    if (consoleCodePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8))
        std::atexit(RestoreConsoleCodePage);
}

bool DisplayReachable() {
    return true; // a Windows program always starts on a desktop
}

const char* NoDisplayText() {
    return "Glimmerly braucht eine grafische Arbeitsumgebung, aber es ist keine erreichbar.\n";
}

const char* DesktopFailedText() {
    return "Glimmerly kann den Windows-Desktop nicht nutzen";
}

const char* NoCaptureChannelText() {
    return "glimmerly: Aufnahme-Anfragen (--capture) sind nicht möglich: die benannte Pipe ließ "
           "sich nicht anlegen.\n";
}

// The asking copy allows the running one to come to the front (AllowSetForegroundWindow); no
// token travels.
std::string ActivationToken() {
    return {};
}

void WithActivationToken(const std::string&, const std::function<void()>& capture) {
    capture();
}

} // namespace glimmerly::platform
