#pragma once
// CPU time of processes from /proc, for measurements that must not depend on how busy the
// machine's other processes keep its cores.

#include <sys/types.h>

namespace glimmerly::bench {

// User and system CPU seconds of a process (all its threads) so far; 0 when it is gone.
double CpuSeconds(pid_t pid);

// The same for a process and its children, living and ended: a server that forks a process per
// connection, its ended children counted through the parent once it has reaped them.
double TreeCpuSeconds(pid_t parent);

} // namespace glimmerly::bench
