#pragma once

#include "net/http_client.h"

namespace glimmerly::net {

// Begin/End of one work mode, ended on every way out.
class HttpClient::WorkBracket {
public:
    WorkBracket(HttpClient& client, int mode, std::int64_t max) : client_(client), mode_(mode) {
        client_.WorkBegin(mode_, max);
    }
    ~WorkBracket() { client_.WorkEnd(mode_); }
    WorkBracket(const WorkBracket&) = delete;
    WorkBracket& operator=(const WorkBracket&) = delete;

private:
    HttpClient& client_;
    int mode_;
};

} // namespace glimmerly::net
