#pragma once
// Test support for the service: starting glimmerly-service on free loopback ports with a
// temporary data folder, and speaking raw HTTP to it over plain sockets.

#include "tests/support/temp_dir.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace glimmerly::service::test {

using glimmerly::testing::TempDir;

// One running glimmerly-service process.
class ServiceProcess {
public:
    // Starts the service with --data folder, ports 0 and the extra arguments, and waits (up to
    // 10 s) for its ready line. Fails the test when it does not come.
    ServiceProcess(const std::filesystem::path& data, std::vector<std::string> extraArgs = {});
    ~ServiceProcess(); // SIGTERM, then SIGKILL after 5 s

    bool ok() const { return pid_ > 0 && servicePort_ != 0; }
    std::uint16_t servicePort() const { return servicePort_; }
    std::uint16_t uploadPort() const { return uploadPort_; }
    pid_t pid() const { return pid_; }
    const std::string& readyLine() const { return readyLine_; }
    // Sends sig and waits for the process; returns its wait status.
    int Stop(int sig);
    // Everything the process wrote to stdout and stderr so far (after Stop: all of it).
    std::string Output() const;

private:
    pid_t pid_ = -1;
    std::uint16_t servicePort_ = 0;
    std::uint16_t uploadPort_ = 0;
    std::string readyLine_;
    std::filesystem::path log_;
};

struct HttpResponse {
    bool ok = false; // a status line was received
    int status = 0;
    std::string statusLine;
    std::map<std::string, std::string> headers; // names lower-cased
    std::string body;

    std::string Header(const std::string& lowerName) const {
        auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

// Sends the exact request bytes to 127.0.0.1:port and reads one response (by Content-Length,
// chunked, or until the server closes). A closed or reset connection without a status line gives
// ok = false.
// A connection to the service on loopback; -1 when nobody listens.
int Connect(std::uint16_t port);

// A loopback port that was free a moment ago.
std::uint16_t FreePort();

// Reads more bytes into buffer; false on close, error or time-out.
bool ReadMore(int fd, std::string& buffer, int timeoutMs);

HttpResponse RawRequest(std::uint16_t port, const std::string& request, int timeoutMs = 10000);

// The owner cookie of the test client, as the desktop client's cookie store holds it after an
// upload (uploads send it unless told otherwise, so the tests' renames can send it back).
constexpr const char* kOwnerCookie = "glimmerly_owner=0123456789abcdef0123456789abcdef";

// A GET the way the desktop client sends it: HTTP/1.1, Host, Accept, User-Agent, and a Cookie
// line when cookie is not empty.
HttpResponse ClientGet(std::uint16_t port, const std::string& target,
                       const std::string& cookie = {});

constexpr const char* kBoundary = "--------120626134507089";

struct UploadFields {
    std::optional<std::string> screenshotName;
    std::optional<std::string> sessionName;
    std::string path = "/tmp/x/screen.jpg";
    std::string cookie = kOwnerCookie; // empty: no Cookie line
};

// The multipart body of an upload exactly as the desktop client lays it out.
std::string UploadBody(const std::string& jpeg, const UploadFields& fields = {});
// The whole upload request (HTTP/1.0 POST with Connection: keep-alive) around a body.
std::string UploadRequest(
    const std::string& body, std::uint16_t port,
    const std::string& contentType = std::string("multipart/form-data; boundary=") + kBoundary);
HttpResponse Upload(std::uint16_t port, const std::string& jpeg, const UploadFields& fields = {},
                    int timeoutMs = 10000);

// A real JPEG (libjpeg) of the given size; seed varies the pixels.
std::string MakeJpeg(int width, int height, unsigned seed, int quality = 75);
// A copy of a JPEG with a comment segment of random bytes after SOI: distinct file contents.
std::string WithComment(const std::string& jpeg, unsigned seed, std::size_t length = 200);

// The picture name in an "ok|version|http://host/name.jpg" reply, or empty.
std::string NameFromReply(const std::string& reply);

// Names of the pictures a session page lists, in page order.
std::vector<std::string> ListedNames(const std::string& page);

// A picture event of a live page's stream: its id, its data line and the picture's name in it.
struct StreamEvent {
    long long id = 0;
    std::string data;
    std::string name;
};
// The complete picture events in what a stream sent so far.
std::vector<StreamEvent> PictureEvents(const std::string& seen);

} // namespace glimmerly::service::test
