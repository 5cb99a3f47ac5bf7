#pragma once
// A crash (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT; on Windows an unhandled exception) writes
// the crashing thread's stack to stderr before the program ends as it would have, so that a
// crash seen once in a test log says where it happened. Each system has its own:
// platform/posix/crash_report.cpp (signals) and platform/win32/crash_report.cpp.

namespace glimmerly::platform {

void InstallCrashReport();

} // namespace glimmerly::platform
