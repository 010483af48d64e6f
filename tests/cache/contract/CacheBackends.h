#pragma once
// One adapter per browser cache format for the contract suite: each writes a stored response in
// its format's real bytes (whole, part way through, or with what a copy checks spoilt), evicts it,
// and opens the format's source over its folder.
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/PathText.h"
#include "cache/chromium/blockfile/BlockfileCacheSource.h"
#include "cache/chromium/simple/ChromiumSimpleCacheSource.h"
#include "cache/chromium/sql/ChromiumSqlCacheSource.h"
#include "cache/firefox/FirefoxCacheSource.h"
#include "support/BlockfileFixtures.h"
#include "support/CacheFixtures.h"
#include "support/SqlCacheFixtures.h"
#include "support/TempDir.h"

// A response as every format stores it.
struct StoredResponse {
  std::string url;
  std::string body;  // as stored (still coded when the headers name a coding)
  std::vector<std::string> headers{"HTTP/1.1 200 OK", "Content-Type: image/jpeg"};
  bool addContentLength = true;  // adds "Content-Length: <body size>"
  bool truncated = false;        // the browser knows the response was cut short
};

class CacheBackend {
 public:
  // How far the browser has got when a walk meets an entry it is still writing.
  enum class Stage { kPartOfTheBody, kAllButTheEnd };

  virtual ~CacheBackend() = default;
  // True for a format read through snapshots that the copies read too: a change made behind the
  // source's back reaches a copy only once a walk took a new snapshot, and until then the entry
  // copies as it was listed.
  static constexpr bool kCopiesFromSnapshot = false;
  // Writes the entry whole, as a new response replacing any of the same URL.
  virtual void Write(const StoredResponse& response) = 0;
  virtual void WriteUnfinished(const StoredResponse& response, Stage stage) = 0;
  // Spoils what a copy checks (a body byte behind its checksum or chunk hash, the entry's closed
  // state) under the file stamps the last Write left, so that only the copy can tell.
  virtual void Spoil(const StoredResponse& response) = 0;
  virtual void Evict(const std::string& url) = 0;
  virtual std::unique_ptr<BrowserCacheSource> Open(FolderWatchOptions watch = {}) const = 0;
};

// The formats with a file per entry. Every write leaves the file a modification time of its own.
class FilePerEntryBackend : public CacheBackend {
 public:
  void Write(const StoredResponse& response) override {
    std::filesystem::remove(PathOf(response.url));  // a new file, as the browser writes it
    stamps_[response.url] = nextStamp_++;
    Put(response.url, BytesOf(response), stamps_[response.url]);
  }
  void WriteUnfinished(const StoredResponse& response, Stage stage) override {
    Put(response.url, UnfinishedBytesOf(response, stage), nextStamp_++);
  }
  void Spoil(const StoredResponse& response) override {
    std::string bytes = BytesOf(response);
    bytes[BodyOffset(response) + response.body.size() / 2] ^= 1;
    Put(response.url, bytes, stamps_.at(response.url));
  }
  void Evict(const std::string& url) override { std::filesystem::remove(PathOf(url)); }

 protected:
  virtual std::string PathOf(const std::string& url) const = 0;
  virtual std::string BytesOf(const StoredResponse& response) const = 0;
  virtual std::string UnfinishedBytesOf(const StoredResponse& response, Stage stage) const = 0;
  virtual std::size_t BodyOffset(const StoredResponse& response) const = 0;

 private:
  void Put(const std::string& url, const std::string& bytes, std::int64_t stamp) {
    fixtures::WriteBytes(PathOf(url), bytes);
    fixtures::SetModificationTime(PathOf(url), stamp);
  }
  std::int64_t nextStamp_ = 1700000000;
  std::map<std::string, std::int64_t> stamps_;  // by URL
};

class ChromiumSimpleBackend : public FilePerEntryBackend {
 public:
  explicit ChromiumSimpleBackend(const TempDir& temp) : folder_(temp.Sub("Cache_Data")) {
    fixtures::WriteChromiumIndexMarker(folder_);
  }
  std::unique_ptr<BrowserCacheSource> Open(FolderWatchOptions watch = {}) const override {
    return std::make_unique<ChromiumSimpleCacheSource>(folder_, watch);
  }

