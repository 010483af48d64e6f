#include "cache/discovery/Discovery.h"

#include <map>
#include <mutex>
#include <utility>

#include "cache/discovery/CacheFormats.h"
#include "cache/discovery/CacheLocations.h"
#include "cache/discovery/UnionCacheSource.h"

std::optional<DiscoveredCache> ClassifyCacheFolder(const std::string& folder) {
  for (const CacheFormat* format : CacheFormats()) {
    if (format->recognises && format->recognises(folder)) return DiscoveredCache{format->kind, folder, true};
  }
  return std::nullopt;
}

std::vector<DiscoveredCache> DiscoverCaches() {
  std::vector<DiscoveredCache> caches;
  // The system's own caches have no folder and are always there; they come first.
  for (const CacheFormat* format : CacheFormats()) {
    if (!format->recognises) caches.push_back({format->kind, "", true});
  }
  for (const CandidateFolder& candidate : CandidateCacheFolders()) {
    if (auto cache = ClassifyCacheFolder(candidate.folder)) caches.push_back(std::move(*cache));
  }
  return caches;
}

std::shared_ptr<UrlCacheSource> MakeCacheSource(const DiscoveredCache& cache) {
  const CacheFormat* format = FindCacheFormat(cache.kind);
  if (!cache.readable || !format) return nullptr;
  return format->open(cache.folder);
}

std::shared_ptr<UrlCacheSource> MakeUrlCacheOf(const std::vector<DiscoveredCache>& caches) {
  UnionCacheSource::SourceList members;
  for (const DiscoveredCache& cache : caches) members.push_back(MakeCacheSource(cache));
  return std::make_shared<UnionCacheSource>([members] { return members; });
}

std::shared_ptr<UrlCacheSource> MakeDiscoveredUrlCache() {
  // Sources are kept from one pass to the next for as long as their cache is found, so that what
  // each has parsed is not parsed again.
  struct Known {
    std::mutex mutex;
    std::map<std::pair<CacheKind, std::string>, std::shared_ptr<UrlCacheSource>> sources;
  };
  auto known = std::make_shared<Known>();
  return std::make_shared<UnionCacheSource>([known] {
    std::lock_guard lock(known->mutex);
    std::map<std::pair<CacheKind, std::string>, std::shared_ptr<UrlCacheSource>> current;
    UnionCacheSource::SourceList members;
    for (const DiscoveredCache& cache : DiscoverCaches()) {
      const auto key = std::make_pair(cache.kind, cache.folder);
      auto found = known->sources.find(key);
      auto source = found != known->sources.end() ? found->second : MakeCacheSource(cache);
      if (!source) continue;
      current[key] = source;
      members.push_back(std::move(source));
    }
    known->sources = std::move(current);
    return members;
  });
}
