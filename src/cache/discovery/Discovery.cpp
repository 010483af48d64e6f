#include "cache/discovery/Discovery.h"

#include <map>
#include <mutex>
#include <utility>

#include "cache/blockfile/BlockfileCacheSource.h"
#include "cache/chromium/ChromiumSimpleCacheSource.h"
#include "cache/discovery/CacheLocations.h"
#include "cache/discovery/UnionCacheSource.h"
#include "cache/firefox/FirefoxCacheSource.h"
#ifdef _WIN32
#include "cache/wininet/WinInetSource.h"
#endif

std::optional<DiscoveredCache> ClassifyCacheFolder(const std::string& folder) {
  // The blockfile test comes first: such a folder must never be read as a simple cache.
  if (IsChromiumBlockfileFolder(folder)) return DiscoveredCache{"blockfile", folder, true};
  if (IsChromiumSimpleCacheFolder(folder)) return DiscoveredCache{"chromium", folder, true};
  if (IsFirefoxCacheFolder(folder)) return DiscoveredCache{"firefox", folder, true};
  return std::nullopt;
}

std::vector<DiscoveredCache> DiscoverCaches() {
  std::vector<DiscoveredCache> caches;
#ifdef _WIN32
  caches.push_back({"wininet", "", true});
#endif
  for (const CandidateFolder& candidate : CandidateCacheFolders()) {
    if (auto cache = ClassifyCacheFolder(candidate.folder)) caches.push_back(std::move(*cache));
  }
  return caches;
}

std::shared_ptr<UrlCacheSource> MakeCacheSource(const DiscoveredCache& cache) {
  if (!cache.readable) return nullptr;
  if (cache.kind == "chromium") return std::make_shared<ChromiumSimpleCacheSource>(cache.folder);
  if (cache.kind == "blockfile") return std::make_shared<BlockfileCacheSource>(cache.folder);
  if (cache.kind == "firefox") return std::make_shared<FirefoxCacheSource>(cache.folder);
#ifdef _WIN32
  if (cache.kind == "wininet") return std::make_shared<WinInetSource>();
#endif
  return nullptr;
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
    std::map<std::pair<std::string, std::string>, std::shared_ptr<UrlCacheSource>> sources;
  };
  auto known = std::make_shared<Known>();
  return std::make_shared<UnionCacheSource>([known] {
    std::lock_guard lock(known->mutex);
    std::map<std::pair<std::string, std::string>, std::shared_ptr<UrlCacheSource>> current;
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
