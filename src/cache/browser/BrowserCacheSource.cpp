#include "cache/browser/BrowserCacheSource.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

#include "base/NumberedError.h"
#include "base/PathText.h"
#include "cache/browser/ByteSource.h"
#include "cache/browser/EntryBody.h"
#include "cache/browser/EntryListing.h"

namespace {

std::string WithoutTrailingSeparators(std::string folder) {
  while (folder.size() > 1 && IsPathSeparator(folder.back())) folder.pop_back();
  return folder;
}

// The files behind the virtual paths folder/id/name: sized and copied from the source's entries.
class EntryFiles : public VirtualFileProvider {
 public:
  EntryFiles(std::string folder, std::shared_ptr<EntryLookup> entries, std::shared_ptr<FailedSinceWalk> failed)
      : folder_(std::move(folder)), entries_(std::move(entries)), failed_(std::move(failed)) {}

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
    if (result.outcome != BodyOutcome::CheckFailed && result.outcome != BodyOutcome::SizeDiffers) {
      return result.outcome == BodyOutcome::Written;
    }
    if (result.outcome == BodyOutcome::SizeDiffers && parsed->sizeFromTrailer) {
      // The trailer did not state the decoded size (several gzip members, or 4 GiB or more): the copy
      // of the wrong size is refused, and the next walk lists the entry with the size it decoded to.
      entries_->Replace(id, parsed.get(), WithDecodedSize(*parsed, result.written));
    } else {
      entries_->MarkFailed(id, parsed.get());
    }
    // Marked among the entries first: a walk that counts this one as before it sees the mark. Until
    // that walk, the listings already made leave the entry out.
    std::lock_guard lock(failed_->mutex);
    failed_->entries.push_back(parsed);
    return false;
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
  std::shared_ptr<FailedSinceWalk> failed_;
};

template <typename Listing>
class ListedCursor : public CacheEntryCursor {
 public:
  ListedCursor(std::shared_ptr<const Listing> listing, std::uint64_t generation, std::string folder,
               std::shared_ptr<UnsettledItems> unsettled, std::vector<const ParsedEntry*> failed)
      : listing_(std::move(listing)),
        generation_(generation),
        folder_(std::move(folder) + kPathSeparator),
        unsettled_(std::move(unsettled)),
        failed_(std::move(failed)) {
    std::sort(failed_.begin(), failed_.end());
  }

