// What every browser cache source promises the harvest, one body run over each format: only
// complete, whole responses are listed; an entry still being written shows up once it is complete;
// a copy that fails its check is refused and the entry kept out until it is written again; coded
// bodies are sized and copied decoded; a walk reads again only what changed; and a source kept
// current by change notifications lists exactly what one that walks the folder every time lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <type_traits>
#include <vector>

#include "CacheBackends.h"
#include "base/BackgroundWork.h"
#include "base/PathText.h"
#include "support/CacheFixtures.h"
#include "support/SourceReading.h"

using fixtures::PictureBytes;

namespace {

template <class Backend>
class CacheSourceContract : public ::testing::Test {
 protected:
  static StoredResponse Picture(const std::string& url, std::size_t size, std::uint32_t seed) {
    StoredResponse response;
    response.url = url;
    response.body = PictureBytes(size, seed);
    return response;
  }
  // Lists through one source kept across the test, as the harvest keeps it across passes.
  std::map<std::string, CacheEntry> List() {
    if (!source_) source_ = backend_.Open();
    return ListByUrl(*source_);
  }
  const WalkStatistics& LastWalk() const { return source_->LastWalk(); }

  TempDir temp_;
  Backend backend_{temp_};
  std::unique_ptr<BrowserCacheSource> source_;
};

struct FormatName {
  template <class Backend>
  static std::string GetName(int) {
    if constexpr (std::is_same_v<Backend, ChromiumSimpleBackend>) return "ChromiumSimple";
    if constexpr (std::is_same_v<Backend, BlockfileBackend>) return "Blockfile";
    if constexpr (std::is_same_v<Backend, SqlBackendRollback>) return "ChromiumSql";
    if constexpr (std::is_same_v<Backend, SqlBackendWal>) return "ChromiumSqlWal";
    return "Firefox";
  }
};

using Formats =
    ::testing::Types<ChromiumSimpleBackend, BlockfileBackend, FirefoxBackend, SqlBackendRollback, SqlBackendWal>;
TYPED_TEST_SUITE(CacheSourceContract, Formats, FormatName);

}  // namespace

TYPED_TEST(CacheSourceContract, ListsCompleteEntriesAndCopiesTheirBodies) {
  const StoredResponse jpeg = this->Picture("http://h/a.jpg", 3000, 1);
  StoredResponse png = this->Picture("http://h/b.png", 20000, 2);
  png.headers = {"HTTP/1.1 200 OK", "content-type: image/png"};
  const StoredResponse unnamed = this->Picture("https://h/img/12345", 300000, 3);  // named by its type
  const std::vector<StoredResponse> all{jpeg, png, unnamed};
  for (const StoredResponse& response : all) this->backend_.Write(response);

  const auto listed = this->List();
  ASSERT_EQ(listed.size(), 3u);
  const CacheEntry& a = listed.at(jpeg.url);
  EXPECT_TRUE(a.localPath.ends_with(kPathSeparator + std::string("a.jpg"))) << a.localPath;
  EXPECT_EQ(a.size, 3000u);
  EXPECT_EQ(a.extension, "jpg");
  EXPECT_EQ(listed.at(png.url).extension, "png");
  EXPECT_TRUE(listed.at(unnamed.url).localPath.ends_with(kPathSeparator + std::string("12345.jpg")));
  for (const StoredResponse& response : all) {
    const CacheEntry& entry = listed.at(response.url);
    EXPECT_EQ(FileSystemObject().GetFile(entry.localPath).Size, response.body.size()) << response.url;
    EXPECT_EQ(CopyOut(entry.localPath), response.body) << response.url;
  }
  // A name the entry does not have copies nothing.
  EXPECT_FALSE(CopyOut(a.localPath.substr(0, a.localPath.size() - 5) + "other.jpg"));
}

