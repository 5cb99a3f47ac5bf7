#include "tests/service/rules/fake_storage.h"

#include <algorithm>

namespace glimmerly::service::test {

namespace {

StoredPicture Stored(const FakeStorage::Picture& p) {
    StoredPicture s;
    s.id = p.id;
    s.name = p.name;
    s.title = p.title;
    s.session = p.session;
    s.size = static_cast<std::int64_t>(p.bytes.size());
    s.created = p.created;
    s.seq = p.seq;
    return s;
}

class FakeTransaction final : public StorageTransaction {
public:
    FakeTransaction(FakeStorage& storage, FakeStorage::State& state)
        : storage_(storage), state_(state) {}

    bool ExtendSession(std::string_view name, std::int64_t now, std::int64_t expires) override {
        auto it = state_.sessions.find(name);
        if (it == state_.sessions.end() || it->second <= now) {
            return false;
        }
        it->second = expires;
        return true;
    }
    std::int64_t SeriesNext(std::string_view base) override {
        auto it = state_.series.find(base);
        return it == state_.series.end() ? 1 : it->second;
    }
    void SetSeriesNext(std::string_view base, std::int64_t next) override {
        state_.series[std::string(base)] = next;
    }
    std::optional<std::int64_t> InsertIfNameFree(const NewPicture& picture) override {
        if (storage_.beforeInsert) {
            storage_.beforeInsert(picture, state_);
        }
        if (state_.given.count(picture.name)) {
            return std::nullopt;
        }
        FakeStorage::Picture p;
        p.id = state_.nextId++;
        p.name = picture.name;
        p.title = picture.title;
        p.session = picture.session;
        p.created = picture.created;
        p.bytes = picture.jpeg;
        p.owner = picture.owner;
        state_.pictures.push_back(p);
        state_.given[p.name] = p.id;
        return p.id;
    }
    std::optional<PictureToChange> FindForChange(std::string_view name) override {
        FakeStorage::Picture* p = state_.Named(name);
        return p ? std::optional<PictureToChange>({p->id, p->owner}) : std::nullopt;
    }
    bool RenameIfFree(std::int64_t id, std::string_view name, std::string_view title) override {
        auto given = state_.given.try_emplace(std::string(name), id).first;
        if (given->second != id) {
            return false;
        }
        FakeStorage::Picture& p = ById(id);
        p.name = name;
        p.title = title;
        return true;
    }
    void DeletePicture(std::int64_t id) override {
        std::erase_if(state_.pictures, [&](const FakeStorage::Picture& p) { return p.id == id; });
    }
    std::int64_t RecordChange(std::int64_t pictureId) override {
        ById(pictureId).seq = ++state_.counter;
        return state_.counter;
    }

private:
    FakeStorage::Picture& ById(std::int64_t id) {
        return *std::find_if(state_.pictures.begin(), state_.pictures.end(),
                             [&](const FakeStorage::Picture& p) { return p.id == id; });
    }

    FakeStorage& storage_;
    FakeStorage::State& state_;
};

} // namespace

FakeStorage::Picture* FakeStorage::State::Named(std::string_view name) {
    for (Picture& p : pictures) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

void FakeStorage::State::Add(const std::string& name) {
    Picture p;
    p.id = nextId++;
    p.name = name;
    p.title = name;
    pictures.push_back(p);
    given[name] = p.id;
}

void FakeStorage::Transact(const std::function<bool(StorageTransaction&)>& work) {
    ++transactions;
    State copy = state;
    FakeTransaction t(*this, copy);
    if (work(t)) {
        state = std::move(copy);
        Publish();
    }
}

void FakeStorage::Publish() {
    std::lock_guard lock(published_mutex_);
    published_ = state;
}

std::int64_t FakeStorage::LastChange() {
    std::lock_guard lock(published_mutex_);
    return published_.counter;
}

std::vector<StoredPicture> FakeStorage::ChangesAfter(std::int64_t after, std::int64_t upto,
                                                     int limit) {
    ++changeReads;
    std::lock_guard lock(published_mutex_);
    std::vector<StoredPicture> out;
    for (const Picture& p : published_.pictures) {
        if (p.seq > after && p.seq <= upto) {
            out.push_back(Stored(p));
        }
    }
    std::sort(out.begin(), out.end(),
              [](const StoredPicture& a, const StoredPicture& b) { return a.seq < b.seq; });
    if (out.size() > static_cast<std::size_t>(limit)) {
        out.resize(static_cast<std::size_t>(limit));
    }
    return out;
}

bool FakeStorage::Stage(NewPicture& picture) {
    ++stagings;
    if (stageFails) {
        return false;
    }
    picture.file = "file" + std::to_string(stagings);
    staged.push_back(picture.file);
    if (onStage) {
        onStage(state);
    }
    return true;
}

void FakeStorage::Unstage(const NewPicture& picture) {
    staged.erase(std::remove(staged.begin(), staged.end(), picture.file), staged.end());
}

void FakeStorage::OpenSession(std::string_view name, std::int64_t, std::int64_t expires) {
    state.sessions[std::string(name)] = expires;
}

std::int64_t FakeStorage::PurgeSessions(std::int64_t before) {
    return static_cast<std::int64_t>(
        std::erase_if(state.sessions, [&](const auto& s) { return s.second < before; }));
}

std::optional<std::int64_t> FakeStorage::SessionExpiry(std::string_view name) {
    auto it = state.sessions.find(name);
    return it == state.sessions.end() ? std::nullopt : std::optional<std::int64_t>(it->second);
}

std::vector<StoredPicture> FakeStorage::SessionPictures(std::string_view session,
                                                        std::int64_t afterSeq) {
    ++sessionReads;
    std::vector<StoredPicture> out;
    for (auto it = state.pictures.rbegin(); it != state.pictures.rend(); ++it) {
        if (it->session == session && it->seq > afterSeq) {
            out.push_back(Stored(*it));
        }
    }
    return out;
}

std::optional<StoredPicture> FakeStorage::FindPicture(std::string_view name) {
    Picture* p = state.Named(name);
    return p ? std::optional<StoredPicture>(Stored(*p)) : std::nullopt;
}

std::optional<std::string> FakeStorage::CurrentName(std::string_view givenName) {
    auto it = state.given.find(givenName);
    if (it == state.given.end()) {
        return std::nullopt;
    }
    for (const Picture& p : state.pictures) {
        if (p.id == it->second) {
            return p.name;
        }
    }
    return std::string(); // deleted
}

std::optional<PictureContent> FakeStorage::ReadPicture(std::string_view name) {
    Picture* p = state.Named(name);
    if (!p) {
        return std::nullopt;
    }
    PictureContent content;
    content.bytes = p->bytes;
    return content;
}

void FakeStorage::WatchChanges(std::function<void(std::int64_t)> watcher) {
    changed = std::move(watcher);
    changed(state.counter);
}

} // namespace glimmerly::service::test
