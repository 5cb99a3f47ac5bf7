// The rules of the picture store, over a storage back end in memory: naming, sessions, the
// checks of a rename, and the waiting for changes.

#include <algorithm>
#include <future>
#include <set>
#include <thread>

#include "service/rules/change_signal.h"

#include <gtest/gtest.h>

#include "service/rules/names.h"
#include "service/rules/picture_store.h"
#include "tests/service/rules/fake_storage.h"
#include "tests/support/cp1252_literal.h"

namespace glimmerly::service::test {
namespace {

using namespace std::chrono_literals;
using namespace glimmerly::testing::literals;

constexpr std::string_view kOwner = "the uploader's key";

class PictureStoreTest : public ::testing::Test {
protected:
    PictureStoreTest() {
        auto storage = std::make_unique<FakeStorage>();
        fake_ = storage.get();
        store_ = std::make_unique<PictureStore>(std::move(storage), [this] { return now_; });
    }
    PictureStore::UploadResult Upload(std::string_view typed, std::string_view session = "") {
        return store_->AddPicture(jpeg_, {4, 3}, typed, session, 1h, kOwner);
    }
    std::int64_t Ms(PictureStore::Clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    }

    PictureStore::Clock::time_point now_ = std::chrono::sys_days{std::chrono::March / 3 / 2027};
    FakeStorage* fake_ = nullptr;
    std::unique_ptr<PictureStore> store_;
    const std::string jpeg_ = "the picture's bytes";
};

TEST_F(PictureStoreTest, ATakenNameGetsTheFirstFreeNumber) {
    for (const char* taken : {"plan", "plan-2", "plan-4", "planung", "plan_b"}) {
        fake_->state.Add(taken);
    }
    EXPECT_EQ(Upload("Plan").name, "plan-3");
    EXPECT_EQ(Upload("plan").name, "plan-5");
    EXPECT_EQ(Upload("Plan B").name, "plan_b-2");
    // A name that ends in a number already counts on from there, not from the base before it.
    EXPECT_EQ(Upload("Plan-2").name, "plan-2-2");
    auto greeting = Upload("Grüße aus Köln"_cp1252);
    EXPECT_EQ(greeting.name, "gruesse_aus_koeln");
    EXPECT_EQ(store_->FindPicture(greeting.name)->title, "Grüße aus Köln");
    EXPECT_EQ(fake_->staged.size(), 5u) << "every stored upload keeps its bytes";
}

TEST_F(PictureStoreTest, WithoutAUsableNameAPictureGetsARandomOne) {
    std::set<std::string> names;
    for (const std::string& typed : {""_cp1252, "!!"_cp1252, "…"_cp1252}) {
        auto r = Upload(typed);
        ASSERT_EQ(r.status, PictureStore::UploadStatus::Stored);
        EXPECT_EQ(r.name.size(), 8u);
        EXPECT_TRUE(IsPictureName(r.name)) << r.name;
        names.insert(r.name);
        // The title keeps what was typed, or the name when nothing was.
        EXPECT_EQ(store_->FindPicture(r.name)->title,
                  typed.empty() ? r.name : cp1252::ToUtf8(typed));
    }
    EXPECT_EQ(names.size(), 3u);
    // A random name that is taken already is drawn again.
    std::string first;
    fake_->beforeInsert = [&](const NewPicture& p, FakeStorage::State& s) {
        if (first.empty()) {
            first = p.name;
            s.Add(p.name);
        }
    };
    auto r = Upload("");
    EXPECT_EQ(r.status, PictureStore::UploadStatus::Stored);
    EXPECT_NE(r.name, first);
}

// Two instances on one database: a name of the series may be taken by another instance (or have
// been typed as such) before this one gets to it; it is passed, once and for good.
TEST_F(PictureStoreTest, ANameTakenMeanwhileByAnotherInstanceMovesOnToTheNext) {
    fake_->state.Add("plan");
    int inserts = 0;
    fake_->beforeInsert = [&](const NewPicture& p, FakeStorage::State& s) {
        if (++inserts <= 3 && p.name != "plan") {
            s.Add(p.name);
        }
    };
    auto r = Upload("Plan");
    EXPECT_EQ(r.status, PictureStore::UploadStatus::Stored);
    EXPECT_EQ(r.name, "plan-4");
    EXPECT_EQ(inserts, 4);
    EXPECT_EQ(store_->FindPicture("plan-4")->seq, 1);
    EXPECT_EQ(store_->LastSeq(), 1);
    inserts = 0;
    fake_->beforeInsert = [&](const NewPicture&, FakeStorage::State&) { ++inserts; };
    EXPECT_EQ(Upload("Plan").name, "plan-5");
    EXPECT_EQ(inserts, 1) << "the next upload looked at the passed names again";

    // When the names keep being taken, the upload gives up: nothing of it stays (neither its
    // bytes nor its session's extension nor a change) but how far the series got.
    store_->OpenSession("s", 1h);
    const std::int64_t expires = *fake_->SessionExpiry("s");
    now_ += 10min;
    inserts = 0;
    fake_->beforeInsert = [&](const NewPicture& p, FakeStorage::State& s) {
        ++inserts;
        s.Add(p.name);
    };
    auto lost = Upload("Plan", "s");
    EXPECT_EQ(lost.status, PictureStore::UploadStatus::Failed);
    EXPECT_EQ(inserts, 10000) << "the names one upload passes at most";
    EXPECT_EQ(fake_->staged.size(), 2u) << "the failed upload's bytes were not taken back";
    EXPECT_EQ(*fake_->SessionExpiry("s"), expires);
    EXPECT_EQ(store_->LastSeq(), 2);
    fake_->beforeInsert = nullptr;
    EXPECT_EQ(Upload("Plan", "s").name, "plan-" + std::to_string(6 + 10000));

    // Random names are drawn again, a bounded number of times.
    inserts = 0;
    fake_->beforeInsert = [&](const NewPicture& p, FakeStorage::State& s) {
        ++inserts;
        s.Add(p.name);
    };
    EXPECT_EQ(Upload("").status, PictureStore::UploadStatus::Failed);
    EXPECT_EQ(inserts, 50) << "the random names one upload draws at most";
}

TEST_F(PictureStoreTest, AnUploadGoesOnlyIntoAnOpenSessionAndExtendsIt) {
    EXPECT_EQ(Upload("a", "nie").status, PictureStore::UploadStatus::WrongSession);
    EXPECT_EQ(fake_->stagings, 0) << "bytes were staged for a session that does not exist";

    store_->OpenSession("s", 1h);
    now_ += 50min;
    ASSERT_EQ(Upload("a", "s").status, PictureStore::UploadStatus::Stored);
    EXPECT_EQ(*fake_->SessionExpiry("s"), Ms(now_ + 1h));
    EXPECT_EQ(store_->SessionPictures("s").at(0).created, Ms(now_));

    now_ += 1h; // the expiry itself is past
    EXPECT_EQ(store_->GetSession("s"), PictureStore::SessionState::Expired);
    EXPECT_EQ(Upload("b", "s").status, PictureStore::UploadStatus::WrongSession);

    // The session runs out while the bytes are being staged: refused, bytes taken back.
    store_->OpenSession("t", 1h);
    fake_->onStage = [&](FakeStorage::State& s) { s.sessions["t"] = Ms(now_); };
    EXPECT_EQ(Upload("c", "t").status, PictureStore::UploadStatus::WrongSession);
    EXPECT_EQ(fake_->staged.size(), 1u);
    EXPECT_FALSE(store_->FindPicture("c"));
}

// Sessions are deleted only once they expired longer ago than the retention, by the store's
// clock.
TEST_F(PictureStoreTest, ExpiredSessionsGoOnlyAfterTheRetention) {
    store_->OpenSession("alt", 1h);
    now_ += 1h + 30min; // expired half an hour ago
    EXPECT_EQ(store_->PurgeSessions(30min), 0);
    EXPECT_EQ(store_->GetSession("alt"), PictureStore::SessionState::Expired);
    now_ += 1ms;
    EXPECT_EQ(store_->PurgeSessions(30min), 1);
    EXPECT_EQ(store_->GetSession("alt"), PictureStore::SessionState::Unknown);
}

// A live stream takes a place of its session's and of its client's; one beyond either limit is
// refused until another leaves.
TEST_F(PictureStoreTest, LiveStreamsHaveLimitedPlaces) {
    ChangeSignal& changes = store_->Changes();
    EXPECT_TRUE(changes.Admit("s", "1.2.3.4", 2, 3));
    EXPECT_TRUE(changes.Admit("s", "1.2.3.5", 2, 3));
    EXPECT_FALSE(changes.Admit("s", "1.2.3.6", 2, 3)) << "the session's places are taken";
    EXPECT_TRUE(changes.Admit("t", "1.2.3.4", 2, 3));
    EXPECT_TRUE(changes.Admit("u", "1.2.3.4", 2, 3));
    EXPECT_FALSE(changes.Admit("v", "1.2.3.4", 2, 3)) << "the address's places are taken";
    changes.Leave("s", "1.2.3.4");
    EXPECT_TRUE(changes.Admit("s", "1.2.3.6", 2, 3));
    EXPECT_TRUE(changes.Admit("v", "1.2.3.4", 2, 3));
}

TEST_F(PictureStoreTest, AStorageFailureFailsTheUploadAndTakesBackItsBytes) {
    fake_->stageFails = true;
    EXPECT_EQ(Upload("a").status, PictureStore::UploadStatus::Failed);
    EXPECT_EQ(fake_->transactions, 0);
    fake_->stageFails = false;
    fake_->beforeInsert = [](const NewPicture&, FakeStorage::State&) {
        throw StorageFailed("disk full");
    };
    EXPECT_EQ(Upload("a").status, PictureStore::UploadStatus::Failed);
    EXPECT_TRUE(fake_->staged.empty());
    EXPECT_FALSE(store_->FindPicture("a"));
    // An unreachable database is no failed upload: the caller answers it apart.
    fake_->beforeInsert = [](const NewPicture&, FakeStorage::State&) {
        throw StoreUnavailable("gone");
    };
    EXPECT_THROW(Upload("a"), StoreUnavailable);
    EXPECT_TRUE(fake_->staged.empty());
}

TEST_F(PictureStoreTest, ARenameChecksThePictureAndTheNameBeforeItChangesAnything) {
    Upload("Plan", "");
    Upload("Notiz", "");
    const std::int64_t before = store_->LastSeq();
    std::string renamed = "unchanged";
    using Status = PictureStore::RenameStatus;
    EXPECT_EQ(store_->Rename("fehlt", "Neu", renamed, kOwner), Status::UnknownPicture);
    EXPECT_EQ(store_->Rename("../plan", "Neu", renamed, kOwner), Status::UnknownPicture);
    EXPECT_EQ(store_->Rename("fehlt", "!!", renamed, kOwner), Status::UnknownPicture);
    EXPECT_EQ(store_->Rename("plan", "!!", renamed, kOwner), Status::InvalidName);
    EXPECT_EQ(store_->Rename("plan", "", renamed, kOwner), Status::InvalidName);
    // Over 200 typed bytes is refused even though a name could be made of them.
    EXPECT_EQ(store_->Rename("plan", std::string(201, 'x'), renamed, kOwner), Status::InvalidName);
    EXPECT_EQ(store_->Rename("plan", "NOTIZ", renamed, kOwner), Status::NameTaken);
    // Only with the uploader's key, whatever else is wrong with the rename.
    for (std::string_view other : {std::string_view(), std::string_view("another key")}) {
        EXPECT_EQ(store_->Rename("plan", "Neu", renamed, other), Status::NotOwner);
        EXPECT_EQ(store_->Rename("plan", "!!", renamed, other), Status::NotOwner);
    }
    fake_->state.Add("ohne_besitzer"); // from before pictures had owners
    EXPECT_EQ(store_->Rename("ohne_besitzer", "Neu", renamed, ""), Status::NotOwner);
    EXPECT_EQ(renamed, "unchanged");
    EXPECT_EQ(store_->FindPicture("plan")->title, "Plan");
    EXPECT_EQ(store_->LastSeq(), before);

    // The picture's own name is no conflict: only the title changes, and the page hears of it.
    EXPECT_EQ(store_->Rename("plan", "PLAN", renamed, kOwner), Status::Renamed);
    EXPECT_EQ(renamed, "plan");
    EXPECT_EQ(store_->FindPicture("plan")->title, "PLAN");
    EXPECT_EQ(store_->FindPicture("plan")->seq, before + 1);
    EXPECT_EQ(store_->Rename("plan", std::string(200, 'x'), renamed, kOwner), Status::Renamed);
    EXPECT_EQ(renamed, std::string(kMaxPictureNameLength, 'x'));
    EXPECT_EQ(store_->LastSeq(), before + 2);
}

// A waiter that is not woken returns what it had seen when its time is up, so each wait below
// shows by its result whether it was woken.
TEST_F(PictureStoreTest, WaitersWakeForChangesHereAndOnOtherInstances) {
    std::int64_t seen = store_->LastSeq();
    auto waiting = std::async(std::launch::async, [&] { return store_->WaitForChange(seen, 30s); });
    fake_->state.counter = 7; // committed on another instance
    fake_->Publish();
    fake_->changed(7);
    EXPECT_EQ(waiting.get(), 7);
    // A late notice of an older change moves nothing back.
    fake_->changed(3);
    EXPECT_EQ(store_->WaitForChange(5, 0ms), 7);

    waiting = std::async(std::launch::async, [&] { return store_->WaitForChange(7, 30s); });
    Upload("eins");
    EXPECT_EQ(waiting.get(), 8);

    // Stopping wakes the waiters for good; this one would otherwise sit out its 30 s.
    waiting = std::async(std::launch::async, [&] { return store_->WaitForChange(8, 30s); });
    store_->Shutdown();
    EXPECT_EQ(waiting.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 8);
    EXPECT_TRUE(store_->ShuttingDown());
}

// Many live pages on one instance: each change is read from storage once and handed to every
// stream of its session, in change order; no stream reads storage itself.
TEST_F(PictureStoreTest, StreamsShareOneReadOfEachChange) {
    constexpr int kStreams = 24;
    constexpr int kSessions = 3;
    constexpr int kUploads = 9;
    for (int s = 0; s < kSessions; ++s) {
        store_->OpenSession("s" + std::to_string(s), 1h);
    }
    const std::int64_t start = store_->LastSeq();
    std::vector<std::vector<std::string>> names(kStreams);
    std::vector<std::vector<std::int64_t>> ids(kStreams);
    std::vector<std::thread> streams;
    for (int i = 0; i < kStreams; ++i) {
        streams.emplace_back([&, i] {
            const std::string session = "s" + std::to_string(i % kSessions);
            std::int64_t after = start;
            std::uint64_t epoch = 0;
            const auto giveUp = std::chrono::steady_clock::now() + 20s;
            while (names[i].size() < kUploads / kSessions &&
                   std::chrono::steady_clock::now() < giveUp) {
                ChangeBatch batch = store_->Changes().Next(
                    session, after, epoch, std::chrono::steady_clock::now() + 200ms);
                for (const StoredPicture& p : batch.pictures) {
                    names[i].push_back(p.name);
                    ids[i].push_back(p.seq);
                }
                after = batch.upto;
            }
        });
    }
    for (int u = 0; u < kUploads; ++u) {
        Upload("bild" + std::to_string(u), "s" + std::to_string(u % kSessions));
    }
    for (auto& t : streams) {
        t.join();
    }
    for (int i = 0; i < kStreams; ++i) {
        const int s = i % kSessions;
        EXPECT_EQ(names[i], (std::vector<std::string>{"bild" + std::to_string(s),
                                                      "bild" + std::to_string(s + kSessions),
                                                      "bild" + std::to_string(s + 2 * kSessions)}))
            << "stream " << i;
        EXPECT_TRUE(std::is_sorted(ids[i].begin(), ids[i].end()));
    }
    EXPECT_LE(fake_->changeReads.load(), kUploads);
    EXPECT_EQ(fake_->sessionReads.load(), 0);
}

// A page made before an older state came back (or from a change this instance has not read yet)
// has a position beyond the counter: its stream starts with the whole session, and then gets
// what comes after the counter, instead of waiting for the counter to pass its position.
TEST_F(PictureStoreTest, AStreamFromBeyondTheCounterStartsWithTheSessionAgain) {
    store_->OpenSession("s", 1h);
    Upload("vorher", "s");
    const std::int64_t counter = store_->LastSeq();
    ASSERT_EQ(store_->Changes().Wait(counter - 1, 2s), counter);
    std::uint64_t epoch = 0;
    ChangeBatch first =
        store_->Changes().Next("s", counter + 50, epoch, std::chrono::steady_clock::now() + 2s);
    EXPECT_EQ(first.kind, ChangeBatch::Kind::Resync);
    EXPECT_EQ(first.upto, counter);
    Upload("nachher", "s");
    ChangeBatch next =
        store_->Changes().Next("s", first.upto, epoch, std::chrono::steady_clock::now() + 2s);
    ASSERT_EQ(next.kind, ChangeBatch::Kind::Changes);
    ASSERT_EQ(next.pictures.size(), 1u);
    EXPECT_EQ(next.pictures[0].name, "nachher");
}

} // namespace
} // namespace glimmerly::service::test
