#include "service/rules/picture_store.h"

#include "service/rules/names.h"
#include "text/cp1252.h"

namespace glimmerly::service {

namespace {

// Takes back the staged bytes of an upload unless it was stored.
class StagedPicture {
public:
    StagedPicture(StorageBackend& backend, NewPicture& picture)
        : backend_(backend), picture_(picture) {}
    ~StagedPicture() {
        if (!kept_) {
            backend_.Unstage(picture_);
        }
    }
    StagedPicture(const StagedPicture&) = delete;
    StagedPicture& operator=(const StagedPicture&) = delete;
    void Keep() { kept_ = true; }

private:
    StorageBackend& backend_;
    NewPicture& picture_;
    bool kept_ = false;
};

// Inserts the picture under a random name; another instance may draw the same name meanwhile,
// and then a new one is drawn. An empty title becomes the name.
std::optional<std::int64_t> TakeRandomName(StorageTransaction& t, NewPicture& picture,
                                           const std::string& title) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        picture.name = RandomPictureName();
        picture.title = title.empty() ? picture.name : title;
        if (std::optional<std::int64_t> id = t.InsertIfNameFree(picture)) {
            return id;
        }
    }
    return std::nullopt;
}

// Inserts the picture under the next free name of base's series. Names are never given out twice,
// so the series only grows: its counter says where it goes on. A name in between may have been
// given out otherwise (typed as "plan-7", say); the insert, which the unique index decides, then
// passes it. When kSeriesProbes names were passed, nothing is stored but keepProgress is set:
// committing then keeps the counter past them.
std::optional<std::int64_t> TakeNameInSeries(StorageTransaction& t, const std::string& base,
                                             NewPicture& picture, const std::string& title,
                                             bool& keepProgress) {
    picture.title = title;
    const std::int64_t first = t.SeriesNext(base);
    for (std::int64_t n = first; n < first + kSeriesProbes; ++n) {
        picture.name = NameInSeries(base, n);
        if (std::optional<std::int64_t> id = t.InsertIfNameFree(picture)) {
            t.SetSeriesNext(base, n + 1);
            return id;
        }
    }
    t.SetSeriesNext(base, first + kSeriesProbes);
    keepProgress = true;
    return std::nullopt;
}

} // namespace

std::string NameInSeries(const std::string& base, std::int64_t n) {
    return n <= 1 ? base : base + "-" + std::to_string(n);
}

PictureStore::PictureStore(std::unique_ptr<StorageBackend> backend, Now now)
    : now_(std::move(now)), backend_(std::move(backend)) {
    // What a notice says is only a reason to look: the reader reads the counter itself.
    backend_->WatchChanges([this](std::int64_t) { changes_.Hint(); });
    changes_.Start([this](std::int64_t after) { return ReadChanges(after); },
                   backend_->LastChange());
}

PictureStore::~PictureStore() {
    changes_.Stop(); // the reader uses the back end
}

ChangeRead PictureStore::ReadChanges(std::int64_t after) {
    ChangeRead read;
    read.counter = backend_->LastChange();
    if (read.counter > after) {
        read.changes = backend_->ChangesAfter(after, read.counter, kChangesPerRead);
        if (read.changes.size() >= static_cast<std::size_t>(kChangesPerRead)) {
            read.counter = read.changes.back().seq;
            read.more = true;
        }
    }
    return read;
}

std::int64_t PictureStore::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now_().time_since_epoch()).count();
}

PictureStore::UploadResult PictureStore::AddPicture(std::string_view jpeg, JpegSize size,
                                                    std::string_view typedName,
                                                    std::string_view session,
                                                    std::chrono::milliseconds ttl,
                                                    std::string_view owner) {
    UploadResult result;
    // Refused before anything is staged; checked again in the transaction, since the session
    // may run out meanwhile.
    if (!session.empty() && GetSession(session) != SessionState::Active) {
        result.status = UploadStatus::WrongSession;
        return result;
    }
    const std::string base = MakePictureName(typedName);
    const std::string typedTitle = cp1252::ToUtf8(typedName);
    NewPicture picture;
    picture.session = session;
    picture.width = size.width;
    picture.height = size.height;
    picture.jpeg = jpeg;
    picture.owner = owner;
    if (!backend_->Stage(picture)) {
        return result;
    }
    StagedPicture staged(*backend_, picture);
    try {
        backend_->Transact([&](StorageTransaction& t) {
            result = UploadResult();
            picture.created = NowMs();
            bool keepProgress = false;
            std::optional<std::int64_t> id =
                base.empty() ? TakeRandomName(t, picture, typedName.empty() ? "" : typedTitle)
                             : TakeNameInSeries(t, base, picture, typedTitle, keepProgress);
            if (!id) {
                return keepProgress;
            }
            if (!session.empty() &&
                !t.ExtendSession(session, picture.created, picture.created + ttl.count())) {
                result.status = UploadStatus::WrongSession;
                return false;
            }
            t.RecordChange(*id);
            result.status = UploadStatus::Stored;
            result.name = picture.name;
            return true;
        });
    } catch (const StorageFailed&) {
        return UploadResult();
    }
    if (result.status == UploadStatus::Stored) {
        staged.Keep();
        changes_.Hint();
    }
    return result;
}

