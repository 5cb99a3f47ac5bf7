#include "upload_job.h"

#include "codecs/jpeg_encoder.h"
#include "net/http_client.h"
#include "net/multipart_body.h"
#include "platform/platform.h"
#include "text/cp1252.h"
#include "upload/server_protocol.h"
#include "upload/upload_view.h"

#include <utility>

namespace glimmerly {
namespace {

// Status and stage texts, written here in UTF-8 and used as Windows-1252.
std::string T(std::string_view utf8) {
    return cp1252::FromUtf8(utf8);
}

} // namespace

// The status line is one line: line breaks in error messages become blanks.
std::string FailureStatus(std::string_view stepUtf8, const std::string& message) {
    std::string text = message;
    for (char& c : text) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    std::string out = T(stepUtf8) + T(" fehlgeschlagen: ");
    for (char c : text) {
        if (!(c == ' ' && !out.empty() && out.back() == ' '))
            out += c;
    }
    return out;
}

int StartingQuality(int width) {
    int quality = 60;
    if (width < 1700)
        quality = 70;
    if (width < 1500)
        quality = 80;
    if (width < 1000)
        quality = 88;
    if (width < 500)
        quality = 100;
    return quality;
}

FirstEncoding::FirstEncoding(Picture picture) {
    encoder_.SetQuality(StartingQuality(picture.width));
    encoder_.SetPicture(std::move(picture));
    thread_ = std::thread([this] {
        try {
            encoder_.Encode();
        } catch (...) {
            error_ = std::current_exception();
        }
    });
}

FirstEncoding::~FirstEncoding() {
    if (thread_.joinable())
        thread_.join();
}

JpegEncoder FirstEncoding::Take() {
    if (thread_.joinable())
        thread_.join();
    if (error_)
        std::rethrow_exception(error_);
    return std::move(encoder_);
}

TUploadThread::TUploadThread(UploadJobInput input, net::HttpClient& http, platform::Files& files,
                             UploadView& view)
    : input_(std::move(input)), http_(http), files_(files), view_(view) {}

TUploadThread::~TUploadThread() {
    RequestStop();
    Join();
}

void TUploadThread::Start() {
    thread_ = std::thread([this] { Body(); });
}

void TUploadThread::Run() {
    Body();
}

void TUploadThread::Join() {
    if (thread_.joinable())
        thread_.join();
}

void TUploadThread::CheckStop() const {
    if (stop_)
        throw JobStopped();
}

void TUploadThread::Body() {
    try {
        stage_ = "Komprimieren";
        CompressScreenshot();
        if (!input_.saveLocal) {
            stage_ = "Hochladen";
            SendScreenshot();
        } else {
            stage_ = "Speichern";
            SaveLocally();
        }
    } catch (const JobStopped&) {
        // The window is closing: nothing may be shown any more.
    } catch (const std::exception& e) {
        try {
            view_.FailJob(FailureStatus(stage_, e.what()));
        } catch (...) {
        }
    } catch (...) {
        try {
            view_.FailJob(T(stage_) + T(" fehlgeschlagen."));
        } catch (...) {
        }
    }
    finished_ = true;
}

void TUploadThread::CompressScreenshot() {
    JpegEncoder encoder;
    if (!input_.firstEncoding) {
        encoder.SetQuality(StartingQuality(input_.picture.width));
        encoder.SetPicture(std::move(input_.picture));
        input_.picture = Picture(); // the job releases ScreenshotBitmap once it is in the encoder
    }
    if (input_.saveLocal) {
        if (input_.firstEncoding)
            encoder = TakeFirstEncoding();
        encoder.SetQuality(kLocalSaveQuality);
        encoder.Encode();
        files_.WriteFile(input_.screenshotFile, encoder.Data());
        return;
    }
    view_.ShowStatus(T("Screenshot wird komprimiert..."));
    // The first round may have been encoded already, while the capture finished.
    bool encoded = false;
    if (input_.firstEncoding) {
        encoder = TakeFirstEncoding();
        encoded = true;
    }
    int quality = encoder.Quality();
    for (;;) {
        CheckStop();
        if (!encoded)
            encoder.Encode();
        encoded = false;
        if (encoder.Data().size() <= input_.sizeLimit)
            break;
        if (quality <= kLowestQuality)
            break;
        quality -= kQualityStep;
        encoder.SetQuality(quality);
        view_.ShowStatus(T("Screenshot wird komprimiert... (Qualität herabgesetzt auf: ") +
                         std::to_string(quality) + "%)");
    }
    // Only the round that is sent reaches the disk.
    files_.WriteFile(input_.screenshotFile, encoder.Data());
}

JpegEncoder TUploadThread::TakeFirstEncoding() {
    const std::unique_ptr<FirstEncoding> first = std::move(input_.firstEncoding);
    return first->Take();
}

void TUploadThread::SendScreenshot() {
    view_.ShowStatus(T("Screenshot wird zum Server übertragen..."));
    std::string reply;
    {
        // The body holds the file open; it is released before the file is deleted, and also
        // when the request fails, so that the next encoding can replace the file.
        net::MultipartBody body;
        for (const auto& field :
             protocol::UploadFields(input_.proposedName, input_.rememberedProposal,
                                    input_.rememberedName, input_.sessionName))
            body.AddField(field.name, field.value);
        body.AddFilePart("screenshot", input_.screenshotFile, "image/jpeg");
        CheckStop();
        reply = http_.Post(input_.uploadUrl, body);
    }
    files_.DeleteFile(input_.screenshotFile);

    const protocol::UploadReply answer = protocol::ReadUploadReply(reply);
    switch (answer.kind) {
    case protocol::UploadReply::Kind::Ok:
        view_.ShowNewVersion(answer.version);
        view_.CompleteUpload(answer.address, T("Screenshot wurde erfolgreich hochgeladen."));
        return;
    case protocol::UploadReply::Kind::TooBig:
        view_.ShowStatus(T("Bild war zu groß."));
        break;
    case protocol::UploadReply::Kind::WrongSession:
        view_.ShowStatus(
            T("Die Session ist bereits ausgelaufen. Bitte legen Sie eine neue Session an!"));
        break;
    case protocol::UploadReply::Kind::Error:
        view_.ShowUploadError(T("Beim Hochladen ist folgender Fehler aufgetreten: ") + reply);
        break;
    }
    view_.FinishJob();
}

void TUploadThread::SaveLocally() {
    const std::optional<std::string> target = view_.AskSaveFileName();
    if (!target) {
        view_.ShowStatus("");
    } else if (files_.MoveFile(input_.screenshotFile, *target)) {
        // The move replaces an existing file only once the new one is complete, so a failed
        // save never costs the user the file that was there before.
        view_.ShowStatus(T("Screenshot wurde gespeichert (nicht hochgeladen)."));
    } else {
        view_.ShowStatus(T("Fehler beim Speichern!"));
    }
    view_.FinishJob();
}

} // namespace glimmerly
