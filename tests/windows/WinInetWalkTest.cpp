// The URL cache enumeration over the system's real WinInet cache (Wine's in CI): what the platform
// answers, and what the probe-then-fetch walk of the harvest sees through WinInetSource.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <thread>

#include "WineUrlCache.h"
#include "cache/CacheEntryRecord.h"
#include "cache/UrlCacheEnumeration.h"
#include "cache/wininet/WinInetSource.h"
#include "memory/clsMemMgt.h"

namespace {

using wine_cache::RawEntry;

// One entry as the walk received it in its buffer.
struct WalkedEntry {
  CacheEntryRecord record;
  std::uint32_t probedSize;
  std::string url, localPath, headers, extension;
};

struct Walk {
  std::vector<WalkedEntry> entries;
  std::uint32_t largestProbe = 0;
};

// The harvest's walk: probe with no buffer, then fetch the probed size into an 8192-byte block,
// grown when an entry needs more; strings are read back through the block as the harvest does.
Walk WalkLikeTheHarvest() {
  Walk walk;
  clsMemMgt buffer;
  buffer.Allocate(8192);
  auto fetchInto = [&](std::uint32_t size) -> void* {
    if (size > static_cast<std::uint32_t>(buffer.Length())) buffer.Allocate(static_cast<std::int32_t>(size));
    return reinterpret_cast<void*>(buffer.Handle());
  };
  auto collect = [&](std::uint32_t size) {
    WalkedEntry e{};
    buffer.ReadFrom(reinterpret_cast<std::uintptr_t>(&e.record), sizeof e.record);
    e.probedSize = size;
    auto text = [&](std::uint32_t offset) {
      return offset ? buffer.ExtractString(buffer.Handle() + offset, static_cast<std::int32_t>(size - offset))
                    : std::string();
    };
    e.url = text(e.record.lpszSourceUrlName);
    e.localPath = text(e.record.lpszLocalFileName);
    e.headers = text(e.record.lpHeaderInfo);
    e.extension = text(e.record.lpszFileExtension);
    walk.entries.push_back(std::move(e));
  };

  std::uint32_t size = 0;
  FindFirstUrlCacheEntry(nullptr, nullptr, &size);
  if (size == 0) return walk;
  walk.largestProbe = size;
  CacheEnumHandle handle = FindFirstUrlCacheEntry(nullptr, fetchInto(size), &size);
  if (!handle) throw std::runtime_error("first fetch failed");
  collect(size);
  for (;;) {
    size = 0;
    FindNextUrlCacheEntry(handle, nullptr, &size);
    if (size == 0) break;
    walk.largestProbe = std::max(walk.largestProbe, size);
    if (!FindNextUrlCacheEntry(handle, fetchInto(size), &size)) throw std::runtime_error("next fetch failed");
    collect(size);
  }
  FindCloseUrlCache(handle);
  return walk;
}

const WalkedEntry* Find(const Walk& walk, const std::string& url) {
  for (const WalkedEntry& e : walk.entries) {
    if (e.url == url) return &e;
  }
  return nullptr;
}

class WinInetWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    wine_cache::EmptyUrlCache();
    SetUrlCache(std::make_shared<WinInetSource>());
  }
  void TearDown() override { SetUrlCache(nullptr); }
};