PictureStore::RenameStatus PictureStore::Rename(std::string_view current,
                                                std::string_view typedName, std::string& newName,
                                                std::string_view owner) {
    if (!IsPictureName(current)) {
        return RenameStatus::UnknownPicture;
    }
    const std::string name =
        typedName.size() > kMaxTypedNameLength ? std::string() : MakePictureName(typedName);
    const std::string title = cp1252::ToUtf8(typedName);
    RenameStatus status = RenameStatus::UnknownPicture;
    backend_->Transact([&](StorageTransaction& t) {
        std::optional<PictureToChange> found = t.FindForChange(current);
        if (!found) {
            status = RenameStatus::UnknownPicture;
            return false;
        }
        // Pictures from before uploads had owners have none: nobody renames them.
        if (owner.empty() || found->owner != owner) {
            status = RenameStatus::NotOwner;
            return false;
        }
        if (name.empty()) {
            status = RenameStatus::InvalidName;
            return false;
        }
        // The picture's own names, the current one and earlier ones, are free for it.
        if (!t.RenameIfFree(found->id, name, title)) {
            status = RenameStatus::NameTaken;
            return false;
        }
        t.RecordChange(found->id);
        status = RenameStatus::Renamed;
        return true;
    });
    if (status == RenameStatus::Renamed) {
        changes_.Hint();
        newName = name;
    }
    return status;
}

PictureStore::DeleteStatus PictureStore::Delete(std::string_view name, std::string_view owner) {
    if (!IsPictureName(name)) {
        return DeleteStatus::UnknownPicture;
    }
    DeleteStatus status = DeleteStatus::UnknownPicture;
    backend_->Transact([&](StorageTransaction& t) {
        std::optional<PictureToChange> found = t.FindForChange(name);
        if (!found) {
            status = DeleteStatus::UnknownPicture;
            return false;
        }
        if (owner.empty() || found->owner != owner) {
            status = DeleteStatus::NotOwner;
            return false;
        }
        t.DeletePicture(found->id);
        status = DeleteStatus::Deleted;
        return true;
    });
    return status;
}

void PictureStore::OpenSession(std::string_view name, std::chrono::milliseconds ttl) {
    std::int64_t now = NowMs();
    backend_->OpenSession(name, now, now + ttl.count());
}

PictureStore::SessionState PictureStore::GetSession(std::string_view name) {
    std::optional<std::int64_t> expires = backend_->SessionExpiry(name);
    if (!expires) {
        return SessionState::Unknown;
    }
    return *expires > NowMs() ? SessionState::Active : SessionState::Expired;
}

std::int64_t PictureStore::PurgeSessions(std::chrono::milliseconds retention) {
    return backend_->PurgeSessions(NowMs() - retention.count());
}

std::vector<StoredPicture> PictureStore::SessionPictures(std::string_view session,
                                                         std::int64_t afterSeq) {
    return backend_->SessionPictures(session, afterSeq);
}

// Only names the service can have handed out reach the back end.
std::optional<StoredPicture> PictureStore::FindPicture(std::string_view name) {
    if (!IsPictureName(name)) {
        return std::nullopt;
    }
    return backend_->FindPicture(name);
}

std::optional<PictureContent> PictureStore::ReadPicture(std::string_view name) {
    if (!IsPictureName(name)) {
        return std::nullopt;
    }
    return backend_->ReadPicture(name);
}

std::optional<std::string> PictureStore::CurrentName(std::string_view givenName) {
    if (!IsPictureName(givenName)) {
        return std::nullopt;
    }
    return backend_->CurrentName(givenName);
}

std::int64_t PictureStore::LastSeq() {
    std::int64_t last = backend_->LastChange();
    if (last != changes_.Known()) {
        changes_.Hint();
    }
    return last;
}

std::int64_t PictureStore::WaitForChange(std::int64_t seen, std::chrono::milliseconds timeout) {
    return changes_.Wait(seen, timeout);
}

void PictureStore::Shutdown() {
    changes_.Shutdown();
}

bool PictureStore::ShuttingDown() {
    return changes_.ShuttingDown();
}

std::string PictureStore::CheckHealth() {
    return backend_->CheckHealth();
}

std::string PictureStore::Describe() const {
    return backend_->Describe();
}

std::string PictureStore::DescribeRepairs() const {
    return backend_->DescribeRepairs();
}

} // namespace glimmerly::service
