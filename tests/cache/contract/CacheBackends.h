#pragma once
// One adapter per browser cache format for the contract suite: each writes a stored response in
// its format's real bytes (whole, part way through, or with what a copy checks spoilt), evicts it,
// and opens the format's source over its folder.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cache/browser/BrowserCacheSource.h"
#include "support/BlockfileFixtures.h"
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
  // Writes the entry whole, as a new response replacing any of the same URL; every write leaves
  // the entry's files a stamp of their own.
  virtual void Write(const StoredResponse& response) = 0;
  virtual void WriteUnfinished(const StoredResponse& response, Stage stage) = 0;
  // Spoils what a copy checks (a body byte behind its checksum or chunk hash, the entry's closed
  // state) under the file stamps the last Write left, so that only the copy can tell.
  virtual void Spoil(const StoredResponse& response) = 0;
  virtual void Evict(const std::string& url) = 0;
  virtual std::unique_ptr<BrowserCacheSource> Open() const = 0;
};

class ChromiumSimpleBackend : public CacheBackend {
 public:
  explicit ChromiumSimpleBackend(const TempDir& temp);
  void Write(const StoredResponse& response) override;
  void WriteUnfinished(const StoredResponse& response, Stage stage) override;
  void Spoil(const StoredResponse& response) override;
  void Evict(const std::string& url) override;
  std::unique_ptr<BrowserCacheSource> Open() const override;

 private:
  std::string folder_;
  std::int64_t nextStamp_ = 1700000000;
  std::map<std::string, std::int64_t> stamps_;  // by URL
};

class FirefoxBackend : public CacheBackend {
 public:
  explicit FirefoxBackend(const TempDir& temp);
  void Write(const StoredResponse& response) override;
  void WriteUnfinished(const StoredResponse& response, Stage stage) override;
  void Spoil(const StoredResponse& response) override;
  void Evict(const std::string& url) override;
  std::unique_ptr<BrowserCacheSource> Open() const override;

 private:
  std::string folder_;
  std::int64_t nextStamp_ = 1700000000;
  std::map<std::string, std::int64_t> stamps_;
};

// The whole cache is written again from its entries on every change, in the order they were first
// written, so an entry keeps its addresses while the entries before it keep their sizes.
class BlockfileBackend : public CacheBackend {
 public:
  explicit BlockfileBackend(const TempDir& temp);
  void Write(const StoredResponse& response) override;
  void WriteUnfinished(const StoredResponse& response, Stage stage) override;
  void Spoil(const StoredResponse& response) override;
  void Evict(const std::string& url) override;
  std::unique_ptr<BrowserCacheSource> Open() const override;

 private:
  fixtures::BlockfileEntry& Put(const StoredResponse& response);
  fixtures::BlockfileCache WriteAll() const;

  std::string folder_;
  std::vector<fixtures::BlockfileEntry> entries_;
};
