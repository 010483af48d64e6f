#pragma once
// Helpers for tests against the running system's real WinInet URL cache (Wine's, in CI): filling it
// the way a browser does, fetching through WinInet, listing it with the platform's own calls, and
// scratch folders. Every helper raises std::runtime_error on failure, which fails the test.
#include <cstdint>
#include <string>
#include <vector>

namespace wine_cache {

inline constexpr std::uint32_t kCookieEntryType = 0x00100000;

// One entry as the platform's enumeration reports it.
struct RawEntry {
  std::string url;
  std::string localPath;  // empty when the entry has no local file
  std::uint32_t type = 0;
  std::uint32_t structSize = 0;
  std::uint64_t size = 0;
  std::uint64_t lastAccess = 0;  // FILETIME value, UTC
  std::uint32_t headerBytes = 0;
};

// A walk with the platform's calls, and what the calls answered at its two ends.
struct RawWalk {
  std::vector<RawEntry> entries;
  std::uint32_t firstProbeError = 0;   // GetLastError after FindFirstUrlCacheEntryA without a buffer
  std::uint32_t firstProbeLength = 0;  // the length it reported
  bool firstProbeReturnedHandle = false;
  std::uint32_t endError = 0;   // GetLastError after the probe that found no entry left
  std::uint32_t endLength = 0;  // the length that probe left (it was set to 0 before)
};
// Every entry through FindFirstUrlCacheEntryA / FindNextUrlCacheEntryA, probe then fetch.
RawWalk ListRawEntries();
// Deletes every entry of the cache, cookies included.
void EmptyUrlCache();
// Stores bytes as a browser does: CreateUrlCacheEntryA names a file with the extension, the bytes
// go there, CommitUrlCacheEntryA records the entry with the headers. Returns the local file path.
std::string AddCacheEntry(const std::string& url, const std::string& extension, const std::string& bytes,
                          const std::string& headers = "HTTP/1.1 200 OK\r\n\r\n");
// Sets a persistent cookie through WinInet, which keeps it as a cookie entry of the URL cache.
bool SetCookie(const std::string& url, const std::string& name, const std::string& data);
// Commits an entry that has no local file.
void AddEntryWithoutFile(const std::string& url);

// Fetches url with InternetOpenUrlA and reads it whole, so WinInet caches it. Returns the body.
std::string FetchUrl(const std::string& url, bool reload = false);
// "http://127.0.0.1:PORT" of the picture server that the test script started.
std::string PictureServerRoot();

std::uint64_t FileTimeNow();
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool RenameFile(const std::string& from, const std::string& to);
// Bytes that differ from file to file: seed picks the pattern.
std::string MadeUpBytes(std::size_t size, unsigned seed);

// A new empty folder under the temporary folder, removed with its files when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  // Names of the files in the folder, hidden ones included, sorted.
  std::vector<std::string> FileNames() const;

 private:
  std::string path_;
};

}  // namespace wine_cache
