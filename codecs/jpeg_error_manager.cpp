#include "codecs/jpeg_error_manager.h"

#include <jerror.h>

namespace glimmerly {

namespace {

extern "C" [[noreturn]] void JumpBack(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

extern "C" void OutputNothing(j_common_ptr) {}

bool LosesImageData(int code) {
    switch (code) {
    case JWRN_JPEG_EOF:          // the file ends before the image data does
    case JWRN_HIT_MARKER:        // a marker inside the entropy-coded data
    case JWRN_MUST_RESYNC:       // damaged restart interval
    case JWRN_HUFF_BAD_CODE:     // damaged Huffman data
    case JWRN_NOT_SEQUENTIAL:    // damaged progressive scans
    case JWRN_BOGUS_PROGRESSION: // damaged progressive scans
        return true;
    default:
        return false;
    }
}

// Trace messages (level > 0) are ignored, and so are warnings that leave the image whole.
extern "C" void EmitMessage(j_common_ptr cinfo, int level) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (level < 0 && LosesImageData(manager->pub.msg_code)) {
        JumpBack(cinfo);
    }
}

} // namespace

jpeg_error_mgr* InstallJpegErrorManager(JpegErrorManager& manager, bool strict) {
    jpeg_std_error(&manager.pub);
    manager.pub.error_exit = JumpBack;
    manager.pub.output_message = OutputNothing;
    manager.strict = strict;
    manager.limit = nullptr;
    if (strict) {
        manager.pub.emit_message = EmitMessage;
    }
    return &manager.pub;
}

void JpegLimitExit(j_common_ptr cinfo, const char* message) {
    reinterpret_cast<JpegErrorManager*>(cinfo->err)->limit = message;
    JumpBack(cinfo);
}

} // namespace glimmerly
