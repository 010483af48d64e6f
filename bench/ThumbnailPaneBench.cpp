// The UI-thread cost of the thumbnail pane per file the harvest places, with 100, 1,000 and
// 10,000 files already in the folder shown (the cost should not grow with the folder; Qt's file
// system model, which the pane no longer uses, alongside for comparison), the re-listing that
// changes by other programs cause, and the
// window's tick over a cache of 20,000 entries that holds nothing new: its time and how much
// memory it leaves behind or needs at its peak; and the window's ticks over synthetic Chromium and
// Firefox caches in the real formats (TAVRIN_BENCH_ENTRIES entries each, 20,000 by default), read
// on the tick or in the background: the UI-thread time of the first tick that meets every entry
// and of the idle ticks after it, against a bare list + stat walk of the same folders.
//
//   QT_QPA_PLATFORM=offscreen build/bin/thumbnail_pane_bench
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemModel>
#include <QImage>
#include <QListView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>

#include <dirent.h>
#include <sys/stat.h>

#include "BenchSettings.h"
#include "RatioReporter.h"
#include "SyntheticCaches.h"
#include "UnusedEntriesCache.h"
#include "cache/ListCacheSource.h"
#include "cache/UrlCacheEnumeration.h"
#include "cache/discovery/Discovery.h"
#include "harvest/cmnWinInet.h"
#include "main/WindowLayout.h"
#include "main/frmMain.h"

namespace {

QByteArray SmallJpeg() {
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPG");
  return bytes;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) std::abort();
}

// Handles events until done() holds, sleeping while there are none (so that the CPU time of the
// benchmark thread is the work it does, not the wait for a worker thread).
void RunEventsUntil(const std::function<bool()>& done) {
  QTimer wake;  // wakes the wait now and then, so a condition without an event is seen too
  wake.start(50);
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 60000) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// One file arriving as the harvest places it (written under a hidden name, renamed into place;
// not timed), then the pane told and every event that follows handled (timed): the insertion,
// the view's layout and paint, decodes of what is in view, and the debounced re-listing that the
// folder's changes cause.
void FileArrives(benchmark::State& state, int existing) {
  QTemporaryDir folder;
  const QByteArray jpeg = SmallJpeg();
  for (int i = 0; i < existing; ++i) WriteFile(folder.filePath(QStringLiteral("img%1.jpg").arg(i * 2)), jpeg);

  WebBrowserPane pane;
  pane.resize(ControlRect("WebBrowser1").Pixels().size());
  pane.show();
  pane.Navigate2(folder.path());
  FolderListingModel* files = pane.Thumbnails()->Files();
  RunEventsUntil([&] { return !files->ListingPending() && pane.Thumbnails()->DecodesPending() == 0; });
  if (files->rowCount() != existing) state.SkipWithError("the folder was not listed");

  int arrived = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // Spread over the folder: each lands at its own sorted place, some of them in view.
    const int near = (arrived * 7919) % existing * 2;
    const QString name = QStringLiteral("img%1_%2.jpg").arg(near).arg(arrived);
    WriteFile(folder.filePath(QLatin1Char('.') + name), jpeg);
    QFile::rename(folder.filePath(QLatin1Char('.') + name), folder.filePath(name));
    ++arrived;
    state.ResumeTiming();
    pane.FileArrived(folder.filePath(name));
    QApplication::processEvents();
  }
  if (files->rowCount() != existing + arrived) state.SkipWithError("an arriving file was not shown");
  state.counters["listings"] = files->ListingsStarted();
}

constexpr int kArrivals = 300;

// For comparison, the same arrivals shown by the file system model of Qt under the same view,
// which re-lists and re-reads the folder on every change: until the new row is shown.
void FileArrivesThroughFileSystemModel(benchmark::State& state, int existing) {
  QTemporaryDir folder;
  const QByteArray jpeg = SmallJpeg();
  for (int i = 0; i < existing; ++i) WriteFile(folder.filePath(QStringLiteral("img%1.jpg").arg(i * 2)), jpeg);
  QFileSystemModel model;
  model.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::AllDirs);
  QListView view;
  view.setViewMode(QListView::IconMode);
  view.setMovement(QListView::Static);
  view.setUniformItemSizes(true);
  view.setLayoutMode(QListView::Batched);
  view.setModel(&model);
  view.resize(ControlRect("WebBrowser1").Pixels().size());
  view.show();
  const QModelIndex root = model.setRootPath(folder.path());
  view.setRootIndex(root);
  RunEventsUntil([&] { return model.rowCount(root) == existing; });
  int arrived = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const int near = (arrived * 7919) % existing * 2;
    const QString name = QStringLiteral("img%1_%2.jpg").arg(near).arg(arrived);
    WriteFile(folder.filePath(QLatin1Char('.') + name), jpeg);
    QFile::rename(folder.filePath(QLatin1Char('.') + name), folder.filePath(name));
    ++arrived;
    state.ResumeTiming();
    RunEventsUntil([&] { return model.rowCount(root) == existing + arrived; });
  }
}
void BM_FileSystemModelArrives_100(benchmark::State& state) { FileArrivesThroughFileSystemModel(state, 100); }
void BM_FileSystemModelArrives_1000(benchmark::State& state) { FileArrivesThroughFileSystemModel(state, 1000); }
BENCHMARK(BM_FileSystemModelArrives_100)->Iterations(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FileSystemModelArrives_1000)->Iterations(100)->Unit(benchmark::kMicrosecond);

