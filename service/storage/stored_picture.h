#pragma once
// A stored picture as the storage gives it back, and the two ways an operation on the storage
// fails for now (nothing written, the request may be tried again).

#include <cstdint>
#include <stdexcept>
#include <string>

namespace glimmerly::service {

struct StoredPicture {
    std::int64_t id = 0;
    std::string name;  // address name, without ".jpg"
    std::string title; // UTF-8, as typed (or the name)
    std::string session;
    std::int64_t size = 0;
    int width = 0;
    int height = 0;
    std::int64_t created = 0; // Unix time in milliseconds
    std::int64_t seq = 0;     // raised by every upload and rename; orders the live updates
};

// The bytes of a stored picture: an open file (the caller closes it) or the bytes themselves.
struct PictureContent {
    int fd = -1;
    std::uint64_t fileSize = 0;
    std::string bytes;
};

// Thrown by a store whose database cannot be reached right now. Nothing of the operation was
// written; the request may be tried again later.
class StoreUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown when a wait for the database ran out (a lock another writer holds, a full connection
// pool, a statement running too long): the service answers at once instead of hanging. As with
// StoreUnavailable, the operation was rolled back and may be tried again shortly.
class StoreBusy : public StoreUnavailable {
public:
    using StoreUnavailable::StoreUnavailable;
};

} // namespace glimmerly::service
