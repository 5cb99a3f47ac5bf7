// Upload benchmark: posting a 300 KiB multipart body to a loopback server with HttpClient, against
// `curl -F` posting the same fields and file to the same server in the same run. Prints the time
// ratio (goal: at most 1.0) and the peak memory of a process that posts a 300 KiB and a 30 MiB
// file, which must not grow with the file.
//
//   bench_net_upload [posts]      (default 200)

#include "net/http_client.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Takes each request whole (answering "Expect: 100-continue"), throws the body away, answers
// "ok" and closes.
class SinkServer {
public:
    SinkServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 64);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~SinkServer() {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    int Port() const { return port_; }
    int Requests() const { return requests_; }

private:
    void Run() {
        std::vector<char> buffer(1 << 16);
        while (!stop_) {
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) {
                continue;
            }
            std::string head;
            std::size_t end;
            bool ok = true;
            while ((end = head.find("\r\n\r\n")) == std::string::npos) {
                const ssize_t got = ::recv(c, buffer.data(), buffer.size(), 0);
                if (got <= 0) {
                    ok = false;
                    break;
                }
                head.append(buffer.data(), std::size_t(got));
            }
            if (ok) {
                std::string lower = head.substr(0, end);
                for (char& ch : lower) {
                    ch = char(std::tolower(static_cast<unsigned char>(ch)));
                }
                const std::size_t at = lower.find("content-length:");
                long long left = at == std::string::npos ? 0 : std::atoll(lower.c_str() + at + 15);
                left -= (long long)(head.size() - end - 4);
                if (lower.find("expect: 100-continue") != std::string::npos) {
                    const char* go = "HTTP/1.1 100 Continue\r\n\r\n";
                    ::send(c, go, std::strlen(go), MSG_NOSIGNAL);
                }
                while (left > 0) {
                    const ssize_t got = ::recv(c, buffer.data(), buffer.size(), 0);
                    if (got <= 0) {
                        break;
                    }
                    left -= got;
                }
                const char* reply =
                    "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
                ::send(c, reply, std::strlen(reply), MSG_NOSIGNAL);
                ++requests_;
            }
            ::shutdown(c, SHUT_WR);
            char drain[256];
            while (::recv(c, drain, sizeof drain, 0) > 0) {
            }
            ::close(c);
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

std::string Url(int port) {
    return "http://127.0.0.1:" + std::to_string(port) + "/upload.php";
}

void PostOnce(glimmerly::net::HttpClient& client, const std::string& url, const std::string& file) {
    glimmerly::net::MultipartBody body;
    body.AddField("filename", "screenshot");
    body.AddField("version", "3.2");
    body.AddFilePart("screenshot", file, "image/jpeg");
    if (client.Post(url, body) != "ok") {
        std::fprintf(stderr, "unexpected answer\n");
        std::exit(1);
    }
}

int Spawn(const std::vector<std::string>& args, bool quiet) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Peak resident memory (KiB) of a fresh process that posts `file` once.
long PeakMemoryOfOnePost(const std::string& self, int port, const std::string& file) {
    const std::string out = file + ".rss";
    Spawn({self, "--child", std::to_string(port), file, out}, false);
    std::ifstream in(out);
    long kib = -1;
    in >> kib;
    return kib;
}

std::string MakeFile(const std::filesystem::path& dir, const char* name, std::size_t size) {
    const std::string path = (dir / name).string();
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = char(random());
    }
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--child") {
        glimmerly::net::HttpClient client;
        PostOnce(client, Url(std::atoi(argv[2])), argv[3]);
        // VmHWM belongs to this program image; ru_maxrss would carry the parent's peak over
        // the exec.
        std::ifstream status("/proc/self/status");
        std::string line;
        long kib = -1;
        while (std::getline(status, line)) {
            if (line.rfind("VmHWM:", 0) == 0) {
                kib = std::atol(line.c_str() + 6);
            }
        }
        std::ofstream(argv[4]) << kib;
        return 0;
    }
    const int posts = argc > 1 ? std::atoi(argv[1]) : 200;

    char pattern[] = "/tmp/glimmerly-bench-XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(pattern);
    const std::string small = MakeFile(dir, "screen.jpg", 300 * 1024);
    SinkServer server;
    const std::string url = Url(server.Port());

    // Warm-up, then our client: one client for the run, as the program has.
    glimmerly::net::HttpClient client;
    PostOnce(client, url, small);
    auto start = Clock::now();
    for (int i = 0; i < posts; ++i) {
        PostOnce(client, url, small);
    }
    const double ours = std::chrono::duration<double>(Clock::now() - start).count();

    // curl: one process posting the same form `posts` times (a fresh connection each time, since
    // the server closes), so the process start is paid once.
    std::vector<std::string> curl = {
        "curl", "-s",          "-F", "filename=screenshot",
        "-F",   "version=3.2", "-F", "screenshot=@" + small + ";type=image/jpeg"};
    Spawn({"curl", "-s", "-F", "filename=screenshot", url}, true); // warm-up
    for (int i = 0; i < posts; ++i) {
        curl.push_back(url);
    }
    const int before = server.Requests();
    start = Clock::now();
    if (Spawn(curl, true) != 0) {
        std::fprintf(stderr, "curl failed\n");
        return 1;
    }
    const double theirs = std::chrono::duration<double>(Clock::now() - start).count();
    if (server.Requests() - before != posts) {
        std::fprintf(stderr, "curl posted %d times, not %d\n", server.Requests() - before, posts);
        return 1;
    }

    std::printf("upload of 300 KiB x %d over loopback\n", posts);
    std::printf("  HttpClient      %8.3f ms per post\n", ours * 1000 / posts);
    std::printf("  curl -F         %8.3f ms per post\n", theirs * 1000 / posts);
    std::printf("  ratio           %8.2f  (HttpClient / curl, goal <= 1.0)\n", ours / theirs);

    const std::string big = MakeFile(dir, "big.jpg", 30 * 1024 * 1024);
    const long rssSmall = PeakMemoryOfOnePost(argv[0], server.Port(), small);
    const long rssBig = PeakMemoryOfOnePost(argv[0], server.Port(), big);
    std::printf("peak memory of a process posting once\n");
    std::printf("  300 KiB file    %8ld KiB\n", rssSmall);
    std::printf("  30 MiB file     %8ld KiB\n", rssBig);
    std::printf("  ratio           %8.2f  (30 MiB / 300 KiB, goal: about 1)\n",
                double(rssBig) / double(rssSmall));
    std::filesystem::remove_all(dir);
    return 0;
}
