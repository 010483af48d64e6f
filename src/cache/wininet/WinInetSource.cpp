#include "cache/wininet/WinInetSource.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

#include "base/WidePath.h"

namespace {

CacheFileTime ToCacheTime(const FILETIME& t) { return {t.dwLowDateTime, t.dwHighDateTime}; }

// The ANSI functions give the entry's strings in the ANSI code page; paths and addresses travel in
// UTF-8 here. (The wide functions would give the headers as UTF-16, which are bytes to the harvest.)
std::string Text(const char* text) { return text ? Utf8FromAnsi(text) : std::string(); }

// Cookies and the address history live in containers of their own. A walk with no search pattern
// lists only the content container on Windows; Wine lists cookie entries too (first), and their
// files are the user's cookies, never cached pictures.
bool IsContentEntry(const INTERNET_CACHE_ENTRY_INFOA& info) {
  return (info.CacheEntryType & (COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY)) == 0;
}

// An entry without a local file (a redirect, or an entry committed without one) has nothing that
// could be copied; handed on, its empty path would make the copy fail and end every pass there.
bool HasLocalFile(const INTERNET_CACHE_ENTRY_INFOA& info) {
  return info.lpszLocalFileName != nullptr && info.lpszLocalFileName[0] != 0;
}

class WinInetCursor : public CacheEntryCursor {
 public:
  ~WinInetCursor() override {
    if (handle_) FindCloseUrlCache(handle_);
  }

  bool Next(CacheEntry& entry) override {
    while (!done_) {
      const INTERNET_CACHE_ENTRY_INFOA* info = Fetch();
      if (!info) {
        done_ = true;
        break;
      }
      if (IsContentEntry(*info) && HasLocalFile(*info)) {
        Convert(*info, entry);
        return true;
      }
    }
    return false;
  }

 private:
  // The next entry of the enumeration in buffer_, or null when none is left or the cache fails.
  // An entry larger than the buffer is asked for again with a buffer of the size it reported.
  const INTERNET_CACHE_ENTRY_INFOA* Fetch() {
    for (int attempt = 0; attempt < 4; ++attempt) {
      auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer_.data());
      DWORD length = static_cast<DWORD>(buffer_.size() * sizeof(buffer_[0]));
      BOOL ok;
      if (!handle_) {
        handle_ = FindFirstUrlCacheEntryA(nullptr, info, &length);
        ok = handle_ != nullptr;
      } else {
        ok = FindNextUrlCacheEntryA(handle_, info, &length);
      }
      if (ok) return info;
      // Any other failure (ERROR_NO_MORE_ITEMS at the end) ends this enumeration; the next pass
      // opens a new one.
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0 || length > kLargestEntryBytes) return nullptr;
      // Held in 8-byte units so that the structure at its start is aligned.
      buffer_.resize((static_cast<std::size_t>(length) + sizeof(buffer_[0]) - 1) / sizeof(buffer_[0]));
    }
    return nullptr;
  }

  static void Convert(const INTERNET_CACHE_ENTRY_INFOA& info, CacheEntry& entry) {
    entry.url = Text(info.lpszSourceUrlName);
    entry.localPath = Text(info.lpszLocalFileName);
    entry.headers = info.lpHeaderInfo
                        ? std::string(reinterpret_cast<const char*>(info.lpHeaderInfo), info.dwHeaderInfoSize)
                        : std::string();
    entry.extension = Text(info.lpszFileExtension);
    entry.type = info.CacheEntryType;
    entry.useCount = info.dwUseCount;
    entry.hitRate = info.dwHitRate;
    entry.size = (std::uint64_t{info.dwSizeHigh} << 32) | info.dwSizeLow;
    entry.lastModified = ToCacheTime(info.LastModifiedTime);
    entry.expire = ToCacheTime(info.ExpireTime);
    entry.lastAccess = ToCacheTime(info.LastAccessTime);
    entry.lastSync = ToCacheTime(info.LastSyncTime);
  }

  // An entry is a record and a few strings; a size beyond this is a broken answer, not an entry.
  static constexpr DWORD kLargestEntryBytes = 64u << 20;

  std::vector<std::uint64_t> buffer_ = std::vector<std::uint64_t>(4096 / sizeof(std::uint64_t));
  HANDLE handle_ = nullptr;
  bool done_ = false;
};

}  // namespace

std::unique_ptr<CacheEntryCursor> WinInetSource::Open() { return std::make_unique<WinInetCursor>(); }