 protected:
  static fixtures::ChromiumEntry Entry(const StoredResponse& response) {
    return {.key = "1/0/" + response.url,
            .body = response.body,
            .headers = response.headers,
            .addContentLength = response.addContentLength,
            .truncatedFlag = response.truncated};
  }
  std::string PathOf(const std::string& url) const override {
    return JoinPath(folder_, fixtures::ChromiumHashName("1/0/" + url) + "_0");
  }
  std::string BytesOf(const StoredResponse& response) const override {
    return fixtures::ChromiumEntryBytes(Entry(response));
  }
  std::string UnfinishedBytesOf(const StoredResponse& response, Stage stage) const override {
    const std::string bytes = BytesOf(response);
    return stage == Stage::kPartOfTheBody ? bytes.substr(0, BodyOffset(response) + response.body.size() * 2 / 5)
                                          : bytes.substr(0, bytes.size() - 10);  // the end record not yet whole
  }
  std::size_t BodyOffset(const StoredResponse& response) const override { return 24 + 4 + response.url.size(); }

 private:
  std::string folder_;
};

class FirefoxBackend : public FilePerEntryBackend {
 public:
  explicit FirefoxBackend(const TempDir& temp) : folder_(temp.Sub("cache2")) { temp.Sub("cache2/entries"); }
  std::unique_ptr<BrowserCacheSource> Open(FolderWatchOptions watch = {}) const override {
    return std::make_unique<FirefoxCacheSource>(folder_, watch);
  }

 protected:
  // Firefox keeps no mark of a cut response: it is a body shorter than its Content-Length.
  static fixtures::FirefoxEntry Entry(const StoredResponse& response) {
    fixtures::FirefoxEntry entry{
        .key = "O^partitionKey=%28http%2Ch%29,:" + response.url, .body = response.body, .responseHead = ""};
    for (const std::string& line : response.headers) entry.responseHead += line + "\r\n";
    entry.addContentLength = response.addContentLength;
    if (response.truncated && !response.body.empty()) {
      entry.addContentLength = false;
      if (response.addContentLength)
        entry.responseHead += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
      entry.body.pop_back();
    }
    return entry;
  }
  std::string PathOf(const std::string& url) const override {
    return JoinPath(JoinPath(folder_, "entries"), fixtures::FirefoxFileName("O^partitionKey=%28http%2Ch%29,:" + url));
  }
  std::string BytesOf(const StoredResponse& response) const override {
    return fixtures::FirefoxEntryBytes(Entry(response));
  }
  // The body goes first; eight 0xFF bytes hold the place of the metadata written last.
  std::string UnfinishedBytesOf(const StoredResponse& response, Stage stage) const override {
    const std::string& body = response.body;
    return (stage == Stage::kPartOfTheBody ? body.substr(0, body.size() / 2) : body) + std::string(8, '\xff');
  }
  std::size_t BodyOffset(const StoredResponse&) const override { return 0; }

 private:
  std::string folder_;
};

// One index and shared block files, written again from the entries on every change in the order
// they were first written, so an entry keeps its addresses while the entries before it keep their sizes.
class BlockfileBackend : public CacheBackend {
 public:
  explicit BlockfileBackend(const TempDir& temp) : folder_(temp.Sub("Cache_Data")) {}
  void Write(const StoredResponse& response) override {
    Put(response);
    WriteAll();
  }
  void WriteUnfinished(const StoredResponse& response, Stage stage) override {
    const std::string key = Put(response).key;
    const fixtures::BlockfileCache cache = WriteAll();
    const auto [name, offset] = cache.Locate(cache.At(key).streams[stage == Stage::kPartOfTheBody ? 1 : 0]);
    std::string bytes = fixtures::ReadBytes(JoinPath(folder_, name));
    if (stage == Stage::kPartOfTheBody) {  // the body's file of its own holds part of it so far
      if (!name.starts_with("f_")) throw std::logic_error("the body is not in a file of its own");
      bytes.resize(response.body.size() * 2 / 5);
    } else {  // the response head, written last, is not there yet
      bytes.replace(offset, 64, std::string(64, '\0'));
    }
    fixtures::WriteBytes(JoinPath(folder_, name), bytes);
  }
  void Spoil(const StoredResponse& response) override {
    Put(response).dirty = 2;  // opened again by the browser
    WriteAll();
  }
  void Evict(const std::string& url) override {
    std::erase_if(entries_, [&](const fixtures::BlockfileEntry& entry) { return entry.key.ends_with(" " + url); });
    WriteAll();
  }
  std::unique_ptr<BrowserCacheSource> Open(FolderWatchOptions watch = {}) const override {
    return std::make_unique<BlockfileCacheSource>(folder_, watch);
  }

