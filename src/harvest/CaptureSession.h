#pragma once
// What a capture keeps beside the module-wide CacheBuffer, CacheEntrySize and HarvestedKeys: the
// URL cache its passes read, who hears of its copies, the pending-events step, the counts of its
// last pass, the capture a running pass belongs to, and the entries whose copy failed by a fault of
// their own. The window, tavrin-harvest and the test fixtures each make one the same way; while it
// lives it is the current session, which every pass uses.
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "harvest/FailedEntries.h"
#include "harvest/cmnWinInet.h"

class UrlCacheSource;

struct CaptureWiring {
  // The URL cache the passes read (on Windows without one, the system's); may be given later.
  std::shared_ptr<UrlCacheSource> urlCache;
  // Told of every copy that holds its entry now (copied, under a number, already present).
  std::function<void(const CopyOutcome&)> observer;
  // Run wherever a pass lets pending events run (the window's event loop); it may call
  // EndRunningPass.
  std::function<void()> pendingEvents;
};

class CaptureSession {
 public:
  explicit CaptureSession(CaptureWiring wiring = {});
  // Uninstalls what it installed (the URL cache ends its background reading with it, unless another
  // holds it); the session made before it is current again, with its own URL cache.
  ~CaptureSession();
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  // Installs cache as the URL cache the passes read; null for none.
  void UseUrlCache(std::shared_ptr<UrlCacheSource> cache);
  void SetObserver(std::function<void(const CopyOutcome&)> observer) { observer_ = std::move(observer); }

  // The session made last that still lives; without one, the process's own, which nothing wires.
  static CaptureSession& Current();

  // A pass of the capture begins: its counts are reset and it belongs to HarvestedKeys as it is.
  PassStatistics& BeginPass();
  PassStatistics& Statistics() { return statistics_; }
  // Ends the running pass at its next step (EndRunningPass).
  void EndPass() { passEnded_ = true; }
  // True when Stop or Start replaced HarvestedKeys since the pass began, or EndPass was called.
  bool PassEnded() const;
  // Counts a copy that holds its entry now and tells the observer.
  void Record(const CopyOutcome& outcome);

  // Whether the entry being harvested was ignored by a test whose outcome only the entry can
  // change: the harvest marks it, the walk takes the mark and has the cache settle the entry.
  void MarkEntryDecided() { entryDecided_ = true; }
  bool TakeEntryDecided() { return std::exchange(entryDecided_, false); }
  // On by default; off hands every entry to every pass (for comparing both ways).
  void SetSettling(bool settling) { settling_ = settling; }
  bool Settling() const { return settling_; }

  FailedEntries& Failures() { return failures_; }

 private:
  CaptureSession* previous_;
  std::shared_ptr<UrlCacheSource> urlCache_;
  bool installedUrlCache_ = false;
  bool installedPendingEvents_ = false;
  std::function<void(const CopyOutcome&)> observer_;
  PassStatistics statistics_;
  std::uint64_t passCapture_ = 0;  // the serial of HarvestedKeys when the running pass began
  bool passEnded_ = false;
  bool entryDecided_ = false;
  bool settling_ = true;
  FailedEntries failures_;
};
