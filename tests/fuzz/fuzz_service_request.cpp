// Arbitrary request targets into the stand-in service's target splitting and query parsing. Every
// value handed back must be the raw bytes of the target, never decoded or invented.

#include "service/http/request.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace glimmerly::service;

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool Inside(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const Target target = SplitTarget(raw);
    if (raw.find('?') == std::string_view::npos) {
        Check(target.path == raw && target.query.empty());
    } else {
        Check(target.path.size() + 1 + target.query.size() == raw.size());
        Check(target.path.find('?') == std::string::npos);
    }
    const std::string_view query = target.query;
    for (const std::string_view key : {"filename", "newfilename", "sessionname", ""}) {
        if (const auto value = QueryValue(query, key)) {
            Check(Inside(query, *value));
        }
    }
    if (const auto rename = ParseRenameQuery(query)) {
        Check(Inside(query, rename->filename) && Inside(query, rename->newFilename));
        Check(rename->filename.size() + rename->newFilename.size() <= query.size());
    }
    return 0;
}
