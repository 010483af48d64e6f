#include "CacheBackends.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "base/PathText.h"
#include "cache/blockfile/BlockfileCacheSource.h"
#include "cache/chromium/ChromiumSimpleCacheSource.h"
#include "cache/firefox/FirefoxCacheSource.h"
#include "support/CacheFixtures.h"

using namespace fixtures;

namespace {

ChromiumEntry AsChromium(const StoredResponse& response) {
  ChromiumEntry entry;
  entry.key = "1/0/" + response.url;
  entry.body = response.body;
  entry.headers = response.headers;
  entry.addContentLength = response.addContentLength;
  entry.truncatedFlag = response.truncated;
  return entry;
}

// Firefox keeps no mark of a cut response: it is a body shorter than its Content-Length.
FirefoxEntry AsFirefox(const StoredResponse& response) {
  FirefoxEntry entry;
  entry.key = "O^partitionKey=%28http%2Ch%29,:" + response.url;
  entry.body = response.body;
  entry.responseHead.clear();
  for (const std::string& line : response.headers) entry.responseHead += line + "\r\n";
  entry.addContentLength = response.addContentLength;
  if (response.truncated && !response.body.empty()) {
    entry.addContentLength = false;
    if (response.addContentLength) entry.responseHead += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    entry.body.pop_back();
  }
  return entry;
}

}  // namespace

// ---- Chromium simple cache: a file per entry ----

ChromiumSimpleBackend::ChromiumSimpleBackend(const TempDir& temp) : folder_(temp.Sub("Cache_Data")) {
  WriteChromiumIndexMarker(folder_);
}

void ChromiumSimpleBackend::Write(const StoredResponse& response) {
  const ChromiumEntry entry = AsChromium(response);
  std::filesystem::remove(JoinPath(folder_, ChromiumHashName(entry.key) + "_0"));  // a new file, as the browser writes it
  stamps_[response.url] = nextStamp_++;
  SetModificationTime(WriteChromiumEntry(folder_, entry), stamps_[response.url]);
}

void ChromiumSimpleBackend::WriteUnfinished(const StoredResponse& response, Stage stage) {
  const ChromiumEntry entry = AsChromium(response);
  const std::string bytes = ChromiumEntryBytes(entry);
  const std::size_t length = stage == Stage::kPartOfTheBody ? 24 + entry.key.size() + entry.body.size() * 2 / 5
                                                            : bytes.size() - 10;  // the end record not yet whole
  WriteBytes(JoinPath(folder_, ChromiumHashName(entry.key) + "_0"), bytes.substr(0, length));
  SetModificationTime(JoinPath(folder_, ChromiumHashName(entry.key) + "_0"), nextStamp_++);
}

void ChromiumSimpleBackend::Spoil(const StoredResponse& response) {
  // A body byte changed behind the stream's CRC.
  const ChromiumEntry entry = AsChromium(response);
  std::string bytes = ChromiumEntryBytes(entry);
  bytes[24 + entry.key.size() + entry.body.size() / 2] ^= 1;
  const std::string path = JoinPath(folder_, ChromiumHashName(entry.key) + "_0");
  WriteBytes(path, bytes);
  SetModificationTime(path, stamps_.at(response.url));
}

void ChromiumSimpleBackend::Evict(const std::string& url) {
  std::filesystem::remove(JoinPath(folder_, ChromiumHashName("1/0/" + url) + "_0"));
}

std::unique_ptr<BrowserCacheSource> ChromiumSimpleBackend::Open() const {
  return std::make_unique<ChromiumSimpleCacheSource>(folder_);
}

// ---- Firefox cache2: a file per entry, metadata after the body ----

FirefoxBackend::FirefoxBackend(const TempDir& temp) : folder_(temp.Sub("cache2")) { temp.Sub("cache2/entries"); }

void FirefoxBackend::Write(const StoredResponse& response) {
  const FirefoxEntry entry = AsFirefox(response);
  std::filesystem::remove(JoinPath(JoinPath(folder_, "entries"), FirefoxFileName(entry.key)));
  stamps_[response.url] = nextStamp_++;
  SetModificationTime(WriteFirefoxEntry(folder_, entry), stamps_[response.url]);
}

