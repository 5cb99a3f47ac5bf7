#include "service/http/health.h"

#include "service/rules/picture_store.h"

namespace glimmerly::service {

Reply HealthReply(bool draining, PictureStore& store) {
    std::string problem = draining ? std::string("stopping") : store.CheckHealth();
    Reply r =
        problem.empty() ? Reply::Text("ok") : Reply::Text(problem, MHD_HTTP_SERVICE_UNAVAILABLE);
    r.headers.emplace_back("Cache-Control", "no-store");
    if (!problem.empty()) {
        r.headers.emplace_back("Retry-After", "5");
        r.cause = std::move(problem);
    }
    return r;
}

} // namespace glimmerly::service