  bool Next(CacheEntry& entry) override {
    while (next_ < (only_ ? only_->size() : listing_->size())) {
      const std::size_t index = only_ ? (*only_)[next_] : next_;
      ++next_;
      const auto& item = (*listing_)[index];
      if (!item.parsed) continue;
      const ParsedEntry& parsed = *item.parsed;
      if (!failed_.empty() && std::binary_search(failed_.begin(), failed_.end(), &parsed)) continue;
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
  // Entries of the listing that failed a check at copy time since it was made (sorted); the
  // listing holds them, so they stay alive while the cursor does.
  std::vector<const ParsedEntry*> failed_;
  bool finished_ = false;
};

// While a walk keeps finding changes, the next one waits this many times as long as the last one
// took (at most kMostWalkSpacing), so that a cache changing all the time costs a bounded share of a
// core; an entry that could not be read, or a failure at copy time, is tried again after
// kRetrySpacing.
constexpr int kWalkSpacingFactor = 4;
constexpr auto kMostWalkSpacing = std::chrono::seconds(1);
constexpr auto kRetrySpacing = std::chrono::seconds(3);
// The changes kept for carrying unsettled entries over to newer listings: at least this many
// indices, or an eighth of the listing's items.
constexpr std::size_t kChangesHeld = 4096;

}  // namespace

BrowserCacheSource::BrowserCacheSource(std::string folder) : folder_(WithoutTrailingSeparators(std::move(folder))) {}

void BrowserCacheSource::ServeEntries(std::shared_ptr<EntryLookup> entries) {
  entries_ = std::move(entries);
  registration_ = virtual_files::Register(folder_, std::make_shared<EntryFiles>(folder_, entries_, failed_));
}

BrowserCacheSource::~BrowserCacheSource() = default;

void BrowserCacheSource::KeepCurrentOn(const std::shared_ptr<BrowserCacheSource>& source,
                                       const std::shared_ptr<BackgroundWorker>& worker,
                                       std::chrono::milliseconds interval) {
  std::lock_guard lock(source->published_);
  source->worker_ = worker;
  source->job_ = worker->Add(
      [weak = std::weak_ptr<BrowserCacheSource>(source)] {
        const auto kept = weak.lock();
        if (!kept) return false;
        kept->BringUpToDate();
        return true;
      },
      interval);
}

void BrowserCacheSource::BringUpToDate() {
  std::lock_guard updating(updating_);
  std::uint64_t ticket = 0;
  bool background = false, forced = false;
  std::shared_ptr<const Listing> last;
  WalkStatistics lastStatistics;
  {
    std::lock_guard lock(published_);
    ticket = ++updatesBegun_;
    background = !worker_.expired();
    forced = std::exchange(forceWalk_, false);
    last = listing_;
    inBackground_ = background;
    lastStatistics = statistics_;
  }
  // Done, even when the look raises: a caller waiting for it must not wait for ever. The
  // exception goes on to whoever ran the update.
  struct Done {
    BrowserCacheSource& source;
    std::uint64_t ticket;
    ~Done() {
      {
        std::lock_guard lock(source.published_);
        source.updatesDone_ = ticket;
      }
      source.updated_.notify_all();
    }
  } done{*this, ticket};
  // A look that raises (out of memory, say) is told to the pass as this cache's problem, before a
  // caller waiting for it is let go.
  try {
    const auto now = std::chrono::steady_clock::now();
    // Kept in the background, the next look waits for its spacing after the last walk; the changes
    // wait for it in the watches.
    const auto spacing =
        std::min<std::chrono::steady_clock::duration>(kMostWalkSpacing, walkedFor_ * kWalkSpacingFactor);
    bool work = !last || !background || forced || now - walked_ >= spacing;
    bool changed = false;
    // Counted before the entries' failures are read: every failure among them is marked by then, so
    // the walk below leaves it out.
    std::size_t failedBefore = 0;
    std::uint64_t failures = 0;
    bool retry = false;
    // The files that this look cannot open, though they are there, are told to the pass.
    OpeningProblems problems;
    // The look opens the entries it reads relative to their folders.
    FolderOpenings folders;
    if (work) {
      changed = Refresh();
      {
        std::lock_guard lock(failed_->mutex);
        failedBefore = failed_->entries.size();
      }
      failures = entries_->Failures();
      retry = failures != failuresSeen_ || unread_ > 0;
      work = !last || changed || (retry && (!background || forced || now - walked_ >= kRetrySpacing));
    }
    if (work) {
      std::shared_ptr<Listing> listing;
      WalkStatistics statistics;
      bool walked = false;
      if (last && !retry) {
        // Only what the refresh found changed is looked at, in a copy that shares the chunks it
        // does not change: a cursor may hold the listing published last, and it never changes.
        listing = std::make_shared<Listing>(*last);
        statistics = lastStatistics;
        statistics.parsed = 0;
        statistics.reused = false;
        if (!Update(*listing, statistics)) listing.reset();
      }
      if (!listing) {
        std::vector<Listed> items;
        statistics = {};
        Walk(items, statistics);
        listing = std::make_shared<Listing>(std::move(items));
        walked = true;
      }
      // A walk cut short because the source is no longer kept current is not published.
      if (!Ending()) {
        walked_ = std::chrono::steady_clock::now();
        walkedFor_ = walked_ - now;
        failuresSeen_ = failures;
        unread_ = statistics.unread;
        {
          std::vector<std::uint32_t> changed;
          if (!walked && !listing->Shrunk()) {
            changed = listing->Changed();
            std::sort(changed.begin(), changed.end());
            changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
          }
          std::lock_guard lock(published_);
          listing_ = std::move(listing);
          ++listingGeneration_;
          statistics_ = statistics;
          if (walked || listing_->Shrunk()) {
            // Numbered anew, or items dropped: nothing of an older listing carries over.
            changes_.clear();
            changesHeld_ = 0;
            changesSince_ = listingGeneration_;
          } else {
            changesHeld_ += changed.size();
            changes_.push_back({listingGeneration_, std::move(changed)});
            while (changesHeld_ > std::max(kChangesHeld, listing_->size() / 8)) {
              changesHeld_ -= changes_.front().indices.size();
              changesSince_ = changes_.front().generation;
              changes_.pop_front();
            }
          }
        }
        // Only now: a listing yielded before the one just published still needs them left out.
        std::lock_guard lock(failed_->mutex);
        failed_->entries.erase(failed_->entries.begin(),
                               failed_->entries.begin() + static_cast<std::ptrdiff_t>(failedBefore));
      }
    } else {
      std::lock_guard lock(published_);
      statistics_.parsed = 0;
      statistics_.reused = true;
    }
    if (work || !problems.First().empty()) {
      std::lock_guard lock(published_);
      problem_ = problems.First();
    }
  } catch (const std::exception& error) {
    std::lock_guard lock(published_);
    problem_ = {folder_, ErrorReason(error)};
    throw;
  }
}

OpeningProblem BrowserCacheSource::Problem() const {
  std::lock_guard lock(published_);
  return problem_;
}

bool BrowserCacheSource::WaitUntilCurrentUnless(const std::function<bool()>& giveUp) {
  std::shared_ptr<BackgroundWorker> worker;
  std::unique_lock lock(published_);
  worker = worker_.lock();
  if (!worker) return true;  // each Open reads the cache as it is
  // An update that runs now may have refreshed before the call: the next one begins after it.
  const std::uint64_t wanted = updatesBegun_ + 1;
  // Everything that changed up to now is walked at once, whatever the spacing.
  forceWalk_ = true;
  lock.unlock();
  worker->RunSoon(job_);
  lock.lock();
  return WaitFor(
      updated_, lock, [&] { return updatesDone_ >= wanted; }, giveUp);
}

std::unique_ptr<CacheEntryCursor> BrowserCacheSource::Open() {
  if (worker_.expired()) BringUpToDate();
  std::shared_ptr<const Listing> listing;
  std::uint64_t generation = 0;
  // What the listings published after the one the unsettled entries were kept for changed.
  std::vector<std::uint32_t> changed;
  bool carried = false;
  {
    std::lock_guard lock(published_);
    listing = listing_;
    generation = listingGeneration_;
    opened_ = statistics_;
    const std::uint64_t kept = unsettled_->generation;
    if (kept != 0 && kept != generation && kept >= changesSince_) {
      carried = true;
      for (const Changes& update : changes_) {
        if (update.generation <= kept) continue;
        changed.insert(changed.end(), update.indices.begin(), update.indices.end());
      }
    }
  }
  if (carried) {
    // An entry left out of the unsettled ones was settled, or empty, and nothing changed it since:
    // it stays so in this listing. What changed is looked at again.
    std::sort(changed.begin(), changed.end());
    std::vector<std::uint32_t> indices;
    indices.reserve(unsettled_->indices.size() + changed.size());
    std::set_union(unsettled_->indices.begin(), unsettled_->indices.end(), changed.begin(), changed.end(),
                   std::back_inserter(indices));
    unsettled_->indices = std::move(indices);
    unsettled_->generation = generation;
  }
  if (!listing) listing = std::make_shared<const Listing>();
  std::vector<const ParsedEntry*> failed;
  {
    std::lock_guard lock(failed_->mutex);
    for (const auto& entry : failed_->entries) failed.push_back(entry.get());
  }
  return std::make_unique<ListedCursor<Listing>>(std::move(listing), generation, folder_, unsettled_,
                                                 std::move(failed));
}

void BrowserCacheSource::LookedFiles::TakeBack(std::uint32_t file, Listed& item, WalkStatistics& statistics) {
  if (item.parsed) --statistics.listed;
  if (counted_.size() <= file) counted_.resize(file + 1);
  if (counted_[file]) --statistics.files;
  counted_[file] = false;
  item = {};
}

void BrowserCacheSource::LookedFiles::Count(std::uint32_t file, WalkStatistics& statistics) {
  ++statistics.files;
  counted_[file] = true;
}

void BrowserCacheSource::LookedFiles::List(const ParsedEntryRef& parsed, std::uint64_t lastAccess, Listed& item,
                                           WalkStatistics& statistics) {
  if (!parsed || !parsed->listed) return;
  ++statistics.listed;
  item = {parsed, lastAccess};
}

BrowserCacheSource::Listing::Listing(std::vector<Listed>&& items) : id_(NextId()) {
  resize(items.size());
  for (std::size_t at = 0; at < items.size(); ++at) {
    pages_[at / (kChunk * kPage)]->chunks[at / kChunk % kPage]->items[at % kChunk] = std::move(items[at]);
  }
  items.clear();
}

BrowserCacheSource::Listing::Page& BrowserCacheSource::Listing::OwnPage(std::size_t page) {
  if (pages_[page]->owner != id_) {
    auto copy = std::make_shared<Page>(*pages_[page]);
    copy->owner = id_;
    pages_[page] = std::move(copy);
  }
  return *pages_[page];
}

BrowserCacheSource::Listing::Chunk& BrowserCacheSource::Listing::OwnChunk(Page& page, std::size_t chunk) {
  if (page.chunks[chunk]->owner != id_) {
    auto copy = std::make_shared<Chunk>(*page.chunks[chunk]);
    copy->owner = id_;
    page.chunks[chunk] = std::move(copy);
  }
  return *page.chunks[chunk];
}

BrowserCacheSource::Listed& BrowserCacheSource::Listing::operator[](std::size_t index) {
  Page& page = OwnPage(index / (kChunk * kPage));
  Chunk& chunk = OwnChunk(page, index / kChunk % kPage);
  changed_.push_back(static_cast<std::uint32_t>(index));
  return chunk.items[index % kChunk];
}

void BrowserCacheSource::Listing::resize(std::size_t size) {
  if (size < size_) {
    shrunk_ = true;
    pages_.resize((size + kChunk * kPage - 1) / (kChunk * kPage));
    if (const std::size_t inPage = size % (kChunk * kPage); inPage != 0) {
      Page& page = OwnPage(pages_.size() - 1);
      page.chunks.resize((inPage + kChunk - 1) / kChunk);
      if (inPage % kChunk != 0) OwnChunk(page, page.chunks.size() - 1).items.resize(inPage % kChunk);
    }
    size_ = size;
    return;
  }
  while (size_ < size) {
    if (size_ % (kChunk * kPage) == 0) {
      pages_.push_back(std::make_shared<Page>());
      pages_.back()->owner = id_;
    }
    Page& page = OwnPage(pages_.size() - 1);
    if (size_ % kChunk == 0) {
      page.chunks.push_back(std::make_shared<Chunk>());
      page.chunks.back()->owner = id_;
    }
    Chunk& chunk = OwnChunk(page, page.chunks.size() - 1);
    const std::size_t add = std::min(size - size_, kChunk - chunk.items.size());
    chunk.items.resize(chunk.items.size() + add);
    size_ += add;
  }
}
