#pragma once
// libjpeg error handling shared by the encoder and the decoder: the error exit jumps back to the
// caller's setjmp (a C library cannot be unwound by an exception), messages are not printed.

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace glimmerly {

struct JpegErrorManager {
    jpeg_error_mgr pub; // first, so that the library's pointer is also ours
    std::jmp_buf jump;
    bool strict = false;
    // Set when one of our own limits ended the run; the message for the caller.
    const char* limit = nullptr;
};

// Sets up the manager with the standard routines, then replaces the error exit and the output.
// A strict manager also ends the run at warnings that mean lost or garbled image data.
jpeg_error_mgr* InstallJpegErrorManager(JpegErrorManager& manager, bool strict = false);

// Ends the run through the error exit with one of our own limits.
[[noreturn]] void JpegLimitExit(j_common_ptr cinfo, const char* message);

} // namespace glimmerly
