#pragma once
// The request body of an upload: multipart/form-data made of plain fields and file parts,
// produced piece by piece while it is sent. File bytes go from disk straight into the reader's
// buffer; only the text of one part head is held at a time.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace glimmerly::net {

class MultipartBody {
public:
    // Boundary from the local date and time now.
    MultipartBody();
    // Boundary from the given local date and time (for tests and reproducible bodies).
    MultipartBody(const std::tm& localTime, int milliseconds);
    ~MultipartBody();
    MultipartBody(const MultipartBody&) = delete;
    MultipartBody& operator=(const MultipartBody&) = delete;

    // Texts are inserted byte for byte: no quoting, no escaping, no character set conversion.
    void AddField(const std::string& name, const std::string& value);
    // Opens the file for reading and keeps it open until the body is destroyed. Throws
    // std::runtime_error when it cannot be opened or is not a regular file; no part is added then.
    //
    // The file is opened read-only without keeping others from writing it, and its size taken at
    // this moment; that size is what the body counts and sends. (On Windows it cannot be deleted
    // or renamed while the body holds it.) Bytes appended later are never
    // sent, and a file that shrinks makes the body deliver fewer bytes than TotalSize(), which
    // the client reports as "No data to read.".
    void AddFilePart(const std::string& name, const std::string& path,
                     const std::string& contentType);

    // "--------" followed by the creation time as mmddyyhhnnsszzz.
    const std::string& Boundary() const { return boundary_; }
    // "multipart/form-data; boundary=" + Boundary().
    std::string ContentTypeValue() const;
    // Byte length of the whole encoded body.
    std::int64_t TotalSize() const { return size_ + ClosingDelimiter().size(); }

    // Delivers up to n bytes; fewer only at the end of the body.
    std::size_t Read(char* buffer, std::size_t n);
    // Bytes delivered since the last restart.
    std::int64_t Position() const { return position_; }
    // origin 0 (begin), 1 (current), 2 (end). Only a seek to offset 0 from the beginning moves:
    // it restarts the body. Seeking from the end answers TotalSize() and moves nothing; every other
    // seek answers the position and moves nothing.
    std::int64_t Seek(std::int64_t offset, int origin);
    // The body is read-only: throws HttpError("Unsupported operation.").
    void Write(const char* data, std::size_t n);

private:
    struct Part {
        std::string text; // whole text of a plain part, head of a file part
        int fd = -1;      // file parts only
        std::int64_t fileSize = 0;
    };

    std::string ClosingDelimiter() const { return "--" + boundary_ + "--\r\n"; }

    std::string boundary_;
    std::vector<Part> parts_;
    std::int64_t size_ = 0; // sum of the parts' encoded lengths

    // Reading state.
    std::int64_t position_ = 0;
    bool started_ = false;
    std::size_t index_ = 0;
    std::string pending_;
    std::size_t pendingPos_ = 0;
    bool copying_ = false; // the file of parts_[index_] is being copied
    std::int64_t fileOffset_ = 0;
};

} // namespace glimmerly::net