TYPED_TEST(CacheSourceContract, LeavesOutWhatIsNotAWholeResponse) {
  this->backend_.Write(this->Picture("http://h/good.jpg", 900, 1));
  StoredResponse notFound = this->Picture("http://h/missing.jpg", 300, 2);
  notFound.headers = {"HTTP/1.1 404 Not Found", "Content-Type: text/html"};
  StoredResponse empty = this->Picture("http://h/empty.jpg", 0, 3);
  StoredResponse truncated = this->Picture("http://h/truncated.jpg", 800, 4);
  truncated.truncated = true;
  StoredResponse shortBody = this->Picture("http://h/short.jpg", 800, 5);
  shortBody.addContentLength = false;
  shortBody.headers.push_back("Content-Length: 801");
  StoredResponse partial = this->Picture("http://h/part.jpg", 800, 6);
  partial.headers = {"HTTP/1.1 206 Partial Content", "Content-Range: bytes 0-799/5000"};
  StoredResponse wholeRange = this->Picture("http://h/whole.webm", 800, 7);
  wholeRange.headers = {"HTTP/1.1 206 Partial Content", "Content-Type: video/webm", "Content-Range: bytes 0-799/800"};
  StoredResponse unknownCoding = this->Picture("http://h/z.jpg", 400, 8);
  unknownCoding.headers.push_back("Content-Encoding: zstd");
  StoredResponse notWeb = this->Picture("chrome-extension://abc/x.png", 400, 9);
  for (const auto* response :
       {&notFound, &empty, &truncated, &shortBody, &partial, &wholeRange, &unknownCoding, &notWeb}) {
    this->backend_.Write(*response);
  }

  const auto listed = this->List();
  EXPECT_EQ(listed.size(), 2u);
  EXPECT_TRUE(listed.count("http://h/good.jpg"));
  EXPECT_TRUE(listed.count("http://h/whole.webm"));  // a range that is the whole resource
}

TYPED_TEST(CacheSourceContract, EntryBeingWrittenIsListedOnceComplete) {
  const StoredResponse slow = this->Picture("http://h/slow.jpg", 600000, 1);
  this->backend_.WriteUnfinished(slow, CacheBackend::Stage::kPartOfTheBody);
  EXPECT_TRUE(this->List().empty());
  EXPECT_TRUE(this->List().empty());
  this->backend_.WriteUnfinished(slow, CacheBackend::Stage::kAllButTheEnd);
  EXPECT_TRUE(this->List().empty());

  this->backend_.Write(slow);
  const auto listed = this->List();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(CopyOut(listed.at(slow.url).localPath), slow.body);
}

TYPED_TEST(CacheSourceContract, FailedCheckRefusesTheCopyAndKeepsTheEntryOutUntilRewritten) {
  const StoredResponse picture = this->Picture("http://h/bad.jpg", 600000, 1);
  this->backend_.Write(this->Picture("http://h/other.jpg", 5000, 2));
  this->backend_.Write(picture);
  const std::string path = this->List().at(picture.url).localPath;

  this->backend_.Spoil(picture);
  if constexpr (TypeParam::kCopiesFromSnapshot) this->List();
  EXPECT_FALSE(CopyOut(path));
  EXPECT_FALSE(FileSystemObject().FileExists(path));
  auto listed = this->List();
  EXPECT_EQ(listed.count(picture.url), 0u);
  EXPECT_EQ(listed.size(), 1u);

  this->backend_.Write(picture);
  listed = this->List();
  ASSERT_EQ(listed.count(picture.url), 1u);
  EXPECT_EQ(CopyOut(listed.at(picture.url).localPath), picture.body);

  // Kept current in the background: the listing yielded right after the failed copy, before any
  // walk, already leaves the entry out, and so do the ones after it until it is written again.
  this->source_.reset();
  auto worker = std::make_shared<BackgroundWorker>(2);
  std::shared_ptr<BrowserCacheSource> background = this->backend_.Open();
  BrowserCacheSource::KeepCurrentOn(background, worker, std::chrono::hours(1));
  // The first update runs as the source is kept current; one asked for while it ran follows it.
  // Waiting twice lets both end, so that no update runs while the entry is spoiled below.
  background->WaitUntilCurrent();
  background->WaitUntilCurrent();
  const std::string listedPath = ListByUrl(*background).at(picture.url).localPath;
  this->backend_.Spoil(picture);
  if constexpr (TypeParam::kCopiesFromSnapshot) background->WaitUntilCurrent();
  EXPECT_FALSE(CopyOut(listedPath));
  // Spoiled with its stamps kept, so only the failure at copy time tells; a blockfile entry is
  // spoiled by rewriting its record, a change that the next update reads.
  if constexpr (!std::is_same_v<TypeParam, BlockfileBackend>) {
    EXPECT_EQ(ListByUrl(*background).count(picture.url), 0u);
  }
  background->WaitUntilCurrent();
  EXPECT_EQ(ListByUrl(*background).count(picture.url), 0u);
  EXPECT_EQ(ListByUrl(*background).size(), 1u);
  this->backend_.Write(picture);
  background->WaitUntilCurrent();
  listed = ListByUrl(*background);
  ASSERT_EQ(listed.count(picture.url), 1u);
  EXPECT_EQ(CopyOut(listed.at(picture.url).localPath), picture.body);

  // Once the threads have ended, each Open reads the cache itself again, and whole.
  worker.reset();
  this->backend_.Write(this->Picture("http://h/late.jpg", 5000, 3));
  EXPECT_EQ(ListByUrl(*background).size(), 3u);
}

