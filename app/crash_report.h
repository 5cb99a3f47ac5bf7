#pragma once
// A crash (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) writes the crashing thread's stack to
// stderr before the program ends as it would have, so that a crash seen once in a test log
// says where it happened.

namespace glimmerly {

void InstallCrashReport();

} // namespace glimmerly
