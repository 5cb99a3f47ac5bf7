#include "main_form_commands.h"

#include "platform/platform.h"

namespace glimmerly {

MainFormCommands::MainFormCommands(SharedState& state, platform::Platform& platform,
                                   net::HttpClient& http, ServiceHosts hosts,
                                   const WindowViews& window)
    : gate(state, *platform.hotKeys, [&capture = window.capture] { capture.LockOptions(false); }),
      rename(state, http, hosts, gate, window.rename),
      session(state, http, platform, hosts, gate, window.session),
      completion(state, rename, gate, window.rename),
      reports(window.thread, window.job, completion),
      intake(state, platform, http, std::move(hosts), gate, window.capture, reports),
      drop(state, gate, intake, window.capture) {}

} // namespace glimmerly
