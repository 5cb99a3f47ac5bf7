#pragma once
// The service's rules about pictures and sessions, kept once over any storage back end: how an
// upload is named (the typed name made address-safe, "-2", "-3", … when taken, a random name when
// nothing usable was typed; a name once given out is never given to another picture), who may
// rename a picture (its uploader), when a session takes uploads, what a rename checks before it
// changes anything, and the waiting of the live pages for the next change. The back end only
// stores and finds, inside the transactions this layer runs.

#include <memory>
#include <string>
#include <vector>

#include "service/change_signal.h"
#include "service/storage_backend.h"
#include "service/store.h"

namespace glimmerly::service {

// Attempts at a free random name before an upload gives up (only reached when other instances
// keep taking the very names this one picks).
inline constexpr int kNameAttempts = 50;
// Names of a series one upload tries before it gives up for now. Every name it passes was given
// out for good, so the series' counter keeps the progress (committed even then) and no name is
// tried twice; only names typed like "plan-7" before the series got that far are passed at all.
inline constexpr int kSeriesProbes = 10000;
// Changes the reader of the live pages takes in one statement.
inline constexpr int kChangesPerRead = 500;

// The n-th name of the series base, base-2, base-3, … (n = 1 is base itself).
std::string NameInSeries(const std::string& base, std::int64_t n);

class PictureStore final : public Store {
public:
    explicit PictureStore(std::unique_ptr<StorageBackend> backend, Now now = Clock::now);
    ~PictureStore() override;

    UploadResult AddPicture(std::string_view jpeg, JpegSize size, std::string_view typedName,
                            std::string_view session, std::chrono::milliseconds ttl,
                            std::string_view owner = {}) override;
    RenameStatus Rename(std::string_view current, std::string_view typedName, std::string& newName,
                        std::string_view owner) override;
    DeleteStatus Delete(std::string_view name, std::string_view owner) override;
    void OpenSession(std::string_view name, std::chrono::milliseconds ttl) override;
    SessionState GetSession(std::string_view name) override;
    std::vector<StoredPicture> SessionPictures(std::string_view session,
                                               std::int64_t afterSeq = 0) override;
    std::optional<StoredPicture> FindPicture(std::string_view name) override;
    std::optional<PictureContent> ReadPicture(std::string_view name) override;
    std::optional<std::string> CurrentName(std::string_view givenName) override;
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
