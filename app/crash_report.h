#pragma once
// A crash (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT; on Windows an unhandled exception) writes
// the crashing thread's stack to stderr before the program ends as it would have, so that a
// crash seen once in a test log says where it happened. One file per system: crash_report.cpp
// (POSIX signals) and crash_report_win32.cpp.

namespace glimmerly {

void InstallCrashReport();

} // namespace glimmerly