TYPED_TEST(CacheSourceContract, CodedBodiesAreSizedAndCopiedDecoded) {
  const std::string picture = PictureBytes(300000, 7) + std::string(300000, 'x');
  struct Coded {
    const char* name;
    const char* coding;
    std::string stored;
    const char* type = "image/bmp";
  };
  const std::string gz = fixtures::Gzip(picture);
  const std::string head(1000, 'h');
  // Two members: the trailer states only the second one's size. Cut off: a trailer that states a
  // size the body could well have.
  const std::string members = fixtures::Gzip(head) + gz, cut = gz.substr(0, gz.size() / 2) + gz.substr(gz.size() - 8);
  const std::vector<Coded> coded{{"g.bmp", "gzip", gz},
                                 {"d.bmp", "deflate", fixtures::Deflate(picture, true)},
                                 {"b.bmp", "br", fixtures::Brotli(picture)},
                                 {"broken.bmp", "gzip", gz.substr(0, 500)},
                                 {"members.bmp", "gzip", members},
                                 {"cut.bmp", "gzip", cut},
                                 {"members.js", "gzip", members, "text/javascript; charset=utf-8"},
                                 {"cut.js", "gzip", cut, "application/javascript"},
                                 // More stored than one member of the stated size could take.
                                 {"large.css", "gzip", gz + fixtures::Gzip(head), "Text/CSS"}};
  for (const Coded& c : coded) {
    StoredResponse response = this->Picture(std::string("http://h/") + c.name, 0, 0);
    response.body = c.stored;
    response.headers = {"HTTP/1.1 200 OK", std::string("Content-Type: ") + c.type,
                        std::string("Content-Encoding: ") + c.coding};
    this->backend_.Write(response);
  }
  // A picture is decoded to learn its size: what does not decode whole is left out.
  auto listed = this->List();
  ASSERT_EQ(listed.size(), 7u);
  EXPECT_EQ(listed.at("http://h/large.css").size, picture.size() + head.size());
  for (const char* name : {"g.bmp", "d.bmp", "b.bmp"}) {
    const CacheEntry& entry = listed.at(std::string("http://h/") + name);
    EXPECT_EQ(entry.size, picture.size()) << name;
    EXPECT_EQ(FileSystemObject().GetFile(entry.localPath).Size, picture.size()) << name;
    EXPECT_EQ(CopyOut(entry.localPath), picture) << name;
  }
  EXPECT_EQ(listed.at("http://h/members.bmp").size, head.size() + picture.size());
  EXPECT_EQ(CopyOut(listed.at("http://h/members.bmp").localPath), head + picture);

  // A script is sized by its trailer, and found out by the copy, which decodes it: no copy of a
  // size that does not hold is made. The one that decodes whole is listed again with the size it
  // decoded to and copies then; the cut one stays out, as a body that fails a check does.
  const CacheEntry script = listed.at("http://h/members.js");
  EXPECT_EQ(script.size, picture.size());
  EXPECT_FALSE(CopyOut(script.localPath));
  EXPECT_FALSE(CopyOut(listed.at("http://h/cut.js").localPath));
  listed = this->List();
  EXPECT_EQ(listed.count("http://h/cut.js"), 0u);
  ASSERT_EQ(listed.count("http://h/members.js"), 1u);
  const CacheEntry& resized = listed.at("http://h/members.js");
  EXPECT_EQ(resized.size, head.size() + picture.size());
  EXPECT_EQ(FileSystemObject().GetFile(resized.localPath).Size, head.size() + picture.size());
  EXPECT_EQ(CopyOut(resized.localPath), head + picture);
  EXPECT_EQ(this->List().at("http://h/members.js").size, head.size() + picture.size());
}

