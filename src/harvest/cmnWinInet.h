#pragma once
// The cache harvester: one pass over the URL cache, the per-entry tests, naming and copying.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
// de-dup tests is copied into destinationFolder. A failure that belongs to one entry (a damaged or
// changing entry, a name the destination refuses) ends only that entry: it is reported once
// (LastPassStatistics().failedEntries), left for a later pass, and the pass goes on. Any other
// error ends the pass (LastPassStatistics says why); the entry that failed is met again by the next
// pass. An entry that failed is tried again once it changes, or after a few passes. The pass belongs to the capture
// whose HarvestedKeys it started with: once that collection is released or replaced (Stop, Start) while events run, the
// pass ends at its next step and copies nothing more.
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

// What kind of trouble ended a pass, for a report in plain words.
enum class PassErrorKind {
  None,
  FolderMissing,     // the destination folder (or a folder above it) is gone
  DiskFull,          // no space left, or over a quota or size limit
  PermissionDenied,  // the folder cannot be written (permissions, a read-only file system)
  SourceUnreadable,  // a cached file could not be read (damaged, vanished, locked)
  NameRefused,       // the destination does not take the name of one copy (too long, not allowed)
  Exhausted,         // out of memory or file descriptors
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
  // The system error whose words Reason is; 0 when the reason was given or is no system's.
  int ReasonCode() const { return reasonCode_; }
  // True when the failure belongs to the entry being copied, not to the destination as a whole.
  bool OfOneEntry() const { return kind_ == PassErrorKind::SourceUnreadable || kind_ == PassErrorKind::NameRefused; }
  // "<action> <path>: <reason>", e.g. "cannot write into /pictures/today: No space left on device".
  std::string Line() const { return action_ + " " + path_ + ": " + reason_; }

 private:
  PassErrorKind kind_;
  std::string action_, path_, reason_;
  int reasonCode_;
};

// What became of one copy, made where the copy happens.
struct CopyOutcome {
  enum class Kind {
    Copied,             // placed under the target's own name
    CopiedUnderNumber,  // placed as "<base>_<n>.<extension>": the name was taken by other contents
    AlreadyPresent,     // the target or a numbered copy already holds the same bytes
    Failed,             // nothing placed; failure says what failed, where, and why
  };
  Kind kind = Kind::Failed;
  std::string source;
  std::string target;  // the file that holds the entry now; empty when the copy failed
  std::optional<CopyFailure> failure;
};

// Copies source to target, or to target with "_1", "_2", ... before the extension when a file of
// that name exists. Never replaces or leaves a partial file. With skipSameSize, an existing target
// or numbered copy (up to the first free number) of the same size and the same contents counts as
// already present. Every failure the copy can meet (the folder, the disk, the name, the source) is
// a Failed outcome; it raises only on faults of the program.
CopyOutcome CopyWithoutReplacing(const std::string& source, const std::string& target, bool skipSameSize,
                                 const CopyOrigin& origin = {});
// CopyWithoutReplacing for the entry harvest: a failed copy raises its CopyFailure; any other
// outcome is counted in the pass's statistics and told to the harvest observer, and after a copy
// placed the pending events run.
void CopyFileUnique(const std::string& source, const std::string& target, bool skipSameSize,
                    const CopyOrigin& origin = {});

// True when the key is in the collection; false when it is not or there is no collection.
bool CollectionHasKey(const KeyedCollection* collection, const std::string& key);

// Told of every copy that holds its entry now (copied, under a number or already present).
void SetHarvestObserver(std::function<void(const CopyOutcome&)> observer);
// Ends the pass that runs now at its next step, as Stop does, without ending the capture: for a
// pending-events step that learns the program is to stop (Ctrl-C, the window closing). The pass
// reports it as endedByStop; the next pass runs as usual.
void EndRunningPass();

// An entry whose copy failed by a fault of its own, as reported.
struct EntryFailure {
  PassErrorKind kind = PassErrorKind::Other;
  std::string path;    // the cached file or the name refused
  std::string reason;  // the system's words for it
  std::string line;    // CopyFailure::Line
};

// Counts of the last pass, for callers that report them.
struct PassStatistics {
  std::uint64_t entries = 0;  // entries handed to HarvestEntry
  std::uint64_t copied = 0;
  std::uint64_t present = 0;   // found already in the folder
  std::uint64_t failed = 0;    // entries whose copy failed by a fault of their own, this pass
  std::uint64_t heldBack = 0;  // entries that failed before and are not tried again yet
  // The failures of this pass not reported before: an entry that keeps failing the same way is
  // reported once.
  std::vector<EntryFailure> failedEntries;
  bool endedByError = false;
  // One line in plain words: what failed, on which path, the system's reason (CopyFailure::Line).
  // Also set, with endedByError false, for the first entry failure newly reported by a pass that
  // went on.
  std::string error;
  PassErrorKind errorKind = PassErrorKind::None;
  std::string errorPath;    // the folder or file concerned; empty when none
  std::string errorReason;  // the system's words for it
  // The system error (errno, GetLastError) whose words errorReason is, for a caller that words it
  // in its own language; 0 when the reason is no system error's.
  int errorCode = 0;
  // Stop or Start ran while the pass let events run, or the pass was ended (EndRunningPass): it
  // ended there; this is no error.
  bool endedByStop = false;
};
const PassStatistics& LastPassStatistics();
// Marks stats as ended by a fault the pass did not expect (an exception other than a CopyFailure),
// with the system's words for it where it has them.
void NotePassFault(PassStatistics& stats, std::exception_ptr fault);
