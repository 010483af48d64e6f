#pragma once
// What a source parsed of each entry, by entry id, kept across walks: an entry whose files keep
// their stamps is not read again, and entries whose files are gone are forgotten at the end of the
// walk that no longer meets them. For sources whose entries are not files of their own; the others
// keep what they parsed beside each file in their folder listing.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "cache/browser/ParsedEntry.h"

// What the files behind the entries' virtual paths ask of a source's parsed entries at copy time.
// Thread-safe: asked from the thread that copies while the source's own thread walks.
class EntryLookup {
 public:
  virtual ~EntryLookup() = default;
  // The listed entry behind id, or null (unknown, not listed, or failed a check).
  virtual ParsedEntryRef Listed(std::string_view id) = 0;
  // Keeps id out of the listing until its files change; ignored when id was parsed anew meanwhile.
  virtual void MarkFailed(std::string_view id, const ParsedEntry* parsed) = 0;
  // Puts replacement (the same entry, learned better at copy time) in the place of parsed; ignored
  // when id was parsed anew meanwhile. Counted as a failure: the next walk lists the replacement.
  virtual void Replace(std::string_view id, const ParsedEntry* parsed, ParsedEntryRef replacement) = 0;
  // How many times MarkFailed or Replace changed what a walk lists, so far.
  virtual std::uint64_t Failures() = 0;
};

class EntryMemo : public EntryLookup {
 public:
  // Starts a walk; EndWalk forgets every entry that Recall or Remember did not meet since.
  void BeginWalk();
  void EndWalk();

  // True when id was parsed from exactly these stamps; parsed is then what was learned, or null
  // when the entry failed a check at copy time (it stays out until its files change).
  bool Recall(std::string_view id, const StampSet& stamps, ParsedEntryRef& parsed);
  // Keeps parsed under its id (parsed->Id(), which the memo's key views: parsed must not change).
  void Remember(ParsedEntryRef parsed);

  ParsedEntryRef Listed(std::string_view id) override;
  void MarkFailed(std::string_view id, const ParsedEntry* parsed) override;
  std::uint64_t Failures() override;
  void Replace(std::string_view id, const ParsedEntry* parsed, ParsedEntryRef replacement) override;

  std::size_t Size();

 private:
  struct Slot {
    ParsedEntryRef parsed;
    std::uint32_t walk = 0;
    bool failed = false;
  };
  std::mutex mutex_;
  // Keyed by views of the ids the entries themselves hold, so that an id is not kept twice.
  std::unordered_map<std::string_view, Slot> slots_;
  std::uint32_t walk_ = 0;
  std::uint64_t failures_ = 0;
};