TYPED_TEST(CacheSourceContract, MemoRereadsOnlyChangedEntriesAndForgetsGoneOnes) {
  std::vector<StoredResponse> pictures;
  for (std::uint32_t i = 0; i < 4; ++i) {
    pictures.push_back(this->Picture("http://h/" + std::to_string(i) + ".jpg", 1000, i));
    this->backend_.Write(pictures.back());
  }
  EXPECT_EQ(this->List().size(), 4u);
  EXPECT_EQ(this->LastWalk().parsed, 4u);
  EXPECT_EQ(this->List().size(), 4u);
  EXPECT_EQ(this->LastWalk().parsed, 0u);

  // A new response after it was listed: the path listed before no longer copies (it would not be
  // what was listed) until the next walk reads the entry again.
  const std::string listedPath = this->List().at(pictures[3].url).localPath;
  pictures[3].body = PictureBytes(1500, 99);
  this->backend_.Write(pictures[3]);
  if constexpr (!TypeParam::kCopiesFromSnapshot) {
    EXPECT_FALSE(CopyOut(listedPath));
  }
  auto listed = this->List();
  EXPECT_EQ(this->LastWalk().parsed, 1u);
  EXPECT_EQ(CopyOut(listed.at(pictures[3].url).localPath), pictures[3].body);

  // Evicted: gone from the listing and from the virtual files, nothing else read again.
  const std::string gonePath = listed.at(pictures[3].url).localPath;
  this->backend_.Evict(pictures[3].url);
  if constexpr (!TypeParam::kCopiesFromSnapshot) {
    EXPECT_FALSE(CopyOut(gonePath));
  }
  listed = this->List();
  EXPECT_EQ(listed.size(), 3u);
  EXPECT_EQ(this->LastWalk().parsed, 0u);
  EXPECT_FALSE(FileSystemObject().FileExists(gonePath));
}

