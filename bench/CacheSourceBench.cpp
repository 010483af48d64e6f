// The browser cache sources over synthetic caches of 20,000 Chromium and 20,000 Firefox entries
// in the real formats (TAVRIN_BENCH_ENTRIES sets another count; and as many entries of a Chromium
// blockfile cache, at most 20,000, measured on their own): the first pass (nothing remembered; on
// the calling thread, and on two background threads), a steady pass
// (nothing changed), a pass after one entry of each cache was rewritten (whole, and skipping the
// settled entries at a hundredth, a tenth and all of the entries), the harvest pass of an idle
// tick, and, as the baselines, a bare readdir + stat walk of the same folders and a bare read of the
// blockfile cache's files, all in one run. At the end each pass's CPU time is printed as a ratio of
// its baseline's. Each pass benchmark also times a bare walk right before every pass (outside the
// reported time) and reports the ratio of the two wall times, which compares runs made under the
// same load; the steady passes, far shorter than a walk, are compared by the printed ratios alone.
//
// The simple cache's entries are also written as Chromium SQL caches, one with a rollback journal
// and one with a WAL, and each is measured beside the simple cache alone in the same run: the first
// pass (entries per second, and the heap and resident memory a source holds after it), the
// source's steady pass and the harvest pass of an idle tick, and a pass after one new entry, the
// last also against reading every shard file once (as `cat sqldb* > /dev/null` does). The SQL
// benchmarks match --benchmark_filter='Sql|Simple'.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchSettings.h"
#include "RatioReporter.h"
#include "SyntheticCaches.h"
#include "base/BackgroundWork.h"
#include "base/PathText.h"
#include "cache/UrlCacheEnumeration.h"
#include "cache/chromium/blockfile/BlockfileCacheSource.h"
#include "cache/chromium/simple/ChromiumSimpleCacheSource.h"
#include "cache/chromium/sql/ChromiumSqlCacheSource.h"
#include "cache/discovery/UnionCacheSource.h"
#include "cache/firefox/FirefoxCacheSource.h"
#include "harvest/cmnWinInet.h"
#include "support/BlockfileFixtures.h"
#include "support/CacheFixtures.h"
#include "support/SqlCacheFixtures.h"
#include "support/TempDir.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif
#ifdef __linux__
#include <malloc.h>
#include <unistd.h>
#endif

using namespace fixtures;

namespace {

// The blockfile fixture keeps each block size in one file of at most 64,896 blocks.
int BlockfileEntries() { return std::min(EntriesPerBrowser(), 20000); }

// The two caches, written once for the whole run.
struct SyntheticCaches {
  TempDir temp;
  std::string chromium = temp.Sub("Default/Cache/Cache_Data");
  std::string firefox = temp.Sub("cache2");
  std::string destination = temp.Sub("dest");

