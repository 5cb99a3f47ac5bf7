// The owner token: how it is read from a Cookie header, hashed for storage, and handed out so that
// the desktop client's cookie store sends it to the service host.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/http/owner_token.h"

namespace glimmerly::service {
namespace {

TEST(OwnerTokenTest, HashIsSha256) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first block.
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000, 'a')),
              "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3");
    EXPECT_EQ(OwnerKey("0123456789abcdef0123456789abcdef"),
              Sha256Hex("0123456789abcdef0123456789abcdef"));
}

TEST(OwnerTokenTest, OnlyAWellFormedTokenIsTakenFromTheCookies) {
    const std::string token = "0123456789abcdef0123456789abcdef";
    EXPECT_EQ(OwnerTokenFromCookies("glimmerly_owner=" + token), token);
    EXPECT_EQ(OwnerTokenFromCookies("a=b;glimmerly_owner=" + token + "; c=d"), token);
    EXPECT_EQ(
        OwnerTokenFromCookies("glimmerly_owner=" + token.substr(1) + "; glimmerly_owner=" + token),
        token);
    for (const std::string& bad : std::vector<std::string>{
             "", "glimmerly_owner=", "glimmerly_owner=" + token + "0",
             "glimmerly_owner=0123456789ABCDEF0123456789ABCDEF", "x_glimmerly_owner=" + token,
             "glimmerly_owner2=" + token, "glimmerly_owner " + token}) {
        EXPECT_FALSE(OwnerTokenFromCookies(bad)) << bad;
    }
}

// Path "/" always; a Domain only where two host names share a parent domain.
TEST(OwnerTokenTest, TheCookieReachesTheServiceHost) {
    const std::string token = "0123456789abcdef0123456789abcdef";
    const std::string plain =
        "glimmerly_owner=" + token + "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Lax";
    EXPECT_EQ(OwnerCookie(token, "upload.bilder.test:8461", "www.bilder.test:8460"),
              plain + "; Domain=bilder.test");
    EXPECT_EQ(OwnerCookie(token, "Upload.Bilder.Test", "bilder.test"),
              plain + "; Domain=Bilder.Test");
    EXPECT_EQ(OwnerCookie(token, "a.b.example.de", "c.b.example.de"),
              plain + "; Domain=b.example.de");
    // Nothing shared but the top-level domain, or only one label, or numeric addresses.
    for (auto [upload, service] :
         {std::pair{"upload.foo.de", "www.bar.de"}, std::pair{"localhost:8461", "localhost:8460"},
          std::pair{"127.0.0.1:8461", "127.0.0.1:8460"}, std::pair{"10.0.0.1", "x.10.0.0.1"},
          std::pair{"[::1]:8461", "localhost"}, std::pair{"", "localhost"},
          std::pair{"xbilder.test", "www.bilder.test"}}) {
        EXPECT_EQ(OwnerCookie(token, upload, service), plain) << upload << " " << service;
    }
}

} // namespace
} // namespace glimmerly::service
