#include "harvest/cache/wininet/WinInetSource.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

namespace {

CacheFileTime ToCacheTime(const FILETIME& t) { return {t.dwLowDateTime, t.dwHighDateTime}; }

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

class WinInetCursor : public CacheEntryCursor {
 public:
  ~WinInetCursor() override {
    if (handle_) FindCloseUrlCache(handle_);
  }

  bool Next(CacheEntry& entry) override {
    if (done_) return false;
    for (int attempt = 0; attempt < 8; ++attempt) {
      DWORD length = static_cast<DWORD>(buffer_.size());
      auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer_.data());
      BOOL ok;
      if (!started_) {
        HANDLE handle = FindFirstUrlCacheEntryA(nullptr, info, &length);
        ok = handle != nullptr;
        if (ok) {
          handle_ = handle;
          started_ = true;
        }
      } else {
        ok = FindNextUrlCacheEntryA(handle_, info, &length);
      }
      if (ok) {
        Convert(*info, entry);
        return true;
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
      // The entry needs more room: grow (8-byte aligned for the structure) and ask again.
      buffer_.resize((static_cast<std::size_t>(length) + 7) / 8);
    }
    done_ = true;
    return false;
  }

 private:
  static void Convert(const INTERNET_CACHE_ENTRY_INFOA& info, CacheEntry& entry) {
    entry.url = Text(info.lpszSourceUrlName);
    entry.localPath = Text(info.lpszLocalFileName);
    entry.headers = info.lpHeaderInfo ? std::string(reinterpret_cast<const char*>(info.lpHeaderInfo),
                                                    info.dwHeaderInfoSize)
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

  std::vector<std::uint64_t> buffer_ = std::vector<std::uint64_t>(4096 / 8);
  HANDLE handle_ = nullptr;
  bool started_ = false;
  bool done_ = false;
};

}  // namespace

std::unique_ptr<CacheEntryCursor> WinInetSource::Open() { return std::make_unique<WinInetCursor>(); }
