// The walk over the URL cache: every entry once per pass, an entry's failure ends only that entry,
// other errors end the pass quietly, and the receive buffer is never written past its end.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "HarvestFixture.h"
#include "base/NumberedError.h"
#include "base/PathText.h"
#include "cache/CacheEntryRecord.h"
#include "harvest/FailedEntries.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class CacheWalk : public HarvestFixture {};

TEST_F(CacheWalk, EnumerationFollowsTheProbeThenFetchContract) {
  Add(Entry("http://a/1.jpg", "1.jpg", "1"));
  std::uint32_t length = 0;
  EXPECT_EQ(FindFirstUrlCacheEntry(nullptr, nullptr, &length), nullptr);
  EXPECT_EQ(LastUrlCacheError(), kErrorInsufficientBuffer);
  const std::uint32_t needed = length;
  EXPECT_EQ(needed, PackedEntrySize(Entry("http://a/1.jpg", "1.jpg", "1")));

  std::vector<char> buffer(needed);
  CacheEnumHandle handle = FindFirstUrlCacheEntry(nullptr, buffer.data(), &length);
  ASSERT_NE(handle, nullptr);
  CacheEntryRecord record;
  std::memcpy(&record, buffer.data(), sizeof record);
  EXPECT_EQ(record.dwStructSize, 80u);
  EXPECT_STREQ(buffer.data() + record.lpszSourceUrlName, "http://a/1.jpg");
  EXPECT_EQ(record.dwSizeLow, 1u);

  length = 0;
  EXPECT_FALSE(FindNextUrlCacheEntry(handle, nullptr, &length));
  EXPECT_EQ(LastUrlCacheError(), kErrorNoMoreItems);
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(FindCloseUrlCache(handle));
}

TEST_F(CacheWalk, AnEmptyCacheEndsThePassAtOnce) {
  Pass();
  EXPECT_THAT(Harvested(), IsEmpty());
  EXPECT_EQ(LastPassStatistics().entries, 0u);
  EXPECT_FALSE(LastPassStatistics().endedByError);
  session->UseUrlCache(nullptr);  // no cache at all behaves the same
  Pass();
  EXPECT_FALSE(LastPassStatistics().endedByError);
}

// A session made inside another is the one passes use while it lives: its cache, its observer and
// its counts; once it ends, the outer session's cache and counts are as they were.
TEST_F(CacheWalk, TheSessionMadeLastIsTheOnePassesUse) {
  Add(Entry("http://a/outer.jpg", "outer.jpg", "outer"));
  Pass();
  ASSERT_EQ(LastPassStatistics().copied, 1u);
  {
    auto inner = std::make_shared<ListCacheSource>();
    inner->Add(Entry("http://a/inner.jpg", "inner.jpg", "inner"));
    inner->Add(Entry("http://a/second.jpg", "second.jpg", "second"));
    int told = 0;
    CaptureSession nested({.urlCache = inner, .observer = [&](const CopyOutcome&) { ++told; }});
    Pass();
    EXPECT_EQ(LastPassStatistics().copied, 2u);
    EXPECT_EQ(told, 2);
  }
  EXPECT_EQ(LastPassStatistics().copied, 1u);
  EXPECT_EQ(GetUrlCache(), source);
  EXPECT_THAT(Harvested(), ElementsAre("inner.jpg", "outer.jpg", "second.jpg"));
}