 private:
  fixtures::BlockfileEntry& Put(const StoredResponse& response) {
    fixtures::BlockfileEntry entry{.key = "1/0/_dk_http://h http://h " + response.url,
                                   .body = response.body,
                                   .headers = response.headers,
                                   .addContentLength = response.addContentLength,
                                   .truncatedFlag = response.truncated};
    const auto existing =
        std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.key == entry.key; });
    if (existing == entries_.end()) return entries_.emplace_back(std::move(entry));
    entry.created = existing->created + 1000000;  // a replaced response is a new entry to the browser
    *existing = std::move(entry);
    return *existing;
  }
  fixtures::BlockfileCache WriteAll() const {
    fixtures::BlockfileCache cache(1024);
    for (const fixtures::BlockfileEntry& entry : entries_) cache.Add(entry);
    cache.Write(folder_);
    return cache;
  }

  std::string folder_;
  std::vector<fixtures::BlockfileEntry> entries_;
};

// Rows in SQLite shards, written as the browser writes them: a response rewritten keeps its row and
// gets a new head (a new response time), so its checksum changes. Wal: the rows stay in "-wal".
template <bool Wal>
class SqlBackend : public CacheBackend {
 public:
  static constexpr bool kCopiesFromSnapshot = Wal;
  explicit SqlBackend(const TempDir& temp) : writer_(temp.Sub("Cache_Data"), 3, Wal) {}
  void Write(const StoredResponse& response) override { Writer().Put(Entry(response, true)); }
  void WriteUnfinished(const StoredResponse& response, Stage stage) override {
    fixtures::SqlEntry entry = Entry(response, true);
    entry.head.clear();  // the head is written when the entry is closed
    if (stage == Stage::kPartOfTheBody)
      entry.blobs = fixtures::SqlPieces(response.body.substr(0, response.body.size() * 2 / 5));
    Writer().Put(entry);
  }
  // A body byte changed behind its checksum, the row as the last Write left it.
  void Spoil(const StoredResponse& response) override { writer_.SpoilBody(Key(response.url)); }
  void Evict(const std::string& url) override { writer_.Remove(Key(url)); }
  std::unique_ptr<BrowserCacheSource> Open(FolderWatchOptions watch = {}) const override {
    return std::make_unique<ChromiumSqlCacheSource>(writer_.Folder(), watch);
  }

 private:
  static std::string Key(const std::string& url) { return "1/0/_dk_http://h http://h " + url; }
  fixtures::SqlEntry Entry(const StoredResponse& response, bool anew) {
    std::vector<std::string> headers = response.headers;
    if (response.addContentLength) headers.push_back("Content-Length: " + std::to_string(response.body.size()));
    if (anew) ++responseTime_;
    fixtures::SqlEntry entry{.key = Key(response.url),
                             .head = fixtures::ChromiumResponseInfo(headers, response.truncated, responseTime_),
                             .blobs = fixtures::SqlPieces(response.body, 200000),
                             .lastUsed = responseTime_};
    return entry;
  }
  // The writer, started again when the test replaced its folder.
  fixtures::SqlCacheWriter& Writer() {
    if (!std::filesystem::exists(JoinPath(writer_.Folder(), "sqldb0"))) writer_.Recreate();
    return writer_;
  }
  fixtures::SqlCacheWriter writer_;
  std::int64_t responseTime_ = 13300000000000000;
};
using SqlBackendRollback = SqlBackend<false>;
using SqlBackendWal = SqlBackend<true>;
