#include "main_form_commands.h"

#include "app/main_form.h"
#include "platform/platform.h"
#include "upload/server_protocol.h"

namespace glimmerly {

MainFormCommands::MainFormCommands(SharedState& state, platform::Platform& platform,
                                   net::HttpClient& http, ServiceHosts hosts, MainForm& window)
    : gate(state, *platform.hotKeys, [&window] { window.LockOptions(false); }),
      rename(state, http, hosts, gate, window), session(state, http, platform, hosts, gate, window),
      intake(state, platform, http, hosts, window, window), drop(state, gate, intake, window),
      completion(state, rename, gate, window) {}

} // namespace glimmerly
