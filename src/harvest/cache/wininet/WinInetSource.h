#pragma once
// The system's WinInet URL cache (Windows builds only), read through FindFirstUrlCacheEntryA and
// its companions; each entry is re-packed into our record so the walk sees every source alike.
#include "harvest/cache/UrlCacheSource.h"

class WinInetSource : public UrlCacheSource {
 public:
  std::unique_ptr<CacheEntryCursor> Open() override;
};
