#pragma once
// The single-instance guard: a lock file held with flock for the life of the process. The kernel
// drops the lock when the process ends in any way, a crash or SIGKILL included.

#include "platform/platform.h"

#include <memory>
#include <string>

namespace glimmerly::platform {

// Takes the lock file `name` in $XDG_RUNTIME_DIR (when that is the user's private folder), else
// in the private temporary folder of PosixFiles. nullptr when another process holds it, or when
// no lock file can be had at all (the program then ends as a second copy would).
std::unique_ptr<InstanceGuard> AcquireSingleInstance(const std::string& name);

// The same in a given folder; `name` must be a plain file name.
std::unique_ptr<InstanceGuard> AcquireSingleInstanceIn(const std::string& folder,
                                                       const std::string& name);

} // namespace glimmerly::platform
