#include "platform/x11/x11_shared_image.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>

#include <cstdlib>

namespace glimmerly::platform::x11 {

namespace {

// Only a server on this machine, reached through a local socket, can attach this process's
// memory; a segment number sent elsewhere could name some other segment there.
bool LocalConnection(xcb_connection_t* connection) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return getsockname(xcb_get_file_descriptor(connection), reinterpret_cast<sockaddr*>(&address),
                       &length) == 0 &&
           address.ss_family == AF_UNIX;
}

} // namespace

SharedImage::~SharedImage() {
    Release();
}

void SharedImage::Release() {
    if (data_ == nullptr) {
        return;
    }
    if (!xcb_connection_has_error(connection_)) {
        xcb_shm_detach(connection_, segment_);
        xcb_flush(connection_);
    }
    shmdt(data_);
    data_ = nullptr;
    size_ = 0;
}

bool SharedImage::Reserve(std::size_t bytes) {
    if (unusable_) {
        return false;
    }
    if (data_ != nullptr && size_ >= bytes) {
        return true;
    }
    Release();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection_, &xcb_shm_id);
    if (extension == nullptr || !extension->present || !LocalConnection(connection_)) {
        unusable_ = true;
        return false;
    }
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) {
        return false; // perhaps too large this time; a smaller grab may still get one
    }
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(connection_);
    xcb_generic_error_t* error =
        xcb_request_check(connection_, xcb_shm_attach_checked(connection_, segment, id, 0));
    // Marked for removal at once: it goes when both sides have detached, also after a crash.
    shmctl(id, IPC_RMID, nullptr);
    if (error != nullptr) {
        // A server in another container, for one, may not reach this memory.
        std::free(error);
        shmdt(address);
        unusable_ = true;
        return false;
    }
    segment_ = segment;
    data_ = static_cast<std::uint8_t*>(address);
    size_ = bytes;
    return true;
}

} // namespace glimmerly::platform::x11
