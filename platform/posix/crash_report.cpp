#include "platform/crash_report.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

#if defined(__GLIBC__)
#include <execinfo.h>
#endif

namespace glimmerly::platform {
namespace {

// Only async-signal-safe calls: write(), backtrace_symbols_fd() (whose library is loaded by the
// call to backtrace() at installation), raise().
void WriteText(const char* text) {
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

const char* SignalName(int signal) {
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    default:
        return "SIGABRT";
    }
}

// The faulting address in hex, without printf (not async-signal-safe).
void WriteAddress(const void* address) {
    char text[2 + 16 + 1] = "0x";
    auto value = reinterpret_cast<unsigned long long>(address);
    for (int i = 0; i < 16; ++i) {
        text[2 + i] = "0123456789abcdef"[(value >> (60 - 4 * i)) & 0xf];
    }
    text[18] = '\0';
    WriteText(text);
}

void OnCrash(int signal, siginfo_t* info, void*) {
    WriteText("glimmerly: ");
    WriteText(SignalName(signal));
    WriteText(" at ");
    WriteAddress(info ? info->si_addr : nullptr);
    WriteText("; the stack of the thread it hit:\n");
#if defined(__GLIBC__)
    void* frames[64];
    int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
#endif
    // SA_RESETHAND put the default action back: the program ends as it would have (a core dump
    // included, where they are kept).
    ::raise(signal);
}

} // namespace

void InstallCrashReport() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return; // the sanitizer's own report says more
#endif
#if defined(__GLIBC__)
    void* warmUp[1];
    backtrace(warmUp, 1); // loads libgcc now, not inside the handler
#endif
    struct sigaction action {};
    action.sa_sigaction = OnCrash;
    action.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        ::sigaction(signal, &action, nullptr);
    }
}

} // namespace glimmerly::platform