// A failure of one entry ends only that entry: it is reported once, the pass goes on, and the
// entry is left unkeyed for later. Unchanged, it waits a few passes before it is tried again;
// changed, it is tried at once. A failure of the destination as a whole still ends the pass.
TEST_F(CacheWalk, AnEntryThatFailsEndsOnlyItselfAndIsTriedAgainLater) {
  std::vector<CacheEntry> entries;
  for (int i = 1; i <= 5; ++i) {
    entries.push_back(Entry("http://a/" + std::to_string(i) + ".jpg", std::to_string(i) + ".jpg", "data"));
    if (i == 3 || i == 4) std::filesystem::remove(entries.back().localPath);  // vanished from the cache
    Add(entries.back());
  }
  Pass();
  EXPECT_THAT(Harvested(), ElementsAre("1.jpg", "2.jpg", "5.jpg"));
  const PassStatistics& stats = LastPassStatistics();
  EXPECT_FALSE(stats.endedByError);
  EXPECT_EQ(stats.failed, 2u);
  ASSERT_EQ(stats.failedEntries.size(), 2u);
  EXPECT_EQ(stats.failedEntries[0].path, cacheDir / "3.jpg");
#ifdef _WIN32
  const std::string gone = SystemErrorText(ERROR_FILE_NOT_FOUND);
#else
  const std::string gone = SystemErrorText(ENOENT);
#endif
  EXPECT_EQ(stats.failedEntries[0].reason, gone);
  EXPECT_EQ(stats.failedEntries[0].kind, PassErrorKind::SourceUnreadable);
  EXPECT_EQ(stats.error, "cannot read " + (cacheDir / "3.jpg") + ": " + gone);
  EXPECT_FALSE(CollectionHasKey(HarvestedKeys.get(), "Chttp://a/3.jpg"));

  // Back in the cache, but the entries say nothing changed: held back, and not reported again.
  WriteFile(cacheDir / "3.jpg", "data");
  WriteFile(cacheDir / "4.jpg", "data");
  Pass();
  EXPECT_EQ(LastPassStatistics().heldBack, 2u);
  EXPECT_TRUE(LastPassStatistics().failedEntries.empty());
  EXPECT_TRUE(LastPassStatistics().error.empty());
  // The fourth is used again, so its entry changed: tried at once. The third waits its turn.
  entries[3].lastAccess = FileTimeOf(DateValue::FromSeconds(start.Seconds() + 9));
  session->UseUrlCache(std::make_shared<ListCacheSource>(entries));
  Pass();
  EXPECT_THAT(Harvested(), ElementsAre("1.jpg", "2.jpg", "4.jpg", "5.jpg"));
  EXPECT_EQ(LastPassStatistics().heldBack, 1u);
  for (std::uint64_t pass = 3; pass <= FailedEntries::kPassesBetweenTries; ++pass) Pass();
  EXPECT_EQ(Harvested().size(), 4u);
  Pass();
  EXPECT_THAT(Harvested(), ElementsAre("1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"));
  EXPECT_EQ(LastPassStatistics().copied, 1u);

  // The destination gone: the pass ends at the first entry it would copy, as before.
  HarvestedKeys = std::make_unique<KeyedCollection>();
  std::filesystem::remove_all(dest);
  Pass();
  EXPECT_TRUE(LastPassStatistics().endedByError);
  EXPECT_EQ(LastPassStatistics().errorKind, PassErrorKind::FolderMissing);
  EXPECT_EQ(LastPassStatistics().entries, 1u);
  EXPECT_NE(CacheEntrySize, 0u);
}

TEST_F(CacheWalk, GrowsTheBufferForAnEntryLargerThanIt) {
  CacheEntry big = Entry("http://a/big.jpg?" + std::string(20000, 'q'), "big.jpg", "big");
  big.headers = std::string(9000, 'h');
  Add(Entry("http://a/before.jpg", "before.jpg", "b"));
  Add(big);
  Add(Entry("http://a/after.jpg", "after.jpg", "a"));
  Pass();
  EXPECT_THAT(Harvested(), ElementsAre("after.jpg", "before.jpg", "big.jpg"));
  EXPECT_GE(CacheBuffer->Length(), static_cast<std::int32_t>(PackedEntrySize(big)));
}

