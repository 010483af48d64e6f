// The cache walk: probe and fetch every entry of the URL cache into the receive buffer and hand
// its record to the entry harvest.
#include <chrono>
#include <exception>
#include <functional>
#include <new>
#include <string>

#include "base/BackgroundWork.h"
#include "base/NumberedError.h"
#include "cache/UrlCacheEnumeration.h"
#include "harvest/CaptureSession.h"
#include "harvest/PassState.h"
#include "harvest/SettledEntries.h"
#include "harvest/cmnWinInet.h"

std::unique_ptr<clsMemMgt> CacheBuffer;
std::uint32_t CacheEntrySize = 0;

namespace {

constexpr std::int32_t kInitialBufferBytes = 8192;
// An entry is a record and a few strings; anything larger than this is not a cache entry we want.
constexpr std::uint32_t kLargestEntryBytes = 64u << 20;
// A fetch that keeps failing for the same entry would keep the walk from ever ending.
constexpr int kFailedFetchesInARow = 3;
// A pass over tens of thousands of entries takes longer than a frame even when it copies nothing,
// so the window also gets its pending events at least this often while the walk goes on, not only
// after each copy. Every place that handles those events already copes with a pass in progress.
constexpr auto kEventsAtLeastEvery = std::chrono::milliseconds(25);

// Grows the receive buffer when an entry needs more room than it has: the fetch must never be
// told a length larger than the block.
void EnsureRoomFor(std::uint32_t entryBytes) {
  if (!CacheBuffer) throw NumberedError(NumberedError::kObjectVariableNotSet, "Object variable not set");
  if (entryBytes <= static_cast<std::uint32_t>(CacheBuffer->Length())) return;
  if (entryBytes > kLargestEntryBytes) throw NumberedError(NumberedError::kOverflow, "Overflow");
  const std::uint32_t rounded = (entryBytes + 4095u) & ~4095u;
  CacheBuffer->Allocate(static_cast<std::int32_t>(rounded));
  if (static_cast<std::uint32_t>(CacheBuffer->Length()) < entryBytes || CacheBuffer->Handle() == 0) {
    throw NumberedError(NumberedError::kOutOfMemory, "Out of memory");
  }
}

void* ReceiveBuffer() { return reinterpret_cast<void*>(CacheBuffer->Handle()); }

// What tells the entry in the receive buffer from others across passes: its address and local path.
std::string EntryIdentity(const CacheEntryRecord& record) {
  const auto text = [&](std::uint32_t offset) {
    if (offset == 0 || offset >= CacheEntrySize) return std::string();
    return CacheBuffer->ExtractString(CacheBuffer->Handle() + offset,
                                      static_cast<std::int32_t>(CacheEntrySize - offset));
  };
  return text(record.lpszSourceUrlName) + '\n' + text(record.lpszLocalFileName);
}

// What changes when the entry changes: its size and times.
std::uint64_t EntryVersion(const CacheEntryRecord& record) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const std::uint64_t value : {std::uint64_t{record.dwSizeLow}, std::uint64_t{record.dwSizeHigh},
                                    record.LastAccessTime.Value(), record.LastModifiedTime.Value()}) {
    hash = (hash ^ value) * 1099511628211ULL;
  }
  return hash;
}

std::uint64_t FailureContext(const std::string& destinationFolder) {
  return std::hash<std::string>()(destinationFolder) ^ ((HarvestedKeys ? HarvestedKeys->Serial() : 0) << 1);
}

// Reports the failure of one entry in the pass's statistics: every one is counted, one not
// reported before is listed, and the first of those also fills the pass's error line.
void NoteEntryFailure(FailedEntries& failures, PassStatistics& stats, const CopyFailure& failure,
                      const std::string& identity, std::uint64_t version) {
  ++stats.failed;
  if (!failures.Failed(identity, version)) return;
  stats.failedEntries.push_back({failure.Kind(), failure.Path(), failure.Reason(), failure.Line()});
  if (!stats.error.empty()) return;
  stats.error = failure.Line();
  stats.errorKind = failure.Kind();
  stats.errorPath = failure.Path();
  stats.errorReason = failure.Reason();
  stats.errorCode = failure.ReasonCode();
}

}  // namespace

void NotePassFault(PassStatistics& stats, std::exception_ptr fault) {
  stats.endedByError = true;
  stats.errorKind = PassErrorKind::Other;
  stats.errorPath.clear();
  stats.errorReason.clear();
  stats.errorCode = 0;
  stats.error = "the pass failed";
  try {
    std::rethrow_exception(fault);
  } catch (const std::bad_alloc& error) {
    stats.errorKind = PassErrorKind::Exhausted;
    stats.errorReason = ErrorReason(error);
  } catch (const std::exception& error) {
    stats.errorReason = ErrorReason(error);
    if (const auto* numbered = dynamic_cast<const NumberedError*>(&error)) stats.errorCode = numbered->SystemError();
  } catch (...) {
  }
  if (!stats.errorReason.empty()) stats.error += ": " + stats.errorReason;
}

