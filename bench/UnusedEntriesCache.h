#pragma once
// A URL cache of entries that all pass the extension and size tests and were last used an hour
// before the capture started: the most work a pass does without copying anything.
#include <memory>
#include <string>
#include <vector>

#include "base/CacheTime.h"
#include "cache/ListCacheSource.h"

inline std::shared_ptr<ListCacheSource> MakeUnusedEntriesCache(int count, const DateValue& captureStart) {
  const auto usedBefore = static_cast<std::uint64_t>(captureStart.Seconds() - 3600 + 11644473600LL) * 10'000'000ULL;
  std::vector<CacheEntry> entries;
  entries.reserve(count);
  for (int i = 0; i < count; ++i) {
    CacheEntry e;
    const std::string n = std::to_string(i);
    e.url = "https://images.example.com/gallery/2026/12/photo-" + n + ".jpg";
    e.localPath = "/home/user/.cache/browser/Default/Cache/Cache_Data/0123456789abcdef_0/photo-" + n + "[1].jpg";
    e.extension = "jpg";
    e.size = 64 * 1024;
    e.lastAccess = CacheFileTime::FromValue(usedBefore);
    entries.push_back(std::move(e));
  }
  return std::make_shared<ListCacheSource>(std::move(entries));
}