// A pass belongs to the capture that started it: Stop, or Stop and Start, while the second file is
// copied ends it there, and the new capture's collection gets nothing from it.
TEST_F(CacheWalk, StopOrRestartDuringAPassEndsItWithoutTouchingTheKeys) {
  for (int i = 1; i <= 4; ++i) Add(Entry("http://a/" + std::to_string(i) + ".jpg", std::to_string(i) + ".jpg", "d"));
  for (const bool restart : {false, true}) {
    SCOPED_TRACE(restart);
    std::filesystem::remove_all(dest);
    std::filesystem::create_directories(dest);
    HarvestedKeys = std::make_unique<KeyedCollection>();
    int copies = 0;
    SetPendingEventsHook([&] {
      if (++copies != 2) return;
      HarvestedKeys.reset();
      if (restart) HarvestedKeys = std::make_unique<KeyedCollection>();
    });
    Pass();
    EXPECT_THAT(Harvested(), ElementsAre("1.jpg", "2.jpg"));
    EXPECT_TRUE(LastPassStatistics().endedByStop);
    EXPECT_FALSE(LastPassStatistics().endedByError);
    EXPECT_EQ(HarvestedKeys != nullptr, restart);
    if (restart) {
      EXPECT_EQ(HarvestedKeys->Count(), 0u);
    }
  }
}

TEST_F(CacheWalk, ReportsWhatItCopiedAndWhatWasPresent) {
  WriteFile(JoinPath(dest, "dup.jpg"), "same");
  Add(Entry("http://a/dup.jpg", "dup.jpg", "same"));
  Add(Entry("http://a/new.jpg", "new.jpg", "new"));
  WriteFile(JoinPath(dest, "taken.jpg"), "another picture");
  Add(Entry("http://a/taken.jpg", "taken.jpg", "taken"));
  std::vector<CopyOutcome> events;
  SetHarvestObserver([&](const CopyOutcome& e) { events.push_back(e); });
  Pass();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].kind, CopyOutcome::Kind::AlreadyPresent);
  EXPECT_EQ(events[1].target, JoinPath(dest, "new.jpg"));
  EXPECT_EQ(events[1].kind, CopyOutcome::Kind::Copied);
  EXPECT_EQ(events[2].target, JoinPath(dest, "taken_1.jpg"));
  EXPECT_EQ(events[2].kind, CopyOutcome::Kind::CopiedUnderNumber);
  EXPECT_EQ(LastPassStatistics().copied, 2u);
  EXPECT_EQ(LastPassStatistics().present, 1u);
  // The key of a file found present is kept, so it is not compared again.
  EXPECT_TRUE(CollectionHasKey(HarvestedKeys.get(), "Chttp://a/dup.jpg"));
}

TEST_F(CacheWalk, ReadsTheFileFromItsPathAsStored) {
  // Names come from the lower-cased path; the file itself lives under the path's real case.
  std::filesystem::create_directories(cacheDir / "Cache_Data");
  Add(Entry("http://a/x", "Cache_Data/Photo.JPG", "real"));
  Pass();
  EXPECT_THAT(Harvested(), ElementsAre("photo.jpg"));
}

}  // namespace

namespace {

// A cache whose entries come slowly, as a large cache on a slow disk does.
class SlowSource : public UrlCacheSource {
 public:
  explicit SlowSource(int entries) : entries_(entries) {}
  std::unique_ptr<CacheEntryCursor> Open() override {
    struct Cursor : CacheEntryCursor {
      int left;
      explicit Cursor(int n) : left(n) {}
      bool Next(CacheEntry& entry) override {
        if (left-- <= 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        entry = CacheEntry{};
        entry.url = "http://a/" + std::to_string(left) + ".png";
        entry.localPath = "/nowhere/" + std::to_string(left) + ".png";
        return true;
      }
    };
    return std::make_unique<Cursor>(entries_);
  }

 private:
  int entries_;
};

TEST_F(CacheWalk, ALongPassLetsTheWindowRunEvenWhenItCopiesNothing) {
  session->UseUrlCache(std::make_shared<SlowSource>(100));  // at least 200 ms of walking
  int events = 0;
  SetPendingEventsHook([&] { ++events; });
  Pass();
  EXPECT_EQ(LastPassStatistics().entries, 100u);
  EXPECT_EQ(LastPassStatistics().copied, 0u);
  EXPECT_GE(events, 4);

  // Stop then Start at one of those event points: the old pass walks no further.
  SetPendingEventsHook([] { HarvestedKeys = std::make_unique<KeyedCollection>(); });
  Pass();
  EXPECT_TRUE(LastPassStatistics().endedByStop);
  EXPECT_LT(LastPassStatistics().entries, 100u);
}

}  // namespace
