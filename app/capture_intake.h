#pragma once
// From an accepted hot key to a running upload job: the screen is grabbed, a name proposed, the
// picture cut to the active window and edited when the options say so, the window turned to
// its name page, and one job started. Dropped files enter the same road once they are a picture.

#include "app/window_views.h"
#include "imaging/picture.h"
#include "platform/monitor.h"
#include "upload/server_protocol.h"

#include <memory>
#include <vector>

namespace glimmerly {

struct SharedState;
class CaptureGate;
class FirstEncoding;
class PictureEditor;
class UploadView;
namespace net {
class HttpClient;
}
namespace platform {
struct Platform;
} // namespace platform

class CaptureIntake {
public:
    CaptureIntake(SharedState& state, platform::Platform& platform, net::HttpClient& http,
                  ServiceHosts hosts, CaptureGate& gate, CaptureView& view, UploadView& jobView);

    void SetEditor(PictureEditor* editor) { editor_ = editor; }

    // The capture of one accepted hot key (CaptureReady is already false). Throws what the
    // screen or the files throw; no job is started then.
    void Capture();
    // The desktop band of `monitors` as a new picture; `bandLeft` receives the desktop column of
    // its column 0.
    Picture Screenshot(const std::vector<platform::Monitor>& monitors, int& bandLeft);

    struct Handling {
        bool wholePicture = false;               // the editor starts on the whole picture
        bool namePageWhenSaving = false;         // the name page also when saving locally
        std::vector<platform::Monitor> monitors; // the desktop the picture was taken of
    };
    // The rest of the road for a captured or dropped picture: the editor when "Anschließend
    // bearbeiten" is ticked, the name page, the temporary file's name, and the job, which takes
    // the picture over.
    void TakePicture(Picture screenshotBitmap, Handling handling);

private:
    // TakePicture with the options read once; `firstEncoding`, when given, holds the picture
    // (which then is empty) and is only given for an upload without the editor.
    void EditAndUpload(Picture screenshotBitmap, Handling handling, const CaptureOptions& options,
                       std::unique_ptr<FirstEncoding> firstEncoding);
    void StartUploadJob(Picture screenshotBitmap, std::unique_ptr<FirstEncoding> firstEncoding,
                        bool saveLocally);

    SharedState& state_;
    platform::Platform& platform_;
    net::HttpClient& http_;
    const ServiceHosts hosts_;
    CaptureGate& gate_;
    CaptureView& view_;
    UploadView& jobView_;
    PictureEditor* editor_ = nullptr;
};

} // namespace glimmerly
