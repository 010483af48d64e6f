#pragma once
// The system's WinInet URL cache (Windows builds only), read through FindFirstUrlCacheEntryA and
// its companions; each entry is re-packed into our record so the walk sees every source alike.
// Only content entries with a local file are yielded: cookie and history entries, and entries
// without a file, hold nothing to copy.
#include "cache/CacheFormat.h"
#include "cache/UrlCacheSource.h"

// The descriptor of this cache: "wininet", read by WinInetSource.
extern const CacheFormat kWinInetFormat;

class WinInetSource : public UrlCacheSource {
 public:
  std::unique_ptr<CacheEntryCursor> Open() override;
};
