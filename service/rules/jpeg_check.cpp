#include "service/rules/jpeg_check.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace glimmerly::service {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void Silent(j_common_ptr) {}

// Kept free of C++ objects with destructors: the error path leaves it through longjmp.
bool ReadHeader(const unsigned char* data, unsigned long size, JpegSize& out) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.output_message = Silent;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    bool ok = jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
    if (ok) {
        out.width = static_cast<int>(info.image_width);
        out.height = static_cast<int>(info.image_height);
        ok = out.width > 0 && out.height > 0;
    }
    jpeg_destroy_decompress(&info);
    return ok;
}

} // namespace

std::optional<JpegSize> CheckJpeg(std::string_view data) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
    if (data.size() < 8 || byte(0) != 0xFF || byte(1) != 0xD8 || byte(2) != 0xFF) {
        return std::nullopt;
    }
    std::size_t end = data.size();
    while (end > 4 && (byte(end - 1) == 0 || byte(end - 1) == '\r' || byte(end - 1) == '\n')) {
        --end;
    }
    if (byte(end - 2) != 0xFF || byte(end - 1) != 0xD9) {
        return std::nullopt;
    }
    JpegSize size;
    if (!ReadHeader(reinterpret_cast<const unsigned char*>(data.data()),
                    static_cast<unsigned long>(data.size()), size)) {
        return std::nullopt;
    }
    return size;
}

} // namespace glimmerly::service
