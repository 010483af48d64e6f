#include "cache/browser/BrowserCacheSource.h"

#include "base/PathText.h"
#include "cache/browser/EntryBody.h"

namespace {

std::string WithoutTrailingSeparators(std::string folder) {
  while (folder.size() > 1 && IsPathSeparator(folder.back())) folder.pop_back();
  return folder;
}

// The files behind the virtual paths folder/id/name: sized and copied from the source's entries.
class EntryFiles : public VirtualFileProvider {
 public:
  EntryFiles(std::string folder, std::shared_ptr<EntryLookup> entries)
      : folder_(std::move(folder)), entries_(std::move(entries)) {}

  std::optional<std::uint64_t> SizeOf(const std::string& path) override {
    std::string id;
    const auto parsed = Resolve(path, id);
    if (!parsed) return std::nullopt;
    if (!EntryStillHolds(*parsed, folder_)) return std::nullopt;
    return parsed->size;
  }

  bool CopyTo(const std::string& path, const ByteSink& sink) override {
    std::string id;
    const auto parsed = Resolve(path, id);
    if (!parsed) return false;
    const BodyResult result = StreamEntryBody(*parsed, folder_, sink, &parsed->size);
    if (result.outcome == BodyOutcome::CheckFailed) entries_->MarkFailed(id, parsed.get());
    return result.outcome == BodyOutcome::Written;
  }

 private:
  ParsedEntryRef Resolve(const std::string& path, std::string& id) {
    if (path.size() <= folder_.size() + 1 || path.compare(0, folder_.size(), folder_) != 0 ||
        !IsPathSeparator(path[folder_.size()])) {
      return nullptr;
    }
    const std::string rest = path.substr(folder_.size() + 1);
    const std::size_t last = rest.find_last_of(kPathSeparator);
    if (last == std::string::npos) return nullptr;
    id = rest.substr(0, last);
    auto parsed = entries_->Listed(id);
    if (!parsed || parsed->Name() != std::string_view(rest).substr(last + 1)) return nullptr;
    return parsed;
  }

  std::string folder_;
  std::shared_ptr<EntryLookup> entries_;
};

template <typename Listing>
class ListedCursor : public CacheEntryCursor {
 public:
  ListedCursor(std::shared_ptr<const Listing> listing, std::uint64_t generation, std::string folder,
               std::shared_ptr<UnsettledItems> unsettled)
      : listing_(std::move(listing)),
        generation_(generation),
        folder_(std::move(folder) + kPathSeparator),
        unsettled_(std::move(unsettled)) {}

  bool Next(CacheEntry& entry) override {
    while (next_ < (only_ ? only_->size() : listing_->size())) {
      const std::size_t index = only_ ? (*only_)[next_] : next_;
      ++next_;
      const auto& item = (*listing_)[index];
      if (!item.parsed) continue;
      const ParsedEntry& parsed = *item.parsed;
      if (settledContext_ != 0 && parsed.settledContext == settledContext_ &&
          parsed.settledLastAccess == item.lastAccess) {
        continue;
      }
      last_ = &item;
      if (settledContext_ != 0) yielded_.push_back(static_cast<std::uint32_t>(index));
      FillEntry(parsed, item.lastAccess, entry);
      return true;
    }
    last_ = nullptr;
    if (settledContext_ != 0 && !finished_) {
      // A whole enumeration: what it yielded and was not settled is all a later one over the same
      // listing under the same context need look at.
      *unsettled_ = {generation_, settledContext_, std::move(yielded_)};
    }
    finished_ = true;
    return false;
  }

  // The entry as the enumeration yields it, made from what the parsed entry keeps.
  void FillEntry(const ParsedEntry& parsed, std::uint64_t lastAccess, CacheEntry& entry) const {
    entry.url = parsed.Url();
    const std::string name = parsed.Name();
    entry.localPath = folder_;
    entry.localPath += parsed.Id();
    entry.localPath += kPathSeparator;
    entry.localPath += name;
    entry.headers.clear();
    if (!parsed.ContentType().empty()) {
      entry.headers = "Content-Type: ";
      entry.headers += parsed.ContentType();
      entry.headers += "\r\n";
    }
    const std::size_t dot = name.rfind('.');
    entry.extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    entry.type = 1;  // an ordinary cache entry
    entry.useCount = parsed.useCount;
    entry.hitRate = 0;
    entry.size = parsed.size;
    entry.lastModified = parsed.lastModified;
    entry.expire = parsed.expire;
    entry.lastAccess = CacheFileTime::FromValue(lastAccess);
    entry.lastSync = parsed.lastSync;
  }

  void UseSettled(std::uint64_t context) override {
    settledContext_ = context;
    if (context == 0) return;
    if (unsettled_->generation == generation_ && unsettled_->context == context) {
      only_ = std::make_unique<std::vector<std::uint32_t>>(unsettled_->indices);
    } else {
      // Entries settled under another context from now on would no longer be settled under the
      // one kept: forget it.
      *unsettled_ = {};
    }
  }

  void Settle() override {
    if (!last_ || settledContext_ == 0) return;
    last_->parsed->settledContext = settledContext_;
    last_->parsed->settledLastAccess = last_->lastAccess;
    if (!yielded_.empty()) yielded_.pop_back();  // the entry yielded last
  }

 private:
  std::shared_ptr<const Listing> listing_;
  std::uint64_t generation_;
  std::string folder_;  // with a separator after it
  std::shared_ptr<UnsettledItems> unsettled_;
  std::unique_ptr<std::vector<std::uint32_t>> only_;  // the indices to look at; null: all
  std::size_t next_ = 0;
  const typename Listing::value_type* last_ = nullptr;
  std::uint64_t settledContext_ = 0;
  std::vector<std::uint32_t> yielded_;  // yielded and not settled, in order
  bool finished_ = false;
};

}  // namespace

BrowserCacheSource::BrowserCacheSource(std::string folder) : folder_(WithoutTrailingSeparators(std::move(folder))) {}

void BrowserCacheSource::ServeEntries(std::shared_ptr<EntryLookup> entries) {
  entries_ = std::move(entries);
  registration_ = virtual_files::Register(folder_, std::make_shared<EntryFiles>(folder_, entries_));
}

BrowserCacheSource::~BrowserCacheSource() = default;

std::unique_ptr<CacheEntryCursor> BrowserCacheSource::Open() {
  const bool changed = Refresh();
  // An entry that failed a check at copy time leaves the listing, as a walk would leave it out.
  const std::uint64_t failures = entries_->Failures();
  const bool walk = !listing_ || failures != failuresSeen_ || statistics_.unread > 0;
  if (walk || changed) {
    bool updated = false;
    if (!walk) {
      // Changed in place when no cursor holds it any more: a cursor's listing never changes.
      auto listing = listing_.use_count() == 1 ? listing_ : std::make_shared<std::vector<Listed>>(*listing_);
      WalkStatistics statistics = statistics_;
      statistics.parsed = 0;
      statistics.reused = false;
      updated = Update(*listing, statistics);
      if (updated) {
        statistics_ = statistics;
        listing_ = std::move(listing);
      }
    }
    if (!updated) {
      auto listed = std::make_shared<std::vector<Listed>>();
      WalkStatistics statistics;
      Walk(*listed, statistics);
      statistics_ = statistics;
      listing_ = std::move(listed);
    }
    ++listingGeneration_;
    failuresSeen_ = failures;
  } else {
    statistics_.parsed = 0;
    statistics_.reused = true;
  }
  return std::make_unique<ListedCursor<std::vector<Listed>>>(listing_, listingGeneration_, folder_, unsettled_);
}
