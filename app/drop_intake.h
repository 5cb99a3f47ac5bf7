#pragma once
// A picture file dropped onto the main window: a JPEG or BMP file takes the place of a capture,
// gets a name from its file name, and goes the capture's road from the editor on.

#include "imaging/picture.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerly {

struct SharedState;
class CaptureGate;
class CaptureIntake;
class DropView;

// Larger files are refused unread: no picture within the pixel cap needs more.
inline constexpr std::uint64_t kMaxPictureFileBytes = (std::uint64_t{1} << 28) + (1 << 20);

// What a drop judges a path by: the text after its first "." with A-Z lower-cased, and the
// file-name part (after the last "/"; on Windows after the last "\", "/" or ":") of the text
// before that ".".
std::string DropExtension(std::string_view path);
std::string DropNameSource(std::string_view path);

// Reads a whole JPEG or BMP file; throws std::runtime_error (Windows-1252) when it cannot be read
// or decoded, is larger than kMaxPictureFileBytes, or would cost more to decode than the readers'
// limits allow (each refusal in German words of its own).
Picture ReadPictureFile(const std::string& path, bool jpeg);

class DropIntake {
public:
    DropIntake(SharedState& state, CaptureGate& gate, CaptureIntake& intake, DropView& view);

    // The files of one drop, full local paths in the file system's encoding (UTF-8 on Windows);
    // only the first counts. A drop while the program is busy is refused on the status line.
    // When the file cannot be read, the program is re-armed and the error thrown; no job is
    // started then.
    void WMDropFiles(const std::vector<std::string>& paths);

private:
    // Everything from reading the file to starting the job.
    void Take(const std::string& path, bool jpeg);

    SharedState& state_;
    CaptureGate& gate_;
    CaptureIntake& intake_;
    DropView& view_;
};

} // namespace glimmerly
