#pragma once
// What a source parsed of each entry, by entry id (the entry file's path below the cache folder),
// kept across walks: an entry whose files keep their stamps is not read again, and entries whose
// files are gone are forgotten at the end of the walk that no longer meets them.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "cache/browser/ParsedEntry.h"

class EntryMemo {
 public:
  // Starts a walk; EndWalk forgets every entry that Recall or Remember did not meet since.
  void BeginWalk();
  void EndWalk();

  // True when id was parsed from exactly these stamps; parsed is then what was learned, or null
  // when the entry failed a check at copy time (it stays out until its files change).
  bool Recall(std::string_view id, const StampSet& stamps, std::shared_ptr<const ParsedEntry>& parsed);
  // Keeps parsed under its id (parsed->id, which the memo's key views: parsed must not change).
  void Remember(std::shared_ptr<const ParsedEntry> parsed);

  // The listed entry behind id, or null (unknown, not listed, or failed a check).
  std::shared_ptr<const ParsedEntry> Listed(const std::string& id);
  // Keeps id out of the listing until its files change; ignored when id was parsed anew meanwhile.
  void MarkFailed(const std::string& id, const ParsedEntry* parsed);

  // Puts replacement (the same entry, learned better at copy time) in the place of parsed; ignored
  // when id was parsed anew meanwhile.
  void Replace(const std::string& id, const ParsedEntry* parsed, std::shared_ptr<const ParsedEntry> replacement);

  std::size_t Size();
  // How many times MarkFailed or Replace changed what a walk lists, so far.
  std::uint64_t Failures();

 private:
  struct Slot {
    std::shared_ptr<const ParsedEntry> parsed;
    std::uint32_t walk = 0;
    bool failed = false;
  };
  std::mutex mutex_;
  // Keyed by views of the ids the entries themselves hold, so that an id is not kept twice.
  std::unordered_map<std::string_view, Slot> slots_;
  std::uint32_t walk_ = 0;
  std::uint64_t failures_ = 0;
};
