#pragma once
// Who uploaded a picture: the upload reply gives the client a random owner token in a cookie (or
// keeps the one it sent), and only a request that sends the token back may change the picture.
// The store keeps only a hash of the token, so its rows say nothing that could be sent back.

#include <optional>
#include <string>
#include <string_view>

namespace glimmerly::service {

// The cookie that carries the token.
inline constexpr std::string_view kOwnerCookieName = "glimmerly_owner";

// The first owner token (32 hex digits, lower case) among the cookies of a Cookie header;
// nullopt when there is none.
std::optional<std::string> OwnerTokenFromCookies(std::string_view cookieHeader);

// The key a token is stored under: its SHA-256 in hex.
std::string OwnerKey(std::string_view token);

// The Set-Cookie value that hands the token to a client that uploaded to uploadHost (the Host
// header, port and all) and renames on serviceHost (host[:port]). The path is "/" (a cookie
// without a path is never sent back). Two host names on one parent domain share the cookie
// through that domain; otherwise, and for numeric addresses, the cookie stays with the upload
// host.
std::string OwnerCookie(std::string_view token, std::string_view uploadHost,
                        std::string_view serviceHost);

// SHA-256 of bytes, as 64 hex digits.
std::string Sha256Hex(std::string_view bytes);

} // namespace glimmerly::service