void InitCacheBuffer() {
  CacheBuffer = std::make_unique<clsMemMgt>();
  CacheBuffer->Allocate(kInitialBufferBytes);
}

void HarvestCache(const std::string& extensionList, const DateValue& captureStart, const std::string& destinationFolder,
                  std::int32_t minimumSizeKb) {
  CaptureSession& session = CaptureSession::Current();
  const bool lastPassEndedByError = session.Statistics().endedByError;
  PassStatistics& stats = session.BeginPass();
  // Entries whose decision cannot change are not handed over again while they stay as they are.
  SetUrlCacheSettledContext(
      session.Settling() ? settled_entries::ContextFor(HarvestedKeys ? HarvestedKeys->Serial() : 0, extensionList,
                                                       minimumSizeKb, captureStart, lastPassEndedByError)
                         : 0);
  FailedEntries& failures = session.Failures();
  failures.BeginPass(FailureContext(destinationFolder));
  CacheEnumHandle handle = nullptr;
  try {
    FileSystemObject fso;
    CacheEntryRecord record{};
    auto eventsDone = std::chrono::steady_clock::now();
    auto harvestFetched = [&] {
      CacheBuffer->ReadFrom(reinterpret_cast<std::uintptr_t>(&record), sizeof record);
      ++stats.entries;
      // An entry that failed by a fault of its own and has not changed waits a few passes; one
      // that fails now is reported and left for a later pass, and the walk goes on.
      std::string identity;
      if (!failures.None()) identity = EntryIdentity(record);
      if (!identity.empty() && failures.HeldBack(identity, EntryVersion(record))) {
        ++stats.heldBack;
      } else {
        session.TakeEntryDecided();
        try {
          HarvestEntry(fso, record, destinationFolder, minimumSizeKb, captureStart, extensionList);
          if (!identity.empty()) failures.Forget(identity);
        } catch (const CopyFailure& failure) {
          if (!failure.OfOneEntry()) throw;
          NoteEntryFailure(failures, stats, failure, identity.empty() ? EntryIdentity(record) : identity,
                           EntryVersion(record));
        }
        if (session.TakeEntryDecided()) SettleUrlCacheEntry(handle);
      }
      const auto now = std::chrono::steady_clock::now();
      if (now - eventsDone >= kEventsAtLeastEvery) {
        ProcessPendingEvents();
        pass_state::EnsureSameCapture();
        eventsDone = std::chrono::steady_clock::now();
      }
    };

    CacheEntrySize = 0;
    FindFirstUrlCacheEntry(nullptr, nullptr, &CacheEntrySize);
    if (static_cast<std::int32_t>(CacheEntrySize) > 0) {
      EnsureRoomFor(CacheEntrySize);
      handle = FindFirstUrlCacheEntry(nullptr, ReceiveBuffer(), &CacheEntrySize);
      if (handle) {
        harvestFetched();
        int failedFetches = 0;
        for (;;) {
          CacheEntrySize = 0;
          FindNextUrlCacheEntry(handle, nullptr, &CacheEntrySize);
          if (static_cast<std::int32_t>(CacheEntrySize) <= 0) break;
          EnsureRoomFor(CacheEntrySize);
          if (FindNextUrlCacheEntry(handle, ReceiveBuffer(), &CacheEntrySize)) {
            failedFetches = 0;
            harvestFetched();
          } else if (++failedFetches >= kFailedFetchesInARow) {
            break;
          }
        }
      }
    }
  } catch (const pass_state::CaptureEnded&) {
    stats.endedByStop = true;
  } catch (const CopyFailure& failure) {
    stats.endedByError = true;
    stats.error = failure.Line();
    stats.errorKind = failure.Kind();
    stats.errorPath = failure.Path();
    stats.errorReason = failure.Reason();
    stats.errorCode = failure.ReasonCode();
  } catch (...) {
    NotePassFault(stats, std::current_exception());
  }
  if (handle) FindCloseUrlCache(handle);
  SetUrlCacheSettledContext(0);
  // A cache whose own files could not be opened (a special file in place of one, no permission)
  // may be missing entries: said like a failed pass, naming the file.
  if (const auto cache = GetUrlCache(); cache && !stats.endedByError && !stats.endedByStop) {
    if (const OpeningProblem problem = cache->Problem(); !problem.empty()) {
      stats.endedByError = true;
      stats.errorKind = PassErrorKind::SourceUnreadable;
      stats.errorPath = problem.path;
      stats.errorReason = problem.reason;
      stats.errorCode = problem.code;
      stats.error = problem.Line();
    }
  }
  // The caches read on background threads could not be read (out of memory, say): the listing
  // walked is an old one, and the reading is tried again; said like a failed pass.
  if (const std::string failure = TakeBackgroundFailure(); !failure.empty() && !stats.endedByError) {
    stats.endedByError = true;
    stats.errorKind = PassErrorKind::Other;
    stats.errorPath.clear();
    stats.errorReason = failure;
    stats.errorCode = 0;
    stats.error = "cannot read the browser caches: " + failure;
  }
}