// The re-listing that changes by other programs cause, at most once every two seconds: the
// listing runs on a worker thread; the CPU time is the UI thread's share (applying the result).
void BM_Relist_10000(benchmark::State& state) {
  QTemporaryDir folder;
  const QByteArray jpeg = SmallJpeg();
  for (int i = 0; i < 10000; ++i) WriteFile(folder.filePath(QStringLiteral("img%1.jpg").arg(i * 2)), jpeg);
  FolderListingModel model;
  model.SetRelistInterval(0);
  model.SetFolder(folder.path());
  RunEventsUntil([&] { return !model.ListingPending(); });
  int added = 0;
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(folder.filePath(QStringLiteral("img%1.jpg").arg(added * 2 + 1)), jpeg);  // by another program
    ++added;
    const int listings = model.ListingsStarted();
    RunEventsUntil([&] { return model.ListingsStarted() > listings; });
    state.ResumeTiming();
    RunEventsUntil([&] { return !model.ListingPending(); });
  }
  if (model.rowCount() != 10000 + added) state.SkipWithError("a file added by another program was not shown");
}
BENCHMARK(BM_Relist_10000)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_FileArrives_100(benchmark::State& state) { FileArrives(state, 100); }
void BM_FileArrives_1000(benchmark::State& state) { FileArrives(state, 1000); }
void BM_FileArrives_10000(benchmark::State& state) { FileArrives(state, 10000); }
BENCHMARK(BM_FileArrives_100)->Iterations(kArrivals)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FileArrives_1000)->Iterations(kArrivals)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FileArrives_10000)->Iterations(kArrivals)->Unit(benchmark::kMicrosecond);

// Resident memory now, and the highest it has been, in kilobytes.
long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The window's tick over 20,000 cache entries last used before the capture started: every entry
// is looked at, none is copied. The window shows the capture folder as thumbnails meanwhile.
void BM_WindowTick_20000_NothingNew(benchmark::State& state) {
  constexpr int kEntries = 20000;
  QTemporaryDir folder;
  QDir(folder.path()).mkpath(QStringLiteral("program"));
  auto cache = MakeUnusedEntriesCache(kEntries, DateValue::Now());

  FormEnvironment environment;
  environment.executableFolder = folder.filePath(QStringLiteral("program"));
  environment.userDataFolder = folder.filePath(QStringLiteral("data"));
  environment.picturesFolder = folder.filePath(QStringLiteral("pictures"));
  environment.discoverCaches = [] { return std::vector<DiscoveredCache>{}; };
  environment.makeUrlCache = [cache] { return cache; };
  frmMain window(environment);
  window.show();
  window.findChild<QComboBox*>(QStringLiteral("cboFolder"))->setEditText(folder.filePath(QStringLiteral("dest")));
  window.cmdStart_Click();
  RunEventsUntil([&] { return !window.findChild<WebBrowserPane*>()->Thumbnails()->Files()->ListingPending(); });

  window.Timer1_Timer();  // the first tick builds what later ticks reuse
  const long residentBefore = ResidentKb();
  const long peakBefore = PeakKb();
  for (auto _ : state) window.Timer1_Timer();
  if (LastPassStatistics().entries != kEntries || LastPassStatistics().copied != 0) {
    state.SkipWithError("the tick did not look at every entry, or copied one");
  }
  state.counters["resident_growth_kB"] = static_cast<double>(ResidentKb() - residentBefore);
  state.counters["peak_growth_kB"] = static_cast<double>(PeakKb() - peakBefore);
  state.counters["resident_kB"] = static_cast<double>(ResidentKb());
  state.SetItemsProcessed(state.iterations() * kEntries);
  window.close();
}
BENCHMARK(BM_WindowTick_20000_NothingNew)->Iterations(20)->Unit(benchmark::kMillisecond);

