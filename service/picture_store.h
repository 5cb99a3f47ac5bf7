#pragma once
// The service's rules about pictures and sessions, kept once over any storage back end: how an
// upload is named (the typed name made address-safe, "-2", "-3", … when taken, a random name when
// nothing usable was typed), when a session takes uploads, what a rename checks before it
// changes anything, and the waiting of the live pages for the next change. The back end only
// stores and finds, inside the transactions this layer runs.

#include <memory>
#include <string>
#include <vector>

#include "service/change_signal.h"
#include "service/storage_backend.h"
#include "service/store.h"

namespace glimmerly::service {

// Attempts at a free name before an upload gives up (only reached when other instances keep
// taking the very names this one picks).
inline constexpr int kNameAttempts = 50;
// Changes the reader of the live pages takes in one statement.
inline constexpr int kChangesPerRead = 500;

// The first of base, base-2, base-3, … that is not among taken.
std::string FirstFreeName(const std::string& base, const std::vector<std::string>& taken);

class PictureStore final : public Store {
public:
    explicit PictureStore(std::unique_ptr<StorageBackend> backend, Now now = Clock::now);
    ~PictureStore() override;

    UploadResult AddPicture(std::string_view jpeg, JpegSize size, std::string_view typedName,
                            std::string_view session, std::chrono::milliseconds ttl) override;
    RenameStatus Rename(std::string_view current, std::string_view typedName,
                        std::string& newName) override;
    void OpenSession(std::string_view name, std::chrono::milliseconds ttl) override;
    SessionState GetSession(std::string_view name) override;
    std::vector<StoredPicture> SessionPictures(std::string_view session,
                                               std::int64_t afterSeq = 0) override;
    std::optional<StoredPicture> FindPicture(std::string_view name) override;
    std::optional<PictureContent> ReadPicture(std::string_view name) override;
    std::int64_t LastSeq() override;
    std::int64_t WaitForChange(std::int64_t seen, std::chrono::milliseconds timeout) override;
    ChangeSignal& Changes() override { return changes_; }
    void Shutdown() override;
    bool ShuttingDown() override;
    std::string Describe() const override;

private:
    std::int64_t NowMs() const; // Unix time in milliseconds
    ChangeRead ReadChanges(std::int64_t after);

    Now now_;
    ChangeSignal changes_;
    // Declared after changes_, which the back end's watcher calls into until it is destroyed.
    std::unique_ptr<StorageBackend> backend_;
};

} // namespace glimmerly::service
