#pragma once
// The single-instance guard: a lock file held with flock for the life of the process. The kernel
// drops the lock when the process ends in any way, a crash or SIGKILL included.

#include "platform/platform.h"

#include <memory>
#include <string>

namespace glimmerly::platform {

// Takes the lock file `name` in the program folder (ProgramFolder: $XDG_RUNTIME_DIR when that is
// the user's private folder, else the one under the user's cache folder). nullptr only when
// another process holds the lock; every other failure (no private folder, a lock file that
// cannot be opened or locked) throws std::runtime_error with a German text, for it does not
// mean that another copy runs.
std::unique_ptr<InstanceGuard> AcquireSingleInstance(const std::string& name);

// The same in a given folder; `name` must be a plain file name.
std::unique_ptr<InstanceGuard> AcquireSingleInstanceIn(const std::string& folder,
                                                       const std::string& name);

} // namespace glimmerly::platform