TEST_F(WinInetWalk, EmptyCacheEndsAtTheFirstProbe) {
  const wine_cache::RawWalk raw = wine_cache::ListRawEntries();
  EXPECT_FALSE(raw.firstProbeReturnedHandle);
  EXPECT_EQ(raw.firstProbeError, kErrorNoMoreItems);
  EXPECT_EQ(raw.firstProbeLength, 0u);

  std::uint32_t size = 0;
  EXPECT_EQ(FindFirstUrlCacheEntry(nullptr, nullptr, &size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(WalkLikeTheHarvest().entries.empty());
}

// What the walk relies on from the platform: a probe fails as "insufficient buffer" and reports the
// size, and the end is "no more items" with the length left at the 0 the walk set.
TEST_F(WinInetWalk, PlatformKeepsTheProbeContract) {
  wine_cache::AddCacheEntry("http://tavrin.test/contract/one.jpg", "jpg", wine_cache::MadeUpBytes(100, 1));
  wine_cache::AddCacheEntry("http://tavrin.test/contract/two.gif", "gif", wine_cache::MadeUpBytes(200, 2));
  const wine_cache::RawWalk raw = wine_cache::ListRawEntries();
  EXPECT_FALSE(raw.firstProbeReturnedHandle);
  EXPECT_EQ(raw.firstProbeError, kErrorInsufficientBuffer);
  EXPECT_GT(raw.firstProbeLength, 0u);
  ASSERT_EQ(raw.entries.size(), 2u);
  // The platform's record is 80 bytes with 32-bit pointers and 112 with 64-bit ones; ours keeps
  // the 32-bit layout whatever the build.
  EXPECT_EQ(raw.entries[0].structSize, sizeof(void*) == 8 ? 112u : 80u);
  EXPECT_EQ(raw.endError, kErrorNoMoreItems);
  EXPECT_EQ(raw.endLength, 0u);
}

TEST_F(WinInetWalk, SeesEveryEntryWithItsUrlFileSizeAndAccessTime) {
  const std::string root = wine_cache::PictureServerRoot();
  const std::uint64_t before = wine_cache::FileTimeNow();
  struct Made {
    std::string url, localPath, bytes;
  };
  std::vector<Made> made;
  for (const auto& [url, extension, size] :
       std::vector<std::tuple<std::string, std::string, std::size_t>>{{"http://tavrin.test/a/pic.jpg", "jpg", 30000},
                                                                      {"http://tavrin.test/b/pic.jpg", "jpg", 31000},
                                                                      {"http://tavrin.test/c/Photo.GIF", "GIF", 1},
                                                                      {"http://tavrin.test/d/movie.flv", "flv", 0}}) {
    const std::string bytes = wine_cache::MadeUpBytes(size, static_cast<unsigned>(made.size()));
    made.push_back({url, wine_cache::AddCacheEntry(url, extension, bytes), bytes});
  }
  // Entries that WinInet makes itself while fetching; the query must not break the name.
  for (const std::string path : {"/shop/cat.jpg?size=40000", "/shop/dog.png?size=25600&v=3"}) {
    const std::string url = root + path;
    made.push_back({url, "", wine_cache::FetchUrl(url)});
  }
  const std::uint64_t after = wine_cache::FileTimeNow();

  const Walk walk = WalkLikeTheHarvest();
  ASSERT_EQ(walk.entries.size(), made.size());
  for (const Made& m : made) {
    SCOPED_TRACE(m.url);
    const WalkedEntry* e = Find(walk, m.url);
    ASSERT_NE(e, nullptr);
    if (!m.localPath.empty()) {
      EXPECT_EQ(e->localPath, m.localPath);
    }
    // The local file holds exactly the bytes that were cached, and the size says so.
    EXPECT_EQ(wine_cache::ReadWholeFile(e->localPath), m.bytes);
    EXPECT_EQ(e->record.dwSizeLow, m.bytes.size());
    EXPECT_EQ(e->record.dwSizeHigh, 0u);
    EXPECT_GE(e->record.LastAccessTime.Value(), before);
    EXPECT_LE(e->record.LastAccessTime.Value(), after);
    EXPECT_EQ(e->record.dwStructSize, 80u);
    // The probe reports exactly the record and its strings.
    CacheEntry asPacked;
    asPacked.url = e->url;
    asPacked.localPath = e->localPath;
    asPacked.headers = e->headers;
    asPacked.extension = e->extension;
    EXPECT_EQ(e->probedSize, PackedEntrySize(asPacked));
  }
  // Cache file names count from [0] under Wine and from [1] on Windows, and WinInet's own HTTP
  // code gives them no extension under Wine, where Windows takes it from the address. Both keep
  // the name of the address's last segment without its query.
  const WalkedEntry* dog = Find(walk, root + "/shop/dog.png?size=25600&v=3");
  ASSERT_NE(dog, nullptr);
  const std::string dogName = dog->localPath.substr(dog->localPath.rfind('\\') + 1);
  EXPECT_EQ(dogName.rfind("dog[", 0), 0u) << dogName;
  EXPECT_EQ(dogName.find('?'), std::string::npos) << dogName;
}

// An entry whose headers make it larger than the 8192-byte receive buffer is still fetched whole,
// into a grown buffer, by the walk and by the source's own enumeration.
TEST_F(WinInetWalk, EntryLargerThanTheReceiveBufferArrivesWhole) {
  const std::string headers = "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(20000, 'p') + "\r\n\r\n";
  const std::string bytes = wine_cache::MadeUpBytes(30000, 7);
  wine_cache::AddCacheEntry("http://tavrin.test/small/before.jpg", "jpg", bytes);
  const std::string local = wine_cache::AddCacheEntry("http://tavrin.test/big/header.jpg", "jpg", bytes, headers);
  wine_cache::AddCacheEntry("http://tavrin.test/small/after.jpg", "jpg", bytes);

  const Walk walk = WalkLikeTheHarvest();
  EXPECT_GT(walk.largestProbe, 20000u);  // well over the 8192 bytes it started with
  ASSERT_EQ(walk.entries.size(), 3u);
  const WalkedEntry* big = Find(walk, "http://tavrin.test/big/header.jpg");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->localPath, local);
  EXPECT_EQ(big->headers, headers);
  EXPECT_EQ(big->record.dwHeaderInfoSize, headers.size());
  EXPECT_NE(Find(walk, "http://tavrin.test/small/after.jpg"), nullptr);
}

// Cookie entries (which Wine lists in a walk without a pattern, Windows not) and entries without a
// local file hold nothing to copy: the walk passes over them and goes on.
TEST_F(WinInetWalk, SkipsCookiesAndEntriesWithoutAFile) {
  ASSERT_TRUE(wine_cache::SetCookie("http://tavrin.test/", "session", "secret; expires=Sat, 01-Jan-2050 00:00:00 GMT"));
  wine_cache::AddEntryWithoutFile("http://tavrin.test/nofile");
  wine_cache::AddCacheEntry("http://tavrin.test/kept/pic.jpg", "jpg", wine_cache::MadeUpBytes(10, 3));

  const Walk walk = WalkLikeTheHarvest();
  ASSERT_EQ(walk.entries.size(), 1u);
  EXPECT_EQ(walk.entries[0].url, "http://tavrin.test/kept/pic.jpg");
}

// Fetching an address again replaces its entry: one entry, a new access time.
TEST_F(WinInetWalk, RefetchReplacesTheEntryAndItsAccessTime) {
  const std::string url = wine_cache::PictureServerRoot() + "/again/bird.gif?size=27000";
  wine_cache::FetchUrl(url);
  const Walk first = WalkLikeTheHarvest();
  ASSERT_EQ(first.entries.size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  wine_cache::FetchUrl(url, true);
  const Walk second = WalkLikeTheHarvest();
  ASSERT_EQ(second.entries.size(), 1u);
  EXPECT_EQ(second.entries[0].url, url);
  EXPECT_GE(second.entries[0].record.LastAccessTime.Value(),
            first.entries[0].record.LastAccessTime.Value() + 10'000'000u);
}

// Two enumerations open at once walk independently, each from the first entry.
TEST_F(WinInetWalk, EnumerationsAreIndependent) {
  for (int i = 0; i < 3; ++i) {
    wine_cache::AddCacheEntry("http://tavrin.test/many/" + std::to_string(i) + ".jpg", "jpg",
                              wine_cache::MadeUpBytes(10, static_cast<unsigned>(i)));
  }
  WinInetSource source;
  auto a = source.Open();
  auto b = source.Open();
  CacheEntry entry;
  std::vector<std::string> fromA, fromB;
  ASSERT_TRUE(a->Next(entry));
  fromA.push_back(entry.url);
  while (b->Next(entry)) fromB.push_back(entry.url);
  while (a->Next(entry)) fromA.push_back(entry.url);
  EXPECT_EQ(fromA.size(), 3u);
  EXPECT_EQ(fromA, fromB);
}

}  // namespace
