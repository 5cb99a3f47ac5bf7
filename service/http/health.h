#pragma once
// GET /health, on both ports so that each balancer backend can check its own: "ok" while the
// instance takes requests and its storage works, else 503 with the reason (and Retry-After), also
// while the instance is stopping.

#include "service/http/exchange.h"

namespace glimmerly::service {

class PictureStore;

Reply HealthReply(bool draining, PictureStore& store);

} // namespace glimmerly::service
