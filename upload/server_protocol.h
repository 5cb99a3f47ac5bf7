#pragma once
// The requests the program sends to the web service and how it reads the replies. Texts are
// Windows-1252 byte strings; every value goes into the addresses raw, without any encoding.

#include <string>
#include <string_view>
#include <vector>

namespace glimmerly {

// The two hosts of the web service the program talks to (host, or host:port).
struct ServiceHosts {
    std::string upload;
    std::string service;
};

// The two hosts the build names.
ServiceHosts BuiltInHosts();

} // namespace glimmerly

namespace glimmerly::protocol {

// The program's version text: sent with every upload and compared with the server's.
inline constexpr std::string_view kProgramVersion = "3.2";

std::string UploadUrl(std::string_view uploadHost);
// F is every character of `screenshotUrl` after its last "/" (all of it when it has none).
std::string RenameUrl(std::string_view screenshotUrl, std::string_view newName,
                      std::string_view serviceHost);
std::string SessionLoginUrl(std::string_view sessionName, std::string_view serviceHost);
std::string SessionPageUrl(std::string_view sessionName, std::string_view serviceHost);
std::string DownloadPageUrl(std::string_view serviceHost);
std::string HomePageUrl(std::string_view serviceHost);

struct FormField {
    std::string name;
    std::string value;
    bool operator==(const FormField&) const = default;
};

// The text fields of the upload body, in order; the file part "screenshot" follows them.
// "screenshotname" carries the remembered name when the picture's proposal is the one that was
// renamed last; "sessionname" is sent in session mode.
std::vector<FormField> UploadFields(std::string_view proposedName,
                                    std::string_view rememberedProposal,
                                    std::string_view rememberedName, std::string_view sessionName);

struct UploadReply {
    enum class Kind { Ok, TooBig, WrongSession, Error };
    Kind kind = Kind::Error;
    std::string version; // Ok: the version the service offers
    std::string address; // Ok: the picture's address
};
UploadReply ReadUploadReply(std::string reply);

// A rename succeeded when the reply begins with "http://"; the reply is then the new address.
bool RenameSucceeded(std::string_view reply);

struct SessionReply {
    bool ok = false;          // the first word is "ok"
    std::string name;         // the rest after the first blank
    bool invalidName = false; // the whole reply is "invalidname"
};
SessionReply ReadSessionReply(std::string_view reply);

} // namespace glimmerly::protocol
