#pragma once
// Raw clients of the capture channel, for tests that talk to it byte by byte: a Unix socket on
// POSIX, a named pipe on Windows.

#include "platform/capture_channel.h"
#include "tests/support/temp_dir.h"

#include <memory>
#include <string>
#include <string_view>

namespace glimmerly::testing {

// Where one test's channel lives: a socket in a private temporary folder, or a pipe name of its
// own.
class ChannelPlace {
public:
    ChannelPlace();
    const std::string& Path() const { return path_; }

private:
    std::unique_ptr<TempDir> temp_; // POSIX only
    std::string path_;
};

class RawChannelClient {
public:
    // Connects to `path` (waiting a little for a free instance); Connected() tells.
    explicit RawChannelClient(const std::string& path);
    ~RawChannelClient();
    RawChannelClient(RawChannelClient&& other) noexcept;
    RawChannelClient& operator=(RawChannelClient&&) = delete;
    RawChannelClient(const RawChannelClient&) = delete;
    RawChannelClient& operator=(const RawChannelClient&) = delete;

    bool Connected() const;
    // Sends all of `bytes`; false when the server has gone.
    bool Send(std::string_view bytes);
    // Whether an answer or the end has come within `ms`.
    bool Readable(int ms);
    // True while nothing came back: no answer, no end.
    bool StillWaiting();
    // What the server said before it closed (waits for the close, ten seconds at most); closes.
    std::string Answer();
    void Close();

private:
    long long handle_; // fd or HANDLE; -1 when closed
};

// Waits until requests read in full wait at `server`, `ms` at most.
bool WaitForRequests(const platform::CaptureChannelServer& server, int ms);

} // namespace glimmerly::testing
