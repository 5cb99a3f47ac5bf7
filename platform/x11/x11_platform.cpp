#include "platform/x11/x11_platform.h"

#include "platform/posix/posix_files.h"
#include "platform/x11/x11_parts.h"

namespace glimmerly::platform {

std::unique_ptr<Platform> CreateX11Platform() {
    auto context = std::make_shared<x11::Context>(x11::Context::FromQt());
    auto platform = std::make_unique<Platform>();
    platform->screen = std::make_unique<x11::X11Screen>(context);
    platform->windows = std::make_unique<x11::X11Windows>(context);
    platform->hotKeys = std::make_unique<x11::X11HotKeys>(context);
    platform->shell = std::make_unique<x11::X11Shell>(context);
    platform->files = std::make_unique<PosixFiles>();
    return platform;
}

} // namespace glimmerly::platform
