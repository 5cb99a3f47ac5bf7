#include "tests/service/harness.h"

#include "codecs/jpeg_encoder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace glimmerly::service::test {

namespace fs = std::filesystem;

ServiceProcess::ServiceProcess(const fs::path& data, std::vector<std::string> extraArgs) {
    log_ = data.parent_path() / (data.filename().string() + ".log");
    std::vector<std::string> args = {
        GLIMMERLY_SERVICE_BINARY, "--data", data.string(), "--service-port", "0",
        "--upload-port",          "0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::ofstream(log_, std::ios::trunc).close(); // a restart must not see the last ready line
    pid_ = ::fork();
    if (pid_ == 0) {
        int fd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string out = Output();
        std::size_t at = out.find("glimmerly-service: service http://");
        std::size_t eol = at == std::string::npos ? at : out.find('\n', at);
        if (eol != std::string::npos) {
            readyLine_ = out.substr(at, eol - at);
            unsigned s = 0, u = 0;
            if (std::sscanf(readyLine_.c_str(),
                            "glimmerly-service: service http://127.0.0.1:%u upload "
                            "http://127.0.0.1:%u",
                            &s, &u) == 2) {
                servicePort_ = static_cast<std::uint16_t>(s);
                uploadPort_ = static_cast<std::uint16_t>(u);
            }
            break;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ok()) {
        ADD_FAILURE() << "glimmerly-service did not start:\n" << Output();
    }
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0) {
        Stop(SIGTERM);
    }
}

int ServiceProcess::Stop(int sig) {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, sig);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "glimmerly-service did not stop on signal " << sig;
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return status;
}

std::string ServiceProcess::Output() const {
    std::ifstream in(log_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Opens a connection to the service on loopback; -1 when nobody listens.
int Connect(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint16_t FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0) {
        port = ntohs(addr.sin_port);
    }
    ::close(fd);
    return port;
}

// Reads more bytes into buffer; false on close, error or time-out.
bool ReadMore(int fd, std::string& buffer, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
        return false;
    }
    char chunk[65536];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
        return false;
    }
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
}

HttpResponse RawRequest(std::uint16_t port, const std::string& request, int timeoutMs) {
    HttpResponse response;
    int fd = Connect(port);
    if (fd < 0) {
        return response;
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            break; // the server may answer and close early; read what it said
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string buffer;
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!ReadMore(fd, buffer, timeoutMs)) {
            ::close(fd);
            return response;
        }
    }
    std::istringstream head(buffer.substr(0, headEnd));
    std::getline(head, response.statusLine);
    if (!response.statusLine.empty() && response.statusLine.back() == '\r') {
        response.statusLine.pop_back();
    }
    std::sscanf(response.statusLine.c_str(), "HTTP/%*s %d", &response.status);
    std::string line;
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string name = line.substr(0, colon);
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        response.headers.emplace(name, value);
    }
    response.ok = true;
    std::string rest = buffer.substr(headEnd + 4);
    std::string length = response.Header("content-length");
    if (!length.empty()) {
        std::size_t want = std::stoul(length);
        while (rest.size() < want && ReadMore(fd, rest, timeoutMs)) {
        }
        response.body = rest.substr(0, want);
    } else if (response.Header("transfer-encoding").find("chunked") != std::string::npos) {
        std::size_t pos = 0;
        for (;;) {
            std::size_t eol;
            while ((eol = rest.find("\r\n", pos)) == std::string::npos) {
                if (!ReadMore(fd, rest, timeoutMs)) {
                    ::close(fd);
                    return response;
                }
            }
            std::size_t size = std::stoul(rest.substr(pos, eol - pos), nullptr, 16);
            pos = eol + 2;
            if (size == 0) {
                break;
            }
            while (rest.size() < pos + size + 2 && ReadMore(fd, rest, timeoutMs)) {
            }
            response.body += rest.substr(pos, size);
            pos += size + 2;
        }
    } else {
        while (ReadMore(fd, rest, timeoutMs)) {
        }
        response.body = rest;
    }
    ::close(fd);
    return response;
}

