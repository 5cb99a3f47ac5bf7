#pragma once
// TUploadThread: compresses the picture to a JPEG under the size limit and uploads it, or stores
// it where the user chooses. One job runs per capture or dropped file, on its own thread.

#include "codecs/jpeg_encoder.h"
#include "imaging/picture.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <thread>

namespace glimmerly {
namespace net {
class HttpClient;
}
namespace platform {
class Files;
}
class UploadView;

inline constexpr std::uint64_t kUploadSizeLimit = 307200;
inline constexpr int kQualityStep = 4;
inline constexpr int kLowestQuality = 4;
inline constexpr int kLocalSaveQuality = 95;

// Starting quality of the size loop for a picture `width` pixels wide. 1700 itself, which the
// width table leaves open, is taken as wide (60).
int StartingQuality(int width);

// The size loop's first round, begun before the job: a capture whose picture goes up as it was
// grabbed starts it at once, so that the library works on one core while the window finishes the
// capture on the other. It owns the picture until the job takes the encoder over.
class FirstEncoding {
public:
    // Starts encoding `picture` at StartingQuality(picture.width) on a thread of its own.
    explicit FirstEncoding(Picture picture);
    ~FirstEncoding(); // waits for the encoding
    FirstEncoding(const FirstEncoding&) = delete;
    FirstEncoding& operator=(const FirstEncoding&) = delete;

    // Waits for the encoding and hands over the encoder: its picture, quality and data. Throws
    // what the encoding threw.
    JpegEncoder Take();

private:
    JpegEncoder encoder_;
    std::exception_ptr error_;
    std::thread thread_;
};

// Everything the job needs, taken when it starts: the job owns the picture from then on.
struct UploadJobInput {
    // The picture, or nothing when `firstEncoding` holds it.
    Picture picture;
    std::unique_ptr<FirstEncoding> firstEncoding; // uploads only
    std::string screenshotFile;
    bool saveLocal = false;
    std::string uploadUrl;
    std::string proposedName;
    std::string rememberedProposal;
    std::string rememberedName;
    std::string sessionName;
    // The size loop stops at the first encoding of at most this many bytes.
    std::uint64_t sizeLimit = kUploadSizeLimit;
};

class TUploadThread {
public:
    TUploadThread(UploadJobInput input, net::HttpClient& http, platform::Files& files,
                  UploadView& view);
    ~TUploadThread(); // joins
    TUploadThread(const TUploadThread&) = delete;
    TUploadThread& operator=(const TUploadThread&) = delete;

    // Starts the body on a thread of its own, at once.
    void Start();
    // Runs the body on the calling thread (tests).
    void Run();
    // Asks a running body to stop at its next step (the program is closing).
    void RequestStop() { stop_ = true; }
    void Join();
    bool Finished() const { return finished_; }

private:
    void Body();
    void CompressScreenshot();
    JpegEncoder TakeFirstEncoding();
    void SendScreenshot();
    void SaveLocally();
    void CheckStop() const;

    UploadJobInput input_;
    net::HttpClient& http_;
    platform::Files& files_;
    UploadView& view_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    const char* stage_ = "";
};

} // namespace glimmerly
