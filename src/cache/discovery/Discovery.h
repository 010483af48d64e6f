#pragma once
// Finding the current user's browser caches, and the URL cache that unites them.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cache/CacheFormat.h"
#include "cache/UrlCacheSource.h"

struct DiscoveredCache {
  CacheKind kind;      // its descriptor is FindCacheFormat(kind) (cache/discovery/CacheFormats.h)
  std::string folder;  // the cache folder; empty for the WinInet cache
  bool readable = true;
};

// Every browser cache of the current user in the standard places of this platform.
std::vector<DiscoveredCache> DiscoverCaches();

// How a URL cache made below reads its caches.
enum class CacheReading {
  // At every Open, on the thread that opens it: it yields the caches as they are then.
  OnOpen,
  // On two background threads that keep each cache's listing current (and, for a discovered URL
  // cache, discover the caches again every few seconds); Open yields what they published last and
  // reads no cache. WaitUntilCurrent brings it up to date with the caches as they are.
  InBackground,
};

// The URL cache that the harvest walks: every readable cache that discovery finds, one after the
// other in a stable order. Discovery runs again at every Open (OnOpen) or every few seconds
// (InBackground), so a browser started during a capture is picked up.
std::shared_ptr<UrlCacheSource> MakeDiscoveredUrlCache(CacheReading reading = CacheReading::OnOpen);
// The same, with the caches that discover finds instead of DiscoverCaches's.
std::shared_ptr<UrlCacheSource> MakeDiscoveredUrlCache(CacheReading reading,
                                                       std::function<std::vector<DiscoveredCache>()> discover);

// What a folder holds: the first format of CacheFormats() that recognises it, or empty when none
// does. A format recognised only to be reported gives a cache that is not readable.
std::optional<DiscoveredCache> ClassifyCacheFolder(const std::string& folder);

// The reader of one cache; null when its kind cannot be read.
std::shared_ptr<UrlCacheSource> MakeCacheSource(const DiscoveredCache& cache);

// The URL cache of exactly these caches, in this order.
std::shared_ptr<UrlCacheSource> MakeUrlCacheOf(const std::vector<DiscoveredCache>& caches,
                                               CacheReading reading = CacheReading::OnOpen);