HttpResponse ClientGet(std::uint16_t port, const std::string& target, const std::string& cookie) {
    return RawRequest(port, "GET " + target +
                                " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
                                "\r\nAccept: text/html, */*\r\nUser-Agent: Doveviraza "
                                "Zudavove\r\n" +
                                (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") + "\r\n");
}

std::string UploadBody(const std::string& jpeg, const UploadFields& fields) {
    std::string b;
    auto field = [&](const std::string& name, const std::string& value) {
        b += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
             "\"\r\n\r\n" + value + "\r\n";
    };
    field("filename", "screenshot");
    field("version", "3.2");
    if (fields.screenshotName) {
        field("screenshotname", *fields.screenshotName);
    }
    if (fields.sessionName) {
        field("sessionname", *fields.sessionName);
    }
    b += std::string("--") + kBoundary +
         "\r\nContent-Disposition: form-data; name=\"screenshot\"; filename=\"" + fields.path +
         "\"\r\nContent-Type: image/jpeg\r\nContent-Transfer-Encoding: binary\r\n\r\n";
    b += jpeg;
    b += "\r\n";
    b += std::string("--") + kBoundary + "--\r\n";
    return b;
}

std::string UploadRequest(const std::string& body, std::uint16_t port,
                          const std::string& contentType) {
    return "POST /upload.php HTTP/1.0\r\nConnection: keep-alive\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nHost: localhost:" + std::to_string(port) +
           "\r\nAccept: text/html, */*\r\nUser-Agent: Doveviraza Zudavove\r\n\r\n" + body;
}

HttpResponse Upload(std::uint16_t port, const std::string& jpeg, const UploadFields& fields,
                    int timeoutMs) {
    std::string request = UploadRequest(UploadBody(jpeg, fields), port);
    if (!fields.cookie.empty()) {
        request.insert(request.find("\r\n") + 2, "Cookie: " + fields.cookie + "\r\n");
    }
    return RawRequest(port, request, timeoutMs);
}

std::string MakeJpeg(int width, int height, unsigned seed, int quality) {
    std::mt19937 random(seed);
    Picture picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = picture.At(x, y);
            p[0] = static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1));
            p[2] = static_cast<std::uint8_t>(random() & 0xFF);
        }
    }
    JpegEncoder encoder; // the client's own encoder: the service sees what the program sends
    encoder.SetPicture(std::move(picture));
    encoder.SetQuality(quality);
    encoder.Encode();
    const auto& data = encoder.Data();
    return std::string(data.begin(), data.end());
}

std::string WithComment(const std::string& jpeg, unsigned seed, std::size_t length) {
    std::mt19937 random(seed);
    std::string segment = "\xFF\xFE";
    std::size_t segLength = length + 2;
    segment += static_cast<char>(segLength >> 8);
    segment += static_cast<char>(segLength & 0xFF);
    for (std::size_t i = 0; i < length; ++i) {
        segment += static_cast<char>(random() & 0xFF);
    }
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

std::string NameFromReply(const std::string& reply) {
    if (reply.rfind("ok|", 0) != 0 || !reply.ends_with(".jpg")) {
        return {};
    }
    std::size_t slash = reply.rfind('/');
    return reply.substr(slash + 1, reply.size() - slash - 5);
}

std::vector<std::string> ListedNames(const std::string& page) {
    std::vector<std::string> names;
    std::regex item("<li class=\"picture\" data-id=\"[0-9]+\">\\n<a class=\"shot\" "
                    "href=\"/([a-z0-9_-]+)\\.jpg\"");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), item);
         it != std::sregex_iterator(); ++it) {
        names.push_back((*it)[1]);
    }
    return names;
}

std::vector<StreamEvent> PictureEvents(const std::string& seen) {
    std::vector<StreamEvent> events;
    std::size_t at = 0;
    while ((at = seen.find("id: ", at)) != std::string::npos) {
        const std::size_t end = seen.find("\n\n", at);
        if (end == std::string::npos) {
            break;
        }
        const std::string block = seen.substr(at, end - at);
        const std::size_t data = block.find("\ndata: ");
        if (block.find("\nevent: picture\n") != std::string::npos && data != std::string::npos) {
            StreamEvent e;
            e.id = std::stoll(block.substr(4));
            e.data = block.substr(data + 7);
            const std::size_t name = e.data.find("\"name\":\"");
            if (name != std::string::npos) {
                e.name = e.data.substr(name + 8, e.data.find('"', name + 8) - name - 8);
            }
            events.push_back(std::move(e));
        }
        at = end;
    }
    return events;
}

} // namespace glimmerly::service::test