  explicit SyntheticCaches(int entries = EntriesPerBrowser()) { synthetic::WriteCaches(chromium, firefox, entries); }
};

SyntheticCaches& Caches() {
  static SyntheticCaches caches;
  return caches;
}

std::size_t WalkBoth() { return BareWalk(Caches().chromium) + BareWalk(JoinPath(Caches().firefox, "entries")); }

std::size_t Drain(UrlCacheSource& source) {
  std::size_t entries = 0;
  auto cursor = source.Open();
  CacheEntry entry;
  while (cursor->Next(entry)) ++entries;
  return entries;
}

void BM_BareWalk(benchmark::State& state) {
  Caches();
  std::size_t files = 0;
  for (auto _ : state) benchmark::DoNotOptimize(files = WalkBoth());
  state.counters["files"] = static_cast<double>(files);
}

// Fresh sources each time: every entry file is opened and parsed.
void BM_FirstPass(benchmark::State& state) {
  Caches();
  std::size_t entries = 0;
  double walk = 0, pass = 0, floor = 0;
  CpuTimes passCpu, floorCpu;
  for (auto _ : state) {
    state.PauseTiming();
    walk += Timed([] { benchmark::DoNotOptimize(WalkBoth()); });
    floor += Timed([&] {
      floorCpu += CpuTimed([] {
        benchmark::DoNotOptimize(HeadTailFloor(Caches().chromium) +
                                 HeadTailFloor(JoinPath(Caches().firefox, "entries")));
      });
    });
    state.ResumeTiming();
    pass += Timed([&] {
      passCpu += CpuTimed([&] {
        ChromiumSimpleCacheSource chromium(Caches().chromium);
        FirefoxCacheSource firefox(Caches().firefox);
        entries = Drain(chromium) + Drain(firefox);
      });
    });
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["files_per_s"] =
      benchmark::Counter(2.0 * EntriesPerBrowser() * static_cast<double>(state.iterations()) / pass);
  state.counters["first_over_walk"] = pass / walk;
  // Against the head and tail floor measured in the same iterations: CPU time, in the process's
  // own code and in the system's, then wall time.
  state.counters["cpu_over_floor"] = passCpu.Total() / floorCpu.Total();
  state.counters["user_over_floor"] = passCpu.user / floorCpu.Total();
  state.counters["sys_over_floor"] = passCpu.system / floorCpu.Total();
  state.counters["wall_over_floor"] = pass / floor;
}

// The same, read on two background threads (one cache each) until current, as the window and the
// harvester read a cache first met: the wall time until both listings are current.
void BM_FirstPassInBackground(benchmark::State& state) {
  Caches();
  std::size_t entries = 0;
  double walk = 0, pass = 0, cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    walk += Timed([] { benchmark::DoNotOptimize(WalkBoth()); });
    state.ResumeTiming();
    const std::clock_t began = std::clock();
    pass += Timed([&] {
      auto worker = std::make_shared<BackgroundWorker>(2);
      auto chromium = std::make_shared<ChromiumSimpleCacheSource>(Caches().chromium);
      auto firefox = std::make_shared<FirefoxCacheSource>(Caches().firefox);
      BrowserCacheSource::KeepCurrentOn(chromium, worker, std::chrono::milliseconds(100));
      BrowserCacheSource::KeepCurrentOn(firefox, worker, std::chrono::milliseconds(100));
      chromium->WaitUntilCurrent();
      firefox->WaitUntilCurrent();
      entries = Drain(*chromium) + Drain(*firefox);
    });
    cpu += static_cast<double>(std::clock() - began) / CLOCKS_PER_SEC;
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["files_per_s"] =
      benchmark::Counter(2.0 * EntriesPerBrowser() * static_cast<double>(state.iterations()) / pass);
  state.counters["first_over_walk"] = pass / walk;
  // The CPU time of every thread over the wall time: near 2 when both cores parse.
  state.counters["cores_used"] = cpu / pass;
}

// The same sources again and again over an unchanged cache. Too fast for a bare walk beside each
// pass: the printed ratio compares it with the bare walk's own benchmark.
void BM_SteadyPass(benchmark::State& state) {
  Caches();
  ChromiumSimpleCacheSource chromium(Caches().chromium);
  FirefoxCacheSource firefox(Caches().firefox);
  Drain(chromium);
  Drain(firefox);
  std::size_t entries = 0;
  for (auto _ : state) entries = Drain(chromium) + Drain(firefox);
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["parsed"] = static_cast<double>(chromium.LastWalk().parsed + firefox.LastWalk().parsed);
}

// Rewrites one entry of each cache of count entries with a new body, a different one for each
// version, as a person browsing changes a few entries between two ticks.
void RewriteOneEntryOfEach(SyntheticCaches& caches, int count, std::uint32_t version) {
  const int at = static_cast<int>(version * 7u % static_cast<std::uint32_t>(count));
  WriteChromiumEntry(caches.chromium, synthetic::ChromiumAt(at, version));
  WriteFirefoxEntry(caches.firefox, synthetic::FirefoxAt(at, version));
}

// A pass after one entry of each cache was rewritten in place with a new body: what a tick costs
// while the person browses.
void BM_PassAfterOneChange(benchmark::State& state) {
  Caches();
  ChromiumSimpleCacheSource chromium(Caches().chromium);
  FirefoxCacheSource firefox(Caches().firefox);
  Drain(chromium);
  Drain(firefox);
  std::size_t entries = 0, parsed = 0;
  std::uint32_t version = 0;
  for (auto _ : state) {
    state.PauseTiming();
    RewriteOneEntryOfEach(Caches(), EntriesPerBrowser(), ++version);
    state.ResumeTiming();
    entries = Drain(chromium) + Drain(firefox);
    parsed = chromium.LastWalk().parsed + firefox.LastWalk().parsed;
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["parsed"] = static_cast<double>(parsed);
}

// Caches of another size than the run's, written once each for the whole run.
SyntheticCaches& CachesOf(int entries) {
  if (entries == EntriesPerBrowser()) return Caches();
  static std::map<int, std::unique_ptr<SyntheticCaches>> sized;
  auto& caches = sized[entries];
  if (!caches) caches = std::make_unique<SyntheticCaches>(entries);
  return *caches;
}

// A pass that skips the entries it settled, as the harvest does, and settles what it meets.
std::size_t SettlingPass(UrlCacheSource& source) {
  std::size_t entries = 0;
  auto cursor = source.Open();
  cursor->UseSettled(1);
  CacheEntry entry;
  while (cursor->Next(entry)) {
    ++entries;
    cursor->Settle();
  }
  return entries;
}

// The same at a hundredth, a tenth and all of the run's entries per browser, after one entry of
// each cache was rewritten: the pass is to cost what changed, not what the caches hold, so the
// printed ratios between the sizes are to stay near 1.
void BM_SettledPassAfterOneChange(benchmark::State& state) {
  const int count = std::max(1, EntriesPerBrowser() / static_cast<int>(state.range(0)));
  SyntheticCaches& caches = CachesOf(count);
  ChromiumSimpleCacheSource chromium(caches.chromium);
  FirefoxCacheSource firefox(caches.firefox);
  SettlingPass(chromium);
  SettlingPass(firefox);
  std::size_t met = 0, parsed = 0;
  std::uint32_t version = 0;
  for (auto _ : state) {
    state.PauseTiming();
    RewriteOneEntryOfEach(caches, count, ++version);
    state.ResumeTiming();
    met += SettlingPass(chromium) + SettlingPass(firefox);
    parsed = chromium.LastWalk().parsed + firefox.LastWalk().parsed;
  }
  state.counters["entries_per_browser"] = count;
  state.counters["met"] = static_cast<double>(met) / static_cast<double>(state.iterations());  // per pass
  state.counters["parsed"] = static_cast<double>(parsed);
}

// A whole harvest pass over the steady caches (every entry packed and tested; none copied, as
// none was used after the capture started): what the timer tick costs.
void BM_SteadyHarvestPass(benchmark::State& state) {
  Caches();
  auto chromium = std::make_shared<ChromiumSimpleCacheSource>(Caches().chromium);
  auto firefox = std::make_shared<FirefoxCacheSource>(Caches().firefox);
  Drain(*chromium);
  Drain(*firefox);
  const UnionCacheSource::SourceList members{chromium, firefox};
  SetUrlCache(std::make_shared<UnionCacheSource>([members] { return members; }));
  InitCacheBuffer();
  HarvestedKeys = std::make_unique<KeyedCollection>();
  const DateValue captureStart = DateValue::Now();
  // The first tick of a capture meets every entry; the ticks after it are the idle ones.
  HarvestCache(";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;", captureStart, Caches().destination, 0);
  for (auto _ : state) HarvestCache(";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;", captureStart, Caches().destination, 0);
  state.counters["entries"] = static_cast<double>(LastPassStatistics().entries);  // handed to the harvest
  state.counters["copied"] = static_cast<double>(LastPassStatistics().copied);
  SetUrlCache(nullptr);
}

// ---- The blockfile cache: an index, block files and a few separate files, no file per entry ----

struct SyntheticBlockfileCache {
  TempDir temp;
  std::string folder = temp.Sub("Default/Cache/Cache_Data");

  SyntheticBlockfileCache() {
    BlockfileCache cache(65536);
    for (int i = 0; i < BlockfileEntries(); ++i) {
      const std::string name = "/pictures/" + std::to_string(i) + (i % 3 ? ".jpg" : "");
      // Bodies of 1.5 to 5.7 KiB in data_2 and data_3, and every 100th of 40 KiB in a file of its own.
      const std::size_t size = i % 100 == 99 ? 40000 : 1500 + static_cast<std::size_t>(i % 7) * 700;
      BlockfileEntry entry;
      entry.key = "1/0/_dk_https://site.test https://site.test https://cdn.test" + name;
      entry.body = PictureBytes(size, static_cast<std::uint32_t>(i) + 2);
      entry.lastUsed = 13300000000000000 + i;
      if (i % 50 == 0) entry.headers = {"HTTP/1.1 404 Not Found", "Content-Type: text/html"};
      cache.Add(entry);
    }
    cache.Write(folder);
  }
};

SyntheticBlockfileCache& Blockfile() {
  static SyntheticBlockfileCache cache;
  return cache;
}

// The baseline: read the index and every block file whole, nothing more.
std::size_t BareRead() {
  std::size_t bytes = 0;
  std::vector<char> buffer(1 << 20);
  for (const char* name : {"index", "data_0", "data_1", "data_2", "data_3"}) {
    FILE* file = std::fopen(JoinPath(Blockfile().folder, name).c_str(), "rb");
    if (!file) continue;
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) bytes += got;
    std::fclose(file);
  }
  return bytes;
}

void BM_BlockfileBareRead(benchmark::State& state) {
  Blockfile();
  std::size_t bytes = 0;
  for (auto _ : state) benchmark::DoNotOptimize(bytes = BareRead());
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_BlockfileFirstPass(benchmark::State& state) {
  Blockfile();
  std::size_t entries = 0;
  double read = 0, pass = 0;
  for (auto _ : state) {
    state.PauseTiming();
    read += Timed([] { benchmark::DoNotOptimize(BareRead()); });
    state.ResumeTiming();
    pass += Timed([&] {
      BlockfileCacheSource source(Blockfile().folder);
      entries = Drain(source);
    });
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["first_over_read"] = pass / read;
}

void BM_BlockfileSteadyPass(benchmark::State& state) {
  Blockfile();
  BlockfileCacheSource source(Blockfile().folder);
  Drain(source);
  std::size_t entries = 0;
  for (auto _ : state) entries = Drain(source);
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["parsed"] = static_cast<double>(source.LastWalk().parsed);
}

// ---- The SQL cache: the simple cache's entries again, in both variants, beside the simple cache ----

// The heap in use and the resident memory of the process, in kilobytes (0 where unknown).
long HeapKb() {
#ifdef __linux__
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
#else
  return 0;
#endif
}
long ResidentKb() {
#ifdef __linux__
  long pages = 0, resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
#else
  return 0;
#endif
}

struct SyntheticSqlCache {
  TempDir temp;
  SqlCacheWriter writer;

  // The rows written here end in the shards (the WAL checkpointed); the entries added later stay
  // in the WAL.
  explicit SyntheticSqlCache(bool wal) : writer(temp.Sub("Default/Cache/Cache_Data"), synthetic::kSqlShards, wal) {
    synthetic::WriteSqlCache(writer, EntriesPerBrowser());
  }
};

enum class Kind { Simple, SqlJournal, SqlWal };

// Each cache is written when a benchmark first needs it.
SyntheticSqlCache& Sql(Kind kind) {
  if (kind == Kind::SqlWal) {
    static SyntheticSqlCache cache(true);
    return cache;
  }
  static SyntheticSqlCache cache(false);
  return cache;
}

const std::string& FolderOf(Kind kind) { return kind == Kind::Simple ? Caches().chromium : Sql(kind).writer.Folder(); }

std::unique_ptr<BrowserCacheSource> SourceOf(Kind kind) {
  if (kind == Kind::Simple) return std::make_unique<ChromiumSimpleCacheSource>(FolderOf(kind));
  return std::make_unique<ChromiumSqlCacheSource>(FolderOf(kind));
}

// Adds an entry that the cache did not hold; every cache gets the same ones.
void AddNewEntry(Kind kind) {
  static int added[3] = {};
  const int at = EntriesPerBrowser() + added[static_cast<int>(kind)]++;
  if (kind == Kind::Simple) {
    WriteChromiumEntry(FolderOf(kind), synthetic::ChromiumAt(at));
  } else {
    Sql(kind).writer.Put(synthetic::SqlAt(at));
  }
}

// What `cat sqldb* > /dev/null` does: every shard file, with its journal or WAL, read once.
std::size_t ReadShardFiles(const std::string& folder) {
  std::size_t bytes = 0;
  std::vector<char> buffer(128 * 1024);
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    if (item.path().filename().string().rfind("sqldb", 0) != 0) continue;
    FILE* file = std::fopen(item.path().string().c_str(), "rb");
    if (!file) continue;
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) bytes += got;
    std::fclose(file);
  }
  return bytes;
}

void BM_SqlShardsReadOnce(benchmark::State& state, Kind kind) {
  const std::string& folder = FolderOf(kind);
  std::size_t bytes = 0;
  for (auto _ : state) benchmark::DoNotOptimize(bytes = ReadShardFiles(folder));
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

// A fresh source each time: every entry is read and validated. heap_held_kB is what the source
// holds after the pass (its listing, what it remembers of each entry, SQLite's caches).
void BM_CacheFirstPass(benchmark::State& state, Kind kind) {
  FolderOf(kind);
  std::size_t entries = 0;
  double pass = 0;
  long held = 0, resident = 0;
  for (auto _ : state) {
    const long heapBefore = HeapKb();
    std::unique_ptr<BrowserCacheSource> source;
    pass += Timed([&] {
      source = SourceOf(kind);
      entries = Drain(*source);
    });
    state.PauseTiming();
    held = HeapKb() - heapBefore;
    resident = ResidentKb();
    source.reset();
    state.ResumeTiming();
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["entries_per_s"] = static_cast<double>(entries) * static_cast<double>(state.iterations()) / pass;
  state.counters["heap_held_kB"] = static_cast<double>(held);
  state.counters["resident_kB"] = static_cast<double>(resident);
}

// The source again and again over an unchanged cache: what its background reading costs idle.
void BM_CacheSteadyPass(benchmark::State& state, Kind kind) {
  const auto source = SourceOf(kind);
  Drain(*source);
  std::size_t entries = 0;
  for (auto _ : state) entries = Drain(*source);
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["parsed"] = static_cast<double>(source->LastWalk().parsed);
}

// The harvest pass of an idle tick over the cache alone (every entry tested, none copied).
void BM_CacheIdleTick(benchmark::State& state, Kind kind) {
  std::shared_ptr<BrowserCacheSource> source = SourceOf(kind);
  Drain(*source);
  const UnionCacheSource::SourceList members{source};
  SetUrlCache(std::make_shared<UnionCacheSource>([members] { return members; }));
  InitCacheBuffer();
  HarvestedKeys = std::make_unique<KeyedCollection>();
  const DateValue captureStart = DateValue::Now();
  const TempDir destination;
  HarvestCache(";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;", captureStart, destination.Path(), 0);
  for (auto _ : state) HarvestCache(";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;", captureStart, destination.Path(), 0);
  state.counters["entries"] = static_cast<double>(LastPassStatistics().entries);
  state.counters["copied"] = static_cast<double>(LastPassStatistics().copied);
  SetUrlCache(nullptr);
}

// A pass after the browser stored one new entry: what a tick costs while the person browses.
void BM_CachePassAfterOneNewEntry(benchmark::State& state, Kind kind) {
  const auto source = SourceOf(kind);
  Drain(*source);
  std::size_t entries = 0, parsed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    AddNewEntry(kind);
    state.ResumeTiming();
    entries = Drain(*source);
    parsed = source->LastWalk().parsed;
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.counters["parsed"] = static_cast<double>(parsed);
}

}  // namespace

BENCHMARK_CAPTURE(BM_SqlShardsReadOnce, journal, Kind::SqlJournal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SqlShardsReadOnce, wal, Kind::SqlWal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CacheFirstPass, Simple, Kind::Simple)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_CacheFirstPass, SqlJournal, Kind::SqlJournal)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_CacheFirstPass, SqlWal, Kind::SqlWal)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_CacheSteadyPass, Simple, Kind::Simple)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CacheSteadyPass, SqlJournal, Kind::SqlJournal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CacheSteadyPass, SqlWal, Kind::SqlWal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CacheIdleTick, Simple, Kind::Simple)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CacheIdleTick, SqlJournal, Kind::SqlJournal)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CacheIdleTick, SqlWal, Kind::SqlWal)->Unit(benchmark::kMillisecond);
// A fixed count: each iteration adds an entry to the cache.
BENCHMARK_CAPTURE(BM_CachePassAfterOneNewEntry, Simple, Kind::Simple)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK_CAPTURE(BM_CachePassAfterOneNewEntry, SqlJournal, Kind::SqlJournal)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
BENCHMARK_CAPTURE(BM_CachePassAfterOneNewEntry, SqlWal, Kind::SqlWal)->Unit(benchmark::kMillisecond)->Iterations(20);

