#pragma once
// The cache harvester: one pass over the URL cache, the per-entry tests, naming and copying.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/CacheTime.h"
#include "base/FileSystemObject.h"
#include "base/FolderPath.h"
#include "base/NumberedError.h"
#include "base/PendingEvents.h"
#include "cache/CacheEntryRecord.h"
#include "harvest/KeyedCollection.h"
#include "memory/clsMemMgt.h"

// The receive buffer of the cache walk and the in/out length of every enumeration call.
extern std::unique_ptr<clsMemMgt> CacheBuffer;
extern std::uint32_t CacheEntrySize;
// The de-dup keys of the entries harvested in the current capture; null once released.
extern std::unique_ptr<KeyedCollection> HarvestedKeys;

// Creates CacheBuffer with 8192 bytes, replacing any earlier one.
void InitCacheBuffer();

// One pass over the whole URL cache: every entry that passes the extension, video, size, time and
// de-dup tests is copied into destinationFolder. Any error ends the pass (LastPassStatistics says
// why); the entry that failed is met again by the next pass. The pass belongs to the capture whose
// HarvestedKeys it started with: once that collection is released or replaced (Stop, Start) while
// events run, the pass ends at its next step and copies nothing more.
void HarvestCache(const std::string& extensionList, const DateValue& captureStart, const std::string& destinationFolder,
                  std::int32_t minimumSizeKb);

// Decides for one entry whose strings are in CacheBuffer whether it is copied, and copies it.
// Raises on any failure.
void HarvestEntry(FileSystemObject& fso, const CacheEntryRecord& record, const std::string& destinationFolder,
                  std::int32_t minimumSizeKb, const DateValue& captureStart, const std::string& extensionList);

// Where a copy came from, marked on the new file (FileWriter::MarkOrigin).
struct CopyOrigin {
  std::string url;
  std::string mimeType;  // may be empty
};

// Copies source to target, or to target with "_1", "_2", ... before the extension when a file of
// that name exists. Never replaces or leaves a partial file. With skipSameSize, an existing target
// or numbered copy (up to the first free number) of the same size and the same contents counts as
// already present. Raises CopyFailure.
void CopyFileUnique(const std::string& source, const std::string& target, bool skipSameSize,
                    const CopyOrigin& origin = {});

// What kind of trouble ended a pass, for a report in plain words.
enum class PassErrorKind {
  None,
  FolderMissing,     // the destination folder (or a folder above it) is gone
  DiskFull,          // no space left, or over a quota or size limit
  PermissionDenied,  // the folder cannot be written (permissions, a read-only file system)
  SourceUnreadable,  // a cached file could not be read (damaged, vanished, locked)
  Other,
};

// A failure of the copy step: what it was doing, on which path, and the system's reason.
class CopyFailure : public NumberedError {
 public:
  // The reason is the system's words for cause, or reason when given.
  CopyFailure(const NumberedError& cause, PassErrorKind kind, std::string action, std::string path,
              std::string reason = {});
  PassErrorKind Kind() const { return kind_; }
  const std::string& Path() const { return path_; }
  const std::string& Reason() const { return reason_; }
  // "<action> <path>: <reason>", e.g. "cannot write into /pictures/today: No space left on device".
  std::string Line() const { return action_ + " " + path_ + ": " + reason_; }

 private:
  PassErrorKind kind_;
  std::string action_, path_, reason_;
};

// True when the key is in the collection; false when it is not or there is no collection.
bool CollectionHasKey(const KeyedCollection* collection, const std::string& key);

// What the harvest did with one entry it copied or found present; for callers that report it.
struct HarvestEvent {
  std::string source;
  std::string target;  // the file that holds the entry now
  bool skippedAsPresent = false;
};
void SetHarvestObserver(std::function<void(const HarvestEvent&)> observer);

// Counts of the last pass, for callers that report them.
struct PassStatistics {
  std::uint64_t entries = 0;  // entries handed to HarvestEntry
  std::uint64_t copied = 0;
  std::uint64_t present = 0;  // found already in the folder
  bool endedByError = false;
  // One line in plain words: what failed, on which path, the system's reason (CopyFailure::Line).
  std::string error;
  PassErrorKind errorKind = PassErrorKind::None;
  std::string errorPath;    // the folder or file concerned; empty when none
  std::string errorReason;  // the system's words for it
  // Stop or Start ran while the pass let events run: it ended there; this is no error.
  bool endedByStop = false;
};
const PassStatistics& LastPassStatistics();