// Two sources over the same changing cache, one told of changes by the system (with a queue so
// small that a burst overflows it) and one that lists the folder at every walk: after every change
// both list the same entries, and the entries copy as they now are.
TYPED_TEST(CacheSourceContract, NotifiedListingEqualsTheWalkedOneThroughEveryChange) {
  auto notified = this->backend_.Open({.mostNames = 3});
  auto walking = this->backend_.Open({.notify = false});
  // A third, notified too, kept current on background threads that look for changes far less often
  // than the test makes them: only waiting until it is current brings each change in.
  auto worker = std::make_shared<BackgroundWorker>(2);
  std::shared_ptr<BrowserCacheSource> background = this->backend_.Open({.mostNames = 3});
  BrowserCacheSource::KeepCurrentOn(background, worker, std::chrono::hours(1));
  std::size_t notifiedParsed = 0;  // by the notified source's looks in the last step
  auto expectSame = [&](const char* step) {
    SCOPED_TRACE(step);
    auto fromNotified = ListByUrl(*notified);
    notifiedParsed = notified->LastWalk().parsed;
    const auto fromWalking = ListByUrl(*walking);
    background->WaitUntilCurrent();
    auto fromBackground = ListByUrl(*background);
#ifdef _WIN32
    // Windows hands directory changes over asynchronously (Wine through its server, later still):
    // a change made just before a look may come in at the next one. It must come in, though.
    const auto sameAsWalked = [&](const std::map<std::string, CacheEntry>& listed) {
      return listed.size() == fromWalking.size() &&
             std::all_of(fromWalking.begin(), fromWalking.end(), [&](const auto& walked) {
               const auto found = listed.find(walked.first);
               return found != listed.end() && found->second.size == walked.second.size &&
                      found->second.lastAccess.Value() == walked.second.lastAccess.Value();
             });
    };
    for (int look = 0; look < 100 && !(sameAsWalked(fromNotified) && sameAsWalked(fromBackground)); ++look) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      fromNotified = ListByUrl(*notified);
      notifiedParsed += notified->LastWalk().parsed;
      background->WaitUntilCurrent();
      fromBackground = ListByUrl(*background);
    }
#endif
    EXPECT_EQ(fromNotified.size(), fromWalking.size());
    EXPECT_EQ(fromBackground.size(), fromWalking.size());
    EXPECT_EQ(notified->LastWalk().files, walking->LastWalk().files);
    EXPECT_EQ(background->LastWalk().files, walking->LastWalk().files);
    for (const auto& [url, entry] : fromWalking) {
      for (const auto* listed : {&fromNotified, &fromBackground}) {
        const auto found = listed->find(url);
        if (found == listed->end()) {
          ADD_FAILURE() << "not listed: " << url << (listed == &fromBackground ? " (background)" : "");
          continue;
        }
        const CacheEntry& other = found->second;
        EXPECT_EQ(other.size, entry.size) << url;
        EXPECT_EQ(other.lastAccess.Value(), entry.lastAccess.Value()) << url;
        EXPECT_EQ(CopyOut(other.localPath), CopyOut(entry.localPath)) << url;
      }
    }
    return fromNotified;
  };
  std::vector<StoredResponse> pictures;
  for (std::uint32_t i = 0; i < 4; ++i) {
    pictures.push_back(this->Picture("http://h/" + std::to_string(i) + ".jpg", 1000, i));
    this->backend_.Write(pictures.back());
  }
  EXPECT_EQ(expectSame("first").size(), 4u);
  expectSame("nothing changed");
#if defined(__linux__) || defined(_WIN32)
  EXPECT_TRUE(notified->LastWalk().reused);