// The two caches, written once for the whole run.
struct SyntheticCaches {
  QTemporaryDir folder;
  std::string chromium = folder.filePath(QStringLiteral("Default/Cache/Cache_Data")).toStdString();
  std::string firefox = folder.filePath(QStringLiteral("cache2")).toStdString();
  SyntheticCaches() {
    QDir().mkpath(QString::fromStdString(chromium));
    QDir().mkpath(QString::fromStdString(firefox));
    synthetic::WriteCaches(chromium, firefox, EntriesPerBrowser());
  }
};

SyntheticCaches& Caches() {
  static SyntheticCaches caches;
  return caches;
}

void BM_BareWalkOfTheCaches(benchmark::State& state) {
  Caches();
  for (auto _ : state) {
    benchmark::DoNotOptimize(BareWalk(Caches().chromium) + BareWalk(Caches().firefox + "/entries"));
  }
}

// Each iteration is an idle tick (UI-thread wall time); first_tick_ms is the first tick that meets
// every entry (the one that parses them all, when read on the tick). Read in the background, a
// tick at once after Start meets what is read so far (tick_at_start_ms), and current_after_ms is
// the time from Start until the background threads have read both caches.
void WindowTickOverCaches(benchmark::State& state, CacheReading reading) {
  const std::vector<DiscoveredCache> caches{{CacheKind::ChromiumSimple, Caches().chromium, true},
                                            {CacheKind::Firefox, Caches().firefox, true}};
  QTemporaryDir folder;
  QDir(folder.path()).mkpath(QStringLiteral("program"));
  FormEnvironment environment;
  environment.executableFolder = folder.filePath(QStringLiteral("program"));
  environment.userDataFolder = folder.filePath(QStringLiteral("data"));
  environment.picturesFolder = folder.filePath(QStringLiteral("pictures"));
  environment.discoverCaches = [] { return std::vector<DiscoveredCache>{}; };
  environment.makeUrlCache = [&] { return MakeUrlCacheOf(caches, reading); };
  QElapsedTimer sinceLoad;
  sinceLoad.start();
  frmMain window(environment);
  window.show();
  window.findChild<QComboBox*>(QStringLiteral("cboFolder"))->setEditText(folder.filePath(QStringLiteral("dest")));
  window.cmdStart_Click();
  const auto timedTick = [&] {
    QElapsedTimer clock;
    clock.start();
    window.Timer1_Timer();
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
  };
  if (reading == CacheReading::InBackground) {
    state.counters["tick_at_start_ms"] = timedTick();
    GetUrlCache()->WaitUntilCurrent();
    state.counters["current_after_ms"] = static_cast<double>(sinceLoad.nsecsElapsed()) / 1e6;
  }
  state.counters["first_tick_ms"] = timedTick();
  // Every listed entry (a few synthetic entries are not whole responses and are not listed).
  state.counters["first_tick_entries"] = static_cast<double>(LastPassStatistics().entries);
  if (LastPassStatistics().entries < static_cast<unsigned>(EntriesPerBrowser())) {
    state.SkipWithError("the first tick did not meet every entry");
  }
  for (auto _ : state) window.Timer1_Timer();
  state.counters["resident_kB"] = static_cast<double>(ResidentKb());
  window.close();
}

void BM_WindowTickOverCaches_ReadOnTheTick(benchmark::State& state) {
  WindowTickOverCaches(state, CacheReading::OnOpen);
}
void BM_WindowTickOverCaches_ReadInTheBackground(benchmark::State& state) {
  WindowTickOverCaches(state, CacheReading::InBackground);
}
BENCHMARK(BM_BareWalkOfTheCaches)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WindowTickOverCaches_ReadOnTheTick)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WindowTickOverCaches_ReadInTheBackground)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  return RunWithRatios(argc, argv,
                       {{"BM_FileArrives_1000", "BM_FileArrives_100"},
                        {"BM_FileArrives_10000", "BM_FileArrives_100"},
                        {"BM_FileSystemModelArrives_1000", "BM_FileSystemModelArrives_100"},
                        {"BM_FileSystemModelArrives_1000", "BM_FileArrives_1000"},
                        {"BM_WindowTickOverCaches_ReadOnTheTick", "BM_BareWalkOfTheCaches"},
                        {"BM_WindowTickOverCaches_ReadInTheBackground", "BM_BareWalkOfTheCaches"}});
}
