#pragma once
// The backend of the system the program was built for (glimmerly_platform_native).

#include "platform/platform.h"

#include <memory>
#include <string>

namespace glimmerly::platform {

// The desktop the running application is on. Needs the application object; throws
// std::runtime_error when the desktop cannot be reached.
std::unique_ptr<Platform> CreatePlatform();

// Held while this is the only running copy; nullptr when another copy holds `name`. Throws
// std::runtime_error (German) when the guard cannot be had for any other reason.
std::unique_ptr<InstanceGuard> AcquireInstanceGuard(const std::string& name);

} // namespace glimmerly::platform
