#pragma once
// A shared memory segment (MIT-SHM) that the X server copies screen pixels into, kept from one
// grab to the next. Internal to platform/x11.

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>

namespace glimmerly::platform::x11 {

class SharedImage {
public:
    explicit SharedImage(xcb_connection_t* connection) : connection_(connection) {}
    ~SharedImage(); // detaches from the server and from this process
    SharedImage(const SharedImage&) = delete;
    SharedImage& operator=(const SharedImage&) = delete;

    // A segment of at least `bytes` attached to both sides, or false when the server offers no
    // MIT-SHM, is not on this machine or cannot attach the memory (then it is not asked again).
    bool Reserve(std::size_t bytes);

    xcb_shm_seg_t segment() const { return segment_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    void Release();

    xcb_connection_t* connection_;
    xcb_shm_seg_t segment_ = 0;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool unusable_ = false;
};

} // namespace glimmerly::platform::x11