#endif
  EXPECT_FALSE(walking->LastWalk().reused);

  pictures[1].body = PictureBytes(1000, 41);  // the same size, written in place
  this->backend_.Write(pictures[1]);
  EXPECT_EQ(CopyOut(expectSame("rewritten").at(pictures[1].url).localPath), pictures[1].body);

  for (std::uint32_t i = 4; i < 10; ++i) {  // more changes than the watch keeps: listed anew
    pictures.push_back(this->Picture("http://h/" + std::to_string(i) + ".jpg", 1000, i));
    this->backend_.Write(pictures.back());
  }
  EXPECT_EQ(expectSame("burst").size(), 10u);
  EXPECT_EQ(notifiedParsed, 6u);  // listed whole, yet only the new entries read
  for (std::size_t i : {0, 4, 5}) this->backend_.Evict(pictures[i].url);
  EXPECT_EQ(expectSame("evicted").size(), 7u);
  // A cursor opened before a change and still held while the source takes it in lists the entries
  // as they were: the update copies what it changes, and the cursor keeps the listing it began.
  auto held = notified->Open();
  CacheEntry first;
  ASSERT_TRUE(held->Next(first));
  pictures[6].body = PictureBytes(1200, 46);
  this->backend_.Write(pictures[6]);
  EXPECT_EQ(CopyOut(expectSame("rewritten after evictions").at(pictures[6].url).localPath), pictures[6].body);
  std::map<std::string, std::uint64_t> heldSizes{{first.url, first.size}};
  for (CacheEntry entry; held->Next(entry);) heldSizes[entry.url] = entry.size;
  EXPECT_EQ(heldSizes.size(), 7u);
  EXPECT_EQ(heldSizes[pictures[6].url], 1000u);
  held.reset();
  pictures[7].body = PictureBytes(1300, 47);  // and once no cursor holds it
  this->backend_.Write(pictures[7]);
  EXPECT_EQ(expectSame("rewritten once the cursor is gone").at(pictures[7].url).size, 1300u);

  // Under a settled context a whole enumeration settles all but one entry; the later ones yield
  // that one and what changed since, also over two updates between them, and nothing else where
  // the source takes changes in by themselves.
  const auto settledPass = [&](std::set<std::string> unsettled = {}) {
    auto cursor = notified->Open();
    cursor->UseSettled(9);
    std::set<std::string> urls;
    for (CacheEntry entry; cursor->Next(entry);) {
      urls.insert(entry.url);
      if (!unsettled.count(entry.url)) cursor->Settle();
    }
    return urls;
  };
  constexpr bool kUpdatesInPlace =
      std::is_same_v<TypeParam, ChromiumSimpleBackend> || std::is_same_v<TypeParam, FirefoxBackend>;
  const auto expectYielded = [&](const std::set<std::string>& yielded, const std::set<std::string>& changed) {
    for (const std::string& url : changed) EXPECT_TRUE(yielded.count(url)) << url;
    if (kUpdatesInPlace) {
      EXPECT_EQ(yielded, changed);
    }
  };
  EXPECT_EQ(settledPass({pictures[2].url}).size(), 7u);
  pictures[8].body = PictureBytes(1000, 48);
  this->backend_.Write(pictures[8]);
  expectYielded(settledPass({pictures[2].url}), {pictures[2].url, pictures[8].url});
  pictures[9].body = PictureBytes(1000, 49);
  this->backend_.Write(pictures[9]);
  notified->Open();                   // takes the change in, enumerating nothing
  this->backend_.Write(pictures[4]);  // back after it went
  expectYielded(settledPass(), {pictures[2].url, pictures[4].url, pictures[9].url});
  expectYielded(settledPass(), {});
  this->backend_.Evict(pictures[4].url);
  EXPECT_EQ(expectSame("settled").size(), 7u);

  // The cache folder replaced by a new one while the watch was on the old.
  const std::filesystem::path folder = notified->Folder();
  const bool perEntryFolder = std::filesystem::exists(folder / "entries");
  std::filesystem::rename(folder, folder.string() + ".old");
  std::filesystem::create_directories(perEntryFolder ? folder / "entries" : folder);
  this->backend_.Write(pictures[2]);
  const auto replaced = expectSame("replaced");
  EXPECT_TRUE(replaced.count(pictures[2].url));
  this->backend_.Write(pictures[3]);
  const auto before = expectSame("after the replacement");
  EXPECT_TRUE(before.count(pictures[3].url));

  // Many entries coming two at a time, each pair taken in by itself (the listing grows past its
  // first index), then most of them going three at a time (it is numbered anew as they go).
  std::vector<StoredResponse> many;
  for (std::uint32_t i = 0; i < 48; ++i) {
    many.push_back(this->Picture("http://m/" + std::to_string(i) + ".jpg", 600, 100 + i));
    this->backend_.Write(many.back());
    if (i % 2 == 1) ListByUrl(*notified);
  }
  EXPECT_EQ(expectSame("many came").size(), before.size() + 48);
  for (std::size_t i = 0; i < 36; ++i) {
    this->backend_.Evict(many[i].url);
    if (i % 3 == 2) ListByUrl(*notified);
  }
  EXPECT_EQ(expectSame("most went").size(), before.size() + 12);
}