void FirefoxBackend::WriteUnfinished(const StoredResponse& response, Stage stage) {
  // The body goes first; eight 0xFF bytes hold the place of the metadata written last.
  const FirefoxEntry entry = AsFirefox(response);
  const std::string body = stage == Stage::kPartOfTheBody ? entry.body.substr(0, entry.body.size() / 2) : entry.body;
  const std::string path = JoinPath(JoinPath(folder_, "entries"), FirefoxFileName(entry.key));
  WriteBytes(path, body + std::string(8, '\xff'));
  SetModificationTime(path, nextStamp_++);
}

void FirefoxBackend::Spoil(const StoredResponse& response) {
  // A body byte changed behind its chunk's hash (the body comes first in the file).
  const FirefoxEntry entry = AsFirefox(response);
  std::string bytes = FirefoxEntryBytes(entry);
  bytes[entry.body.size() / 2] ^= 1;
  const std::string path = JoinPath(JoinPath(folder_, "entries"), FirefoxFileName(entry.key));
  WriteBytes(path, bytes);
  SetModificationTime(path, stamps_.at(response.url));
}

void FirefoxBackend::Evict(const std::string& url) {
  std::filesystem::remove(JoinPath(JoinPath(folder_, "entries"), FirefoxFileName("O^partitionKey=%28http%2Ch%29,:" + url)));
}

std::unique_ptr<BrowserCacheSource> FirefoxBackend::Open() const { return std::make_unique<FirefoxCacheSource>(folder_); }

// ---- Chromium blockfile: one index and shared block files ----

BlockfileBackend::BlockfileBackend(const TempDir& temp) : folder_(temp.Sub("Cache_Data")) {}

BlockfileEntry& BlockfileBackend::Put(const StoredResponse& response) {
  BlockfileEntry entry;
  entry.key = "1/0/_dk_http://h http://h " + response.url;
  entry.body = response.body;
  entry.headers = response.headers;
  entry.addContentLength = response.addContentLength;
  entry.truncatedFlag = response.truncated;
  const auto existing = std::find_if(entries_.begin(), entries_.end(), [&](const BlockfileEntry& e) { return e.key == entry.key; });
  if (existing == entries_.end()) return entries_.emplace_back(std::move(entry));
  entry.created = existing->created + 1000000;  // a replaced response is a new entry to the browser
  *existing = std::move(entry);
  return *existing;
}

BlockfileCache BlockfileBackend::WriteAll() const {
  BlockfileCache cache(1024);
  for (const BlockfileEntry& entry : entries_) cache.Add(entry);
  cache.Write(folder_);
  return cache;
}

void BlockfileBackend::Write(const StoredResponse& response) {
  Put(response);
  WriteAll();
}

void BlockfileBackend::WriteUnfinished(const StoredResponse& response, Stage stage) {
  const std::string key = Put(response).key;
  const BlockfileCache cache = WriteAll();
  if (stage == Stage::kPartOfTheBody) {  // the body's file of its own holds part of it so far
    const auto [name, offset] = cache.Locate(cache.At(key).streams[1]);
    if (!name.starts_with("f_")) throw std::logic_error("the body is not in a file of its own");
    WriteBytes(JoinPath(folder_, name), response.body.substr(0, response.body.size() * 2 / 5));
  } else {  // the response head, written last, is not there yet
    const auto [name, offset] = cache.Locate(cache.At(key).streams[0]);
    std::string bytes = ReadBytes(JoinPath(folder_, name));
    bytes.replace(offset, 64, std::string(64, '\0'));
    WriteBytes(JoinPath(folder_, name), bytes);
  }
}

void BlockfileBackend::Spoil(const StoredResponse& response) {
  Put(response).dirty = 2;  // opened again by the browser
  WriteAll();
}

void BlockfileBackend::Evict(const std::string& url) {
  std::erase_if(entries_, [&](const BlockfileEntry& entry) { return entry.key.ends_with(" " + url); });
  WriteAll();
}

std::unique_ptr<BrowserCacheSource> BlockfileBackend::Open() const { return std::make_unique<BlockfileCacheSource>(folder_); }
