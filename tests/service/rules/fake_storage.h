#pragma once
// A storage back end in memory, for testing the rules without a database. A transaction works on
// a copy of the state that replaces it on commit, so a rolled-back transaction leaves no trace.
// Hooks let a test play another instance that writes in between.

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "service/storage/storage_backend.h"

namespace glimmerly::service::test {

class FakeStorage final : public StorageBackend {
public:
    struct Picture {
        std::int64_t id = 0;
        std::string name;
        std::string title;
        std::string session;
        std::int64_t created = 0;
        std::int64_t seq = 0;
        std::string bytes;
        std::string owner;
    };
    struct State {
        std::map<std::string, std::int64_t, std::less<>> sessions; // name → expiry
        std::vector<Picture> pictures;
        std::map<std::string, std::int64_t, std::less<>> given;  // name → picture, for good
        std::map<std::string, std::int64_t, std::less<>> series; // base → next number
        std::int64_t counter = 0;
        std::int64_t nextId = 1;

        Picture* Named(std::string_view name);
        // Inserts a picture of another writer (no change recorded).
        void Add(const std::string& name);
    };

    State state; // as committed

    // Run by Stage after the bytes were put aside, with the committed state.
    std::function<void(State&)> onStage;
    // Run before each insert with the transaction's state: another instance may take the name
    // first, or the statement may throw.
    std::function<void(const NewPicture&, State&)> beforeInsert;
    bool stageFails = false;
    std::vector<std::string> staged; // bytes put aside and not taken back
    int stagings = 0;
    int transactions = 0;
    std::atomic<int> changeReads{0};  // ChangesAfter calls
    std::atomic<int> sessionReads{0}; // SessionPictures calls
    // The watcher the rules registered: a test calls it as the changes of other instances.
    std::function<void(std::int64_t)> changed;

    void Transact(const std::function<bool(StorageTransaction&)>& work) override;
    bool Stage(NewPicture& picture) override;
    void Unstage(const NewPicture& picture) override;
    void OpenSession(std::string_view name, std::int64_t now, std::int64_t expires) override;
    std::optional<std::int64_t> SessionExpiry(std::string_view name) override;
    std::vector<StoredPicture> SessionPictures(std::string_view session,
                                               std::int64_t afterSeq) override;
    std::optional<StoredPicture> FindPicture(std::string_view name) override;
    std::optional<PictureContent> ReadPicture(std::string_view name) override;
    std::optional<std::string> CurrentName(std::string_view givenName) override;
    std::vector<StoredPicture> ChangesAfter(std::int64_t after, std::int64_t upto,
                                            int limit) override;
    std::int64_t LastChange() override;
    // Makes the state as it is now what the change reader (on its own thread) sees; a commit
    // does this itself, a test that writes into state calls it.
    void Publish();
    void WatchChanges(std::function<void(std::int64_t)> watcher) override;
    std::string Describe() const override { return "memory"; }
    std::string DescribeRepairs() const override { return {}; }
    std::int64_t PurgeSessions(std::int64_t before) override;
    std::string CheckHealth() override { return health; }

    std::string health; // what CheckHealth answers

private:
    std::mutex published_mutex_;
    State published_;
};

} // namespace glimmerly::service::test