BENCHMARK(BM_BareWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstPass)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FirstPassInBackground)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SteadyPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PassAfterOneChange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SettledPassAfterOneChange)->Arg(100)->Arg(10)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_SteadyHarvestPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockfileBareRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockfileFirstPass)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BlockfileSteadyPass)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  return RunWithRatios(argc, argv,
                       {{"BM_SteadyPass", "BM_BareWalk"},
                        {"BM_PassAfterOneChange", "BM_BareWalk"},
                        // Goal: near 1.
                        {"BM_SettledPassAfterOneChange/1", "BM_SettledPassAfterOneChange/10"},
                        {"BM_SettledPassAfterOneChange/1", "BM_SettledPassAfterOneChange/100"},
                        {"BM_SteadyHarvestPass", "BM_BareWalk"},
                        {"BM_FirstPass", "BM_BareWalk"},
                        {"BM_BlockfileSteadyPass", "BM_BlockfileBareRead"},
                        {"BM_CacheFirstPass/SqlJournal", "BM_CacheFirstPass/Simple"},
                        {"BM_CacheFirstPass/SqlWal", "BM_CacheFirstPass/Simple"},
                        {"BM_CacheSteadyPass/SqlJournal", "BM_CacheSteadyPass/Simple"},
                        {"BM_CacheSteadyPass/SqlWal", "BM_CacheSteadyPass/Simple"},
                        {"BM_CacheIdleTick/SqlJournal", "BM_CacheIdleTick/Simple"},
                        {"BM_CacheIdleTick/SqlWal", "BM_CacheIdleTick/Simple"},
                        {"BM_CachePassAfterOneNewEntry/SqlJournal", "BM_CachePassAfterOneNewEntry/Simple"},
                        {"BM_CachePassAfterOneNewEntry/SqlWal", "BM_CachePassAfterOneNewEntry/Simple"},
                        // Goal: under 0.05.
                        {"BM_CachePassAfterOneNewEntry/SqlJournal", "BM_SqlShardsReadOnce/journal"},
                        {"BM_CachePassAfterOneNewEntry/SqlWal", "BM_SqlShardsReadOnce/wal"}});
}
