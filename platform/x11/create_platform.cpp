#include "platform/create_platform.h"

#include "platform/posix/single_instance.h"
#include "platform/x11/x11_platform.h"

namespace glimmerly::platform {

std::unique_ptr<Platform> CreatePlatform() {
    return CreateX11Platform();
}

std::unique_ptr<InstanceGuard> AcquireInstanceGuard(const std::string& name) {
    return AcquireSingleInstance(name);
}

} // namespace glimmerly::platform
