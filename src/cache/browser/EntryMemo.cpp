#include "cache/browser/EntryMemo.h"

void EntryMemo::BeginWalk() {
  std::lock_guard lock(mutex_);
  ++walk_;
}

void EntryMemo::EndWalk() {
  std::lock_guard lock(mutex_);
  std::erase_if(slots_, [this](const auto& item) { return item.second.walk != walk_; });
}

bool EntryMemo::Recall(std::string_view id, const StampSet& stamps, ParsedEntryRef& parsed) {
  std::lock_guard lock(mutex_);
  const auto found = slots_.find(id);
  if (found == slots_.end() || !(found->second.parsed->stamps == stamps)) return false;
  found->second.walk = walk_;
  parsed = found->second.failed ? nullptr : found->second.parsed;
  return true;
}

void EntryMemo::Remember(ParsedEntryRef parsed) {
  std::lock_guard lock(mutex_);
  // The key views the id inside the entry it was made for; it is made anew with the entry.
  slots_.erase(parsed->Id());
  const std::string_view id = parsed->Id();
  slots_.emplace(id, Slot{std::move(parsed), walk_, false});
}

ParsedEntryRef EntryMemo::Listed(std::string_view id) {
  std::lock_guard lock(mutex_);
  const auto found = slots_.find(id);
  if (found == slots_.end() || found->second.failed || !found->second.parsed->listed) return nullptr;
  return found->second.parsed;
}

void EntryMemo::MarkFailed(std::string_view id, const ParsedEntry* parsed) {
  std::lock_guard lock(mutex_);
  const auto found = slots_.find(id);
  if (found != slots_.end() && found->second.parsed.get() == parsed && !found->second.failed) {
    found->second.failed = true;
    ++failures_;
  }
}

void EntryMemo::Replace(std::string_view id, const ParsedEntry* parsed, ParsedEntryRef replacement) {
  std::lock_guard lock(mutex_);
  const auto found = slots_.find(id);
  if (found == slots_.end() || found->second.parsed.get() != parsed || found->second.failed) return;
  const std::uint32_t walk = found->second.walk;
  slots_.erase(found);
  // The key views the id inside the entry it was made for.
  const std::string_view key = replacement->Id();
  slots_.emplace(key, Slot{std::move(replacement), walk, false});
  ++failures_;
}

std::size_t EntryMemo::Size() {
  std::lock_guard lock(mutex_);
  return slots_.size();
}

std::uint64_t EntryMemo::Failures() {
  std::lock_guard lock(mutex_);
  return failures_;
}
