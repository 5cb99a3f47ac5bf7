// Shared by the floors of the road benchmarks (bench/road, bench/windows): the one JPEG encoding
// and the upload request that the program sends, so every floor does the same work around its
// own grab and socket.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

namespace floor_upload {

// One encoding at quality 60, the library reading the rows where they are (`stride` bytes apart,
// pixels laid out as `space` with `components` bytes each).
inline std::vector<unsigned char> Encode(const std::uint8_t* rows, int width, int height,
                                         std::size_t stride, J_COLOR_SPACE space, int components) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 60, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    constexpr int kRows = 16;
    JSAMPROW pointers[kRows];
    while (cinfo.next_scanline < cinfo.image_height) {
        const int first = static_cast<int>(cinfo.next_scanline);
        const int count = std::min(kRows, height - first);
        for (int r = 0; r < count; ++r)
            pointers[r] = const_cast<JSAMPLE*>(rows + static_cast<std::size_t>(first + r) * stride);
        jpeg_write_scanlines(&cinfo, pointers, static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<unsigned char> jpeg(out, out + outSize);
    std::free(out);
    return jpeg;
}

// The program's request up to the JPEG's first byte: the same head lines in the same order and
// the same three parts, the file part named `file`. `tail` gets what follows the JPEG.
inline std::string RequestHead(int port, const std::string& file, std::size_t jpegSize,
                               std::string& tail) {
    const std::string boundary = "--------120726130000000";
    const std::string head1 = "--" + boundary +
                              "\r\nContent-Disposition: form-data; name=\"filename\"\r\n\r\n"
                              "screenshot\r\n--" +
                              boundary +
                              "\r\nContent-Disposition: form-data; name=\"version\"\r\n\r\n"
                              "3.2\r\n--" +
                              boundary +
                              "\r\nContent-Disposition: form-data; name=\"screenshot\"; "
                              "filename=\"" +
                              file +
                              "\"\r\nContent-Type: image/jpeg\r\nContent-Transfer-Encoding: "
                              "binary\r\n\r\n";
    tail = "\r\n--" + boundary + "--\r\n";
    const std::size_t length = head1.size() + jpegSize + tail.size();
    std::string request = "POST /upload.php HTTP/1.0\r\nConnection: keep-alive\r\n"
                          "Content-Type: multipart/form-data; boundary=" +
                          boundary + "\r\nContent-Length: " + std::to_string(length) +
                          "\r\nHost: localhost:" + std::to_string(port) +
                          "\r\nAccept: text/html, */*\r\nUser-Agent: Doveviraza Zudavove\r\n\r\n";
    return request + head1;
}

} // namespace floor_upload
