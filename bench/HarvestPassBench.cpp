// One harvest pass over 20,000 cache entries of which none was used after the capture started,
// against the bare probe-then-fetch enumeration of the same entries.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "RatioReporter.h"
#include "harvest/cache/ListCacheSource.h"
#include "harvest/cache/UrlCacheEnumeration.h"
#include "harvest/cmnWinInet.h"

namespace {

constexpr int kEntries = 20000;
const DateValue kCaptureStart = DateValue::FromFields(2026, 12, 7, 9, 0, 0);

std::shared_ptr<ListCacheSource> MakeCache() {
  std::vector<CacheEntry> entries;
  entries.reserve(kEntries);
  // Used an hour before the capture started: every entry passes the extension and size tests and
  // is stopped by the time test, the most work a pass does without copying.
  const auto usedBefore = static_cast<std::uint64_t>(kCaptureStart.Seconds() - 3600 + 11644473600LL) * 10'000'000ULL;
  for (int i = 0; i < kEntries; ++i) {
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

void Setup() {
  static bool done = false;
  if (done) return;
  done = true;
  InitCacheBuffer();
  SetUrlCache(MakeCache());
}

// The walk alone: probe and fetch every entry into the receive buffer.
void BM_Enumeration(benchmark::State& state) {
  Setup();
  for (auto _ : state) {
    int count = 0;
    CacheEntrySize = 0;
    FindFirstUrlCacheEntry(nullptr, nullptr, &CacheEntrySize);
    CacheEnumHandle handle = FindFirstUrlCacheEntry(nullptr, reinterpret_cast<void*>(CacheBuffer->Handle()), &CacheEntrySize);
    while (handle) {
      ++count;
      CacheEntrySize = 0;
      FindNextUrlCacheEntry(handle, nullptr, &CacheEntrySize);
      if (static_cast<std::int32_t>(CacheEntrySize) <= 0) break;
      FindNextUrlCacheEntry(handle, reinterpret_cast<void*>(CacheBuffer->Handle()), &CacheEntrySize);
    }
    if (handle) FindCloseUrlCache(handle);
    benchmark::DoNotOptimize(count);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_HarvestPass(benchmark::State& state) {
  Setup();
  HarvestedKeys = std::make_unique<KeyedCollection>();
  for (auto _ : state) {
    HarvestCache(";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;", kCaptureStart, "/nonexistent-destination", 25);
  }
  if (LastPassStatistics().entries != kEntries || LastPassStatistics().copied != 0) {
    state.SkipWithError("the pass did not visit every entry exactly once");
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}

BENCHMARK(BM_Enumeration)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HarvestPass)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return RunWithRatios(argc, argv, {{"BM_HarvestPass", "BM_Enumeration"}}); }
