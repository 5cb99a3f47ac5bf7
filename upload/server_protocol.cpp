#include "server_protocol.h"

#include "text/text_routines.h"
#include "upload/build_hosts.h"

namespace glimmerly {

ServiceHosts BuiltInHosts() {
    return {std::string(protocol::kBuildUploadHost), std::string(protocol::kBuildServiceHost)};
}

} // namespace glimmerly

namespace glimmerly::protocol {
namespace {

std::string Address(std::string_view host, std::string_view pathAndQuery) {
    std::string out = "http://";
    out += host;
    out += pathAndQuery;
    return out;
}

} // namespace

std::string UploadUrl(std::string_view uploadHost) {
    return Address(uploadHost, "/upload.php");
}

std::string RenameUrl(std::string_view screenshotUrl, std::string_view newName,
                      std::string_view serviceHost) {
    const auto slash = screenshotUrl.rfind('/');
    const std::string_view fileName =
        slash == std::string_view::npos ? screenshotUrl : screenshotUrl.substr(slash + 1);
    std::string query = "/setname.php?filename=";
    query += fileName;
    query += "&newfilename=";
    query += newName;
    return Address(serviceHost, query);
}

std::string SessionLoginUrl(std::string_view sessionName, std::string_view serviceHost) {
    return Address(serviceHost, "/loginsession.php?sessionname=" + std::string(sessionName));
}

std::string SessionPageUrl(std::string_view sessionName, std::string_view serviceHost) {
    return Address(serviceHost, "/~" + std::string(sessionName));
}

std::string DownloadPageUrl(std::string_view serviceHost) {
    return Address(serviceHost, "/download.htm");
}

std::string HomePageUrl(std::string_view serviceHost) {
    return Address(serviceHost, "/");
}

std::vector<FormField> UploadFields(std::string_view proposedName,
                                    std::string_view rememberedProposal,
                                    std::string_view rememberedName, std::string_view sessionName) {
    std::vector<FormField> fields{{"filename", "screenshot"},
                                  {"version", std::string(kProgramVersion)}};
    if (proposedName == rememberedProposal && !rememberedName.empty())
        fields.push_back({"screenshotname", std::string(rememberedName)});
    if (!sessionName.empty())
        fields.push_back({"sessionname", std::string(sessionName)});
    return fields;
}

UploadReply ReadUploadReply(std::string reply) {
    UploadReply out;
    if (StartsWith(reply, "ok")) {
        out.kind = UploadReply::Kind::Ok;
        std::string field;
        NextField(reply, '|', field); // the status word
        NextField(reply, '|', out.version);
        out.address = std::move(reply);
    } else if (reply == "toobig") {
        out.kind = UploadReply::Kind::TooBig;
    } else if (reply == "wrongsession") {
        out.kind = UploadReply::Kind::WrongSession;
    }
    return out;
}

bool RenameSucceeded(std::string_view reply) {
    return StartsWith(reply, "http://");
}

SessionReply ReadSessionReply(std::string_view reply) {
    SessionReply out;
    out.ok = TextBefore(reply, " ") == "ok";
    if (out.ok)
        out.name = TextAfter(reply, " ");
    out.invalidName = reply == "invalidname";
    return out;
}

} // namespace glimmerly::protocol
