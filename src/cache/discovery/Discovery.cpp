#include "cache/discovery/Discovery.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

#include "base/BackgroundWork.h"
#include "cache/browser/BrowserCacheSource.h"

#include "cache/discovery/CacheFormats.h"
#include "cache/discovery/CacheLocations.h"
#include "cache/discovery/UnionCacheSource.h"

std::optional<DiscoveredCache> ClassifyCacheFolder(const std::string& folder) {
  for (const CacheFormat* format : CacheFormats()) {
    if (format->recognises && format->recognises(folder)) {
      return DiscoveredCache{format->kind, folder, format->open != nullptr};
    }
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
  if (!cache.readable || !format || !format->open) return nullptr;
  return format->open(cache.folder);
}

namespace {

using namespace std::chrono_literals;

// How often a cache kept current in the background looks for changes, and how often the caches
// are discovered again in the background.
constexpr auto kRefreshInterval = 100ms;
constexpr auto kDiscoveryInterval = 2000ms;
constexpr unsigned kBackgroundThreads = 2;

using SourceKey = std::pair<CacheKind, std::string>;

// The members of a URL cache and what keeps them current.
struct Members {
  std::mutex mutex;
  std::condition_variable discovered;
  UnionCacheSource::SourceList list;
  std::map<SourceKey, std::shared_ptr<UrlCacheSource>> known;
  // Set while the sources are kept in the background; a job holds it only under mutex, so that
  // the last owner of the worker is never one of its own threads.
  std::weak_ptr<BackgroundWorker> worker;
  std::uint64_t roundsBegun = 0, roundsDone = 0;

  // The source of cache: the one kept from the last round, or a new one (kept current in the
  // background when there is a worker). Under mutex.
  std::shared_ptr<UrlCacheSource> SourceOf(const DiscoveredCache& cache,
                                           std::map<SourceKey, std::shared_ptr<UrlCacheSource>>& current) {
    const SourceKey key(cache.kind, cache.folder);
    const auto found = known.find(key);
    auto source = found != known.end() ? found->second : MakeCacheSource(cache);
    if (!source) return nullptr;
    if (found == known.end()) {
      if (const auto kept = worker.lock()) {
        if (const auto browser = std::dynamic_pointer_cast<BrowserCacheSource>(source)) {
          BrowserCacheSource::KeepCurrentOn(browser, kept, kRefreshInterval);
        }
      }
    }
    current[key] = source;
    return source;
  }

  // Takes the caches found now as the members.
  void Take(const std::vector<DiscoveredCache>& caches) {
    std::lock_guard lock(mutex);
    std::map<SourceKey, std::shared_ptr<UrlCacheSource>> current;
    UnionCacheSource::SourceList members;
    for (const DiscoveredCache& cache : caches) {
      if (auto source = SourceOf(cache, current)) members.push_back(std::move(source));
    }
    known = std::move(current);
    list = std::move(members);
  }

  UnionCacheSource::SourceList List() {
    std::lock_guard lock(mutex);
    return list;
  }
};

// A URL cache over members; in the background, a worker keeps them current.
class MembersCache : public UrlCacheSource {
 public:
  MembersCache(std::shared_ptr<Members> members, std::function<std::vector<DiscoveredCache>()> discover,
               CacheReading reading)
      : members_(std::move(members)),
        discover_(std::move(discover)),
        union_([members = members_] { return members->List(); }) {
    if (reading == CacheReading::InBackground) {
      worker_ = std::make_shared<BackgroundWorker>(kBackgroundThreads);
      members_->worker = worker_;
      if (discover_) {
        discoveryJob_ = worker_->Add(
            [weak = std::weak_ptr<Members>(members_), discover = discover_] {
              const auto members = weak.lock();
              if (!members) return false;
              {
                std::lock_guard lock(members->mutex);
                ++members->roundsBegun;
              }
              // Done even when discovery raises (out of memory, say), so that no Open waits for
              // ever; the worker runs the round again later.
              struct RoundDone {
                Members& members;
                ~RoundDone() {
                  {
                    std::lock_guard lock(members.mutex);
                    ++members.roundsDone;
                  }
                  members.discovered.notify_all();
                }
              } done{*members};
              members->Take(discover());
              return true;
            },
            kDiscoveryInterval);
      }
    }
  }

  ~MembersCache() override {
    // Taken under the members' lock, so that no job holds the worker while it ends.
    std::shared_ptr<BackgroundWorker> worker;
    {
      std::lock_guard lock(members_->mutex);
      worker = std::move(worker_);
      members_->worker.reset();
    }
    worker.reset();  // ends the threads: nothing runs in the background from here on
  }

  void SetFixed(std::vector<DiscoveredCache> caches) {
    fixed_ = std::move(caches);
    members_->Take(fixed_);
  }

  OpeningProblem Problem() const override { return union_.Problem(); }

  std::unique_ptr<CacheEntryCursor> Open() override {
    if (!worker_) {
      if (discover_) members_->Take(discover_());
    } else if (discover_) {
      // The members are those of the last round of discovery; before the first there are none.
      std::unique_lock lock(members_->mutex);
      members_->discovered.wait(lock, [&] { return members_->roundsDone > 0; });
    }
    return union_.Open();
  }

  bool WaitUntilCurrentUnless(const std::function<bool()>& giveUp) override {
    if (worker_ && discover_) {
      std::unique_lock lock(members_->mutex);
      const std::uint64_t wanted = members_->roundsBegun + 1;
      lock.unlock();
      worker_->RunSoon(discoveryJob_);
      lock.lock();
      if (!WaitFor(
              members_->discovered, lock, [&] { return members_->roundsDone >= wanted; }, giveUp))
        return false;
    }
    return union_.WaitUntilCurrentUnless(giveUp);
  }

 private:
  std::shared_ptr<Members> members_;
  std::function<std::vector<DiscoveredCache>()> discover_;  // null: the fixed caches
  std::vector<DiscoveredCache> fixed_;
  UnionCacheSource union_;
  std::shared_ptr<BackgroundWorker> worker_;
  BackgroundWorker::JobId discoveryJob_ = 0;
};

}  // namespace

std::shared_ptr<UrlCacheSource> MakeUrlCacheOf(const std::vector<DiscoveredCache>& caches, CacheReading reading) {
  if (reading == CacheReading::OnOpen) {
    UnionCacheSource::SourceList members;
    for (const DiscoveredCache& cache : caches) members.push_back(MakeCacheSource(cache));
    return std::make_shared<UnionCacheSource>([members] { return members; });
  }
  auto made = std::make_shared<MembersCache>(std::make_shared<Members>(), nullptr, reading);
  made->SetFixed(caches);
  return made;
}

std::shared_ptr<UrlCacheSource> MakeDiscoveredUrlCache(CacheReading reading) {
  return MakeDiscoveredUrlCache(reading, [] { return DiscoverCaches(); });
}

std::shared_ptr<UrlCacheSource> MakeDiscoveredUrlCache(CacheReading reading,
                                                       std::function<std::vector<DiscoveredCache>()> discover) {
  // Sources are kept from one round of discovery to the next for as long as their cache is found,
  // so that what each has parsed is not parsed again.
  return std::make_shared<MembersCache>(std::make_shared<Members>(), std::move(discover), reading);
}
