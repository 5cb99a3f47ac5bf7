#include "codecs/jpeg_decoder.h"

#include "text/cp1252.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "codecs/jpeg_error_manager.h"
#include "imaging/pixel_order.h"

namespace glimmerly {

namespace {

// A progressive file can hold any number of scans, each a pass over the whole picture: a few
// kilobytes of them keep the reader busy for seconds. Genuine files have about ten. Beside a
// fixed cap, the scans times the pixels are bounded (about 0.7 s of decoding here), so that a
// large picture may have fewer of them than a small one.
constexpr int kMaxScans = 1000;
constexpr std::uint64_t kMaxScanPixels = kMaxPicturePixels * 16;

extern "C" void CountScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor)
        return;
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    const std::uint64_t scans = static_cast<std::uint64_t>(std::max(d->input_scan_number, 0));
    if (scans > kMaxScans || scans * d->image_width * d->image_height > kMaxScanPixels)
        JpegLimitExit(cinfo, "Die JPEG-Datei ist beschädigt (zu viele Scans).");
}

// CMYK as written by most programs (Adobe): stored inverted, so that 255 means no ink.
void CmykRowToBgr(const JSAMPLE* cmyk, std::uint8_t* bgr, int width, bool inverted) {
    for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
        bgr[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        bgr[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    }
}

enum class Outcome { Done, LibraryError, Limit, Refused, NoMemory };

// Why the header alone rules the file out, before anything is allocated for its picture.
std::optional<PictureRefusal> JudgeHeader(const jpeg_decompress_struct& cinfo) {
    // An arithmetic coder can squeeze a flat picture of any size into a few hundred bytes, so the
    // file's size bounds nothing. Hardly any program writes such files, and browsers cannot show
    // them: they are refused rather than given a cap of their own.
    if (cinfo.arith_code)
        return PictureRefusal::ArithmeticCoding;
    if (static_cast<std::uint64_t>(cinfo.image_width) * cinfo.image_height > kMaxPicturePixels)
        return PictureRefusal::TooManyPixels;
    // Every 8x8 block of the first scan costs at least one bit of Huffman code: the DC difference
    // (the first scan of a progressive file has to be a DC scan), or in a sequential scan the DC
    // difference and the end of the block. The data left after the scan's header is all there is.
    if (cinfo.progressive_mode && cinfo.Ss != 0)
        return PictureRefusal::ScansOutOfOrder;
    std::uint64_t blocks = 0;
    for (int i = 0; i < cinfo.comps_in_scan; ++i) {
        const jpeg_component_info* component = cinfo.cur_comp_info[i];
        blocks += std::uint64_t{component->width_in_blocks} * component->height_in_blocks;
    }
    if (blocks > std::uint64_t{cinfo.src->bytes_in_buffer} * 8)
        return PictureRefusal::ShorterThanClaimed;
    return std::nullopt;
}

// One run of the library. Objects with destructors live in the caller, so that a jump back to
// setjmp leaves none of them half-updated. The picture is allocated only after the library has
// taken its own memory (and, for a progressive file, read all scans), so that a file the library
// refuses never costs the picture.
Outcome Decompress(const std::uint8_t* data, std::size_t size, Picture& picture,
                   std::vector<JSAMPLE>& cmykRow, int& code, const char*& limit,
                   PictureRefusal& refusal) {
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegErrorManager err;
    cinfo.err = InstallJpegErrorManager(err, true);
    jpeg_progress_mgr progress;
    std::memset(&progress, 0, sizeof progress);
    progress.progress_monitor = CountScans;
    JDIMENSION width = 0;
    bool cmyk = false, inverted = false;

    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        code = err.pub.msg_code;
        limit = err.limit;
        if (limit != nullptr)
            return Outcome::Limit;
        // Without a backing store the library ends the run when its buffers would pass
        // max_memory_to_use; a side above 65500 pixels ends the reading of the header.
        if (code == JERR_NO_BACKING_STORE || code == JERR_IMAGE_TOO_BIG) {
            refusal = code == JERR_NO_BACKING_STORE ? PictureRefusal::OverBudget
                                                    : PictureRefusal::SideTooLong;
            return Outcome::Refused;
        }
        return Outcome::LibraryError;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (const std::optional<PictureRefusal> why = JudgeHeader(cinfo)) {
        jpeg_destroy_decompress(&cinfo);
        refusal = *why;
        return Outcome::Refused;
    }
    width = cinfo.image_width;
    cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    inverted = cinfo.saw_Adobe_marker;
    // What the picture leaves of the budget is the library's; the largest picture the header may
    // claim leaves some.
    const std::uint64_t pictureBytes =
        std::uint64_t{width} * cinfo.image_height * 3 + (cmyk ? std::uint64_t{width} * 4 : 0);
    static_assert(kMaxPicturePixels * 3 + std::uint64_t{kMaxPictureSide} * 4 < kDecodeBudgetBytes);
    cinfo.mem->max_memory_to_use = static_cast<long>(kDecodeBudgetBytes - pictureBytes);
#ifdef JCS_EXTENSIONS
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
#else
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
#endif
    jpeg_start_decompress(&cinfo);
    bool allocated = true;
    try {
        // Every row is written below before anyone reads it.
        picture = Picture::Unfilled(static_cast<int>(width), static_cast<int>(cinfo.image_height));
        if (cmyk) {
            cmykRow.resize(static_cast<std::size_t>(width) * 4);
        }
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated) {
        jpeg_destroy_decompress(&cinfo);
        return Outcome::NoMemory;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        std::uint8_t* row = picture.Row(static_cast<int>(cinfo.output_scanline));
        JSAMPROW target = cmyk ? cmykRow.data() : row;
        jpeg_read_scanlines(&cinfo, &target, 1);
        if (cmyk) {
            CmykRowToBgr(cmykRow.data(), row, static_cast<int>(width), inverted);
        } else {
#ifndef JCS_EXTENSIONS
            SwapRedAndBlue(row, row, width);
#endif
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return Outcome::Done;
}

} // namespace

Picture DecodeJpeg(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0) {
        throw std::runtime_error("Die JPEG-Datei ist leer.");
    }
    Picture picture;
    std::vector<JSAMPLE> cmykRow;
    int code = 0;
    const char* limit = nullptr;
    PictureRefusal refusal{};
    switch (Decompress(data, size, picture, cmykRow, code, limit, refusal)) {
    case Outcome::Done:
        return picture;
    case Outcome::LibraryError:
        throw JpegError(code);
    case Outcome::Limit:
        throw std::runtime_error(cp1252::FromUtf8(limit));
    case Outcome::Refused:
        throw PictureRefused(refusal);
    case Outcome::NoMemory:
        throw std::bad_alloc();
    }
    throw std::logic_error("unreachable");
}

Picture DecodeJpegFile(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rbe"),
                                                         std::fclose);
    if (!file) {
        const int error = errno;
        throw std::runtime_error(cp1252::FromUtf8(
            "Die Datei \"" + path + "\" kann nicht gelesen werden: " + std::strerror(error)));
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[64 * 1024];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (n < sizeof chunk) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        throw std::runtime_error(
            cp1252::FromUtf8("Die Datei \"" + path + "\" kann nicht gelesen werden."));
    }
    return DecodeJpeg(bytes.data(), bytes.size());
}

} // namespace glimmerly
