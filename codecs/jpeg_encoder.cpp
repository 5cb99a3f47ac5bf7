#include "codecs/jpeg_encoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "codecs/jpeg_error_manager.h"
#include "imaging/pixel_order.h"

namespace glimmerly {

JpegError::JpegError(int code)
    : std::runtime_error("JPEG-Fehler #" + std::to_string(code)), code_(code) {}

namespace {

// Destination manager that appends the compressed bytes to a vector, growing it as needed.
struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<std::uint8_t>* buffer;
    std::size_t initialSize;
};

VectorDestination* DestinationOf(j_compress_ptr cinfo) {
    return reinterpret_cast<VectorDestination*>(cinfo->dest);
}

// Grows the buffer; on failure the library's error exit runs (outside any C++ handler, so that
// its longjmp leaves no exception behind).
void Grow(j_compress_ptr cinfo, std::size_t size) {
    VectorDestination* dest = DestinationOf(cinfo);
    const std::size_t used = dest->buffer->size() - dest->pub.free_in_buffer;
    bool ok = true;
    try {
        dest->buffer->resize(size);
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok) {
        cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
        (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
    }
    dest->pub.next_output_byte = dest->buffer->data() + used;
    dest->pub.free_in_buffer = dest->buffer->size() - used;
}

extern "C" void InitDestination(j_compress_ptr cinfo) {
    VectorDestination* dest = DestinationOf(cinfo);
    dest->buffer->clear();
    dest->pub.free_in_buffer = 0;
    Grow(cinfo, dest->initialSize);
}

extern "C" boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    // The whole buffer is full: the library counts it as written.
    VectorDestination* dest = DestinationOf(cinfo);
    dest->pub.free_in_buffer = 0;
    Grow(cinfo, dest->buffer->size() * 2);
    return TRUE;
}

extern "C" void TermDestination(j_compress_ptr cinfo) {
    VectorDestination* dest = DestinationOf(cinfo);
    dest->buffer->resize(dest->buffer->size() - dest->pub.free_in_buffer);
}

constexpr int kRowsPerCall = 16;

// libjpeg-turbo reads blue-green-red pixels itself; its conversion to YCbCr is the same
// arithmetic as for red-green-blue ones, so the file is the same byte for byte. A library without
// that input format is handed each row with red and blue exchanged.
#ifdef JCS_EXTENSIONS
constexpr J_COLOR_SPACE kPictureColourSpace = JCS_EXT_BGR;
constexpr bool kRowsNeedSwap = false;
#else
constexpr J_COLOR_SPACE kPictureColourSpace = JCS_RGB;
constexpr bool kRowsNeedSwap = true;
#endif

// One run of the library over the picture. Returns 0, or the library's message code when its
// error exit was taken. No object with a destructor is created between setjmp and the
// library calls that may jump back to it.
int Compress(const Picture& picture, int quality, std::vector<std::uint8_t>& out) {
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 3;
    std::vector<JSAMPLE> swapped(kRowsNeedSwap ? rowBytes * kRowsPerCall : 0);
    JSAMPROW rowPointers[kRowsPerCall];

    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegErrorManager err;
    cinfo.err = InstallJpegErrorManager(err);
    VectorDestination dest;
    std::memset(&dest, 0, sizeof dest);
    dest.buffer = &out;
    dest.initialSize = 64 * 1024;
    dest.pub.init_destination = InitDestination;
    dest.pub.empty_output_buffer = EmptyOutputBuffer;
    dest.pub.term_destination = TermDestination;

    if (setjmp(err.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        return err.pub.msg_code;
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &dest.pub;
    cinfo.image_width = static_cast<JDIMENSION>(picture.width);
    cinfo.image_height = static_cast<JDIMENSION>(picture.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = kPictureColourSpace;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int first = static_cast<int>(cinfo.next_scanline);
        const int count = std::min(kRowsPerCall, picture.height - first);
        for (int r = 0; r < count; ++r) {
            if (kRowsNeedSwap) {
                rowPointers[r] = swapped.data() + rowBytes * static_cast<std::size_t>(r);
                SwapRedAndBlue(picture.Row(first + r), rowPointers[r],
                               static_cast<std::size_t>(picture.width));
            } else {
                // The library only reads the rows it is given.
                rowPointers[r] = const_cast<JSAMPLE*>(picture.Row(first + r));
            }
        }
        jpeg_write_scanlines(&cinfo, rowPointers, static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 0;
}

void CheckRows(const Picture& p) {
    const std::size_t rowBytes = static_cast<std::size_t>(p.width) * 3;
    if (p.stride < rowBytes ||
        p.pixels.size() < p.stride * (static_cast<std::size_t>(p.height) - 1) + rowBytes) {
        throw std::invalid_argument("Picture buffer does not hold its rows");
    }
}

} // namespace

JpegEncoder::JpegEncoder() = default;

void JpegEncoder::SetPicture(const Picture& p) {
    picture_ = p;
    data_.clear();
}

void JpegEncoder::SetPicture(Picture&& p) {
    picture_ = std::move(p);
    data_.clear();
}

void JpegEncoder::SetQuality(int quality) {
    quality_ = static_cast<std::uint8_t>(std::clamp(quality, 1, 100));
}

void JpegEncoder::Encode() {
    data_.clear();
    if (picture_.width <= 0 || picture_.height <= 0) {
        return;
    }
    CheckRows(picture_);
    const int code = Compress(picture_, quality_, data_);
    if (code != 0) {
        data_.clear();
        throw JpegError(code);
    }
}

} // namespace glimmerly
