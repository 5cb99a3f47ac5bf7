// Arbitrary upload requests into the stand-in service's multipart reading. The first line is the
// Content-Type value, the rest the body. A Content-Type without a usable boundary still has its
// body read, with the client's usual boundary. Every part must lie inside the body.

#include "service/http/multipart.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace glimmerly::service;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lf = input.find('\n');
    const std::string_view contentType = input.substr(0, lf);
    const std::string_view body = lf == std::string_view::npos ? "" : input.substr(lf + 1);

    const std::string boundary = MultipartBoundary(contentType).value_or("--------120626134507089");
    if (boundary.empty() || boundary.size() > 200) {
        std::abort();
    }
    const auto parts = ParseMultipart(body, boundary);
    if (!parts) {
        return 0;
    }
    for (const FormPart& part : *parts) {
        const bool inside =
            part.data.empty() || (part.data.data() >= body.data() &&
                                  part.data.data() + part.data.size() <= body.data() + body.size());
        if (!inside) {
            std::abort();
        }
    }
    (void)FindPart(*parts, "screenshot");
    return 0;
}
