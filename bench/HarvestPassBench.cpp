// One harvest pass over 20,000 cache entries of which none was used after the capture started,
// against the bare probe-then-fetch enumeration of the same entries.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "RatioReporter.h"
#include "UnusedEntriesCache.h"
#include "cache/ListCacheSource.h"
#include "cache/UrlCacheEnumeration.h"
#include "harvest/cmnWinInet.h"

namespace {

constexpr int kEntries = 20000;
const DateValue kCaptureStart = DateValue::FromFields(2026, 12, 7, 9, 0, 0);

void Setup() {
  static bool done = false;
  if (done) return;
  done = true;
  InitCacheBuffer();
  SetUrlCache(MakeUnusedEntriesCache(kEntries, kCaptureStart));
}

// The walk alone: probe and fetch every entry into the receive buffer.
void BM_Enumeration(benchmark::State& state) {
  Setup();
  for (auto _ : state) {
    int count = 0;
    CacheEntrySize = 0;
    FindFirstUrlCacheEntry(nullptr, nullptr, &CacheEntrySize);
    CacheEnumHandle handle =
        FindFirstUrlCacheEntry(nullptr, reinterpret_cast<void*>(CacheBuffer->Handle()), &CacheEntrySize);
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
