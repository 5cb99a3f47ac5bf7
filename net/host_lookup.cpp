#include "net/host_lookup.h"

#include "net/http_errors.h"
#include "net/http_text.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace glimmerly::net {

std::uint32_t LookUpIPv4(const std::string& host) {
    if (EqualsNoCase(host, "LOCALHOST")) {
        return htonl(INADDR_LOOPBACK);
    }
    in_addr address{};
    if (IsDottedQuad(host)) {
        if (::inet_pton(AF_INET, host.c_str(), &address) != 1) {
            throw SocketError(11001);
        }
        return address.s_addr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 ||
        found == nullptr) {
        throw SocketError(11001);
    }
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return address.s_addr;
}

} // namespace glimmerly::net
