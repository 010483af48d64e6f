#pragma once
// The common part of the browser cache sources: the virtual files behind the entries' local paths
// (registered for the cache folder while the source lives, served from the source's parsed
// entries), the cursor over one walk's listing, and keeping that listing current on background
// threads.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/BackgroundWork.h"

#include "base/VirtualFiles.h"
#include "cache/UrlCacheSource.h"
#include "cache/browser/EntryMemo.h"
#include "cache/browser/FolderListing.h"

// Counts of one walk, for callers that report them and for tests.
struct WalkStatistics {
  std::uint64_t files = 0;   // entry files met
  std::uint64_t parsed = 0;  // of them, read because they were new or changed
  std::uint64_t listed = 0;  // entries yielded
  std::uint64_t unread = 0;  // entries that could not be read now: the next walk tries them again
  bool reused = false;       // nothing had changed: the last walk's listing was yielded again
};

// The entries of one listing that a whole enumeration under a settled context left unsettled (by
// index). While the listing is yielded again, entries are only ever settled, never unsettled, so a
// later enumeration under the same context need look at these alone.
struct UnsettledItems {
  std::uint64_t generation = 0;  // of the listing; 0: none kept
  std::uint64_t context = 0;
  std::vector<std::uint32_t> indices;
};

// Entries that failed a check at copy time since the walk behind the current listing began: a
// listing yielded before the next walk leaves them out.
struct FailedSinceWalk {
  std::mutex mutex;
  std::vector<ParsedEntryRef> entries;
};

class BrowserCacheSource : public UrlCacheSource {
 public:
  ~BrowserCacheSource() override;
  // Yields the listed entries of the cache folder. By default the folder as it is now: walks it
  // when anything it depends on may have changed since the last walk, and yields the last walk's
  // listing again otherwise. Once kept current in the background, the listing the background
  // threads published last, without reading the cache (an empty one before the first).
  std::unique_ptr<CacheEntryCursor> Open() final;
  bool WaitUntilCurrentUnless(const std::function<bool()>& giveUp) final;
  // The first file of the folder that the last look at it could not open for a reason other than
  // its absence.
  OpeningProblem Problem() const override;
  const std::string& Folder() const { return folder_; }
  // The counts of the walk behind the listing that Open yielded last.
  const WalkStatistics& LastWalk() const { return opened_; }

  // From now on the listing is brought up to date on the worker's threads, every interval and
  // whenever WaitUntilCurrent asks, for as long as the source lives.
  static void KeepCurrentOn(const std::shared_ptr<BrowserCacheSource>& source,
                            const std::shared_ptr<BackgroundWorker>& worker, std::chrono::milliseconds interval);

 protected:
  explicit BrowserCacheSource(std::string folder);

  struct Listed {
    ParsedEntryRef parsed;         // null: nothing listed here
    std::uint64_t lastAccess = 0;  // FILETIME value
  };
  // The items of one listing, by index, in chunks of kChunk items gathered in pages of kPage
  // chunks. A copy shares every page and chunk with the listing it was made from; changing an item
  // copies the table of pages, that item's page (its chunk pointers) and its chunk (its items),
  // each once, so that an update made from a published listing costs about the same whatever the
  // listing's size, while the published listing stays as it was for the cursors that hold it. The
  // indices of the items handed out for change are kept, for the cursors that skip settled entries.
  class Listing {
   public:
    static constexpr std::size_t kChunk = 64;
    static constexpr std::size_t kPage = 64;
    using value_type = Listed;

    Listing() : id_(NextId()) {}
    // The walk's items, moved into chunks of their own.
    explicit Listing(std::vector<Listed>&& items);
    // Shares every page and chunk with from; nothing is changed yet.
    Listing(const Listing& from) : id_(NextId()), pages_(from.pages_), size_(from.size_) {}
    Listing& operator=(const Listing&) = delete;

    std::size_t size() const { return size_; }
    const Listed& operator[](std::size_t index) const {
      return pages_[index / (kChunk * kPage)]->chunks[index / kChunk % kPage]->items[index % kChunk];
    }
    // The item, to change: its page and chunk are copied first when they are shared.
    Listed& operator[](std::size_t index);
    // Empty items are added at the end, or the last ones dropped.
    void resize(std::size_t size);
    // The indices of the items handed out for change since the copy, in that order (an item handed
    // out twice is there twice). Shrunk: they do not cover what changed, as the dropped items are
    // not among them.
    const std::vector<std::uint32_t>& Changed() const { return changed_; }
    bool Shrunk() const { return shrunk_; }

   private:
    // Each made by one listing, its owner, and changed by it alone: a listing changes a page or a
    // chunk in place only when it is its own, and copies it first otherwise. Owners are told apart
    // by a number no other listing of the process gets, not by address: a listing made where a
    // freed one was must not take that one's pages, which a published listing may share.
    struct Chunk {
      std::uint64_t owner = 0;
      std::vector<Listed> items;
    };
    struct Page {
      std::uint64_t owner = 0;
      std::vector<std::shared_ptr<Chunk>> chunks;
    };
    static std::uint64_t NextId() {
      static std::atomic<std::uint64_t> next{0};
      return ++next;
    }
    Page& OwnPage(std::size_t page);
    Chunk& OwnChunk(Page& page, std::size_t chunk);

    std::uint64_t id_;
    std::vector<std::shared_ptr<Page>> pages_;
    std::vector<std::uint32_t> changed_;
    std::size_t size_ = 0;
    bool shrunk_ = false;
  };
  // The entry files a walk counted, for the formats with a file per entry: looking at a file again
  // first takes back what its last look counted, then counts it as it is now, so that a walk that
  // only updates what changed ends with the same counts as a whole walk.
  class LookedFiles {
   public:
    void Reset(std::size_t files) { counted_.assign(files, false); }
    // Takes back what the file's last look counted (the file, its listed entry); the item is empty.
    void TakeBack(std::uint32_t file, Listed& item, WalkStatistics& statistics);
    // Counts the file as one of the format's entry files.
    void Count(std::uint32_t file, WalkStatistics& statistics);
    // Lists parsed in item, and counts it, when it is a listed entry.
    static void List(const ParsedEntryRef& parsed, std::uint64_t lastAccess, Listed& item, WalkStatistics& statistics);

   private:
    std::vector<bool> counted_;  // by file number
  };
  // The parsed entries behind the virtual files; set once, by the source's constructor.
  void ServeEntries(std::shared_ptr<EntryLookup> entries);
  // What a walk lists of one entry file: the entry parsed from it before while it still matches the
  // file, else the file parsed anew and kept beside it. Null when the entry failed a check at copy
  // time (kept out until its file changes) or could not be read now (counted: the next walk tries
  // it again).
  template <typename StillMatches, typename ParseFile>
  static ParsedEntryRef KeptOrParsed(FolderListing& files, std::uint32_t file, StillMatches stillMatches,
                                     ParseFile parse, WalkStatistics& statistics) {
    ParsedEntryRef parsed = files.Parsed(file);
    if (parsed && stillMatches(*parsed)) return files.Failed(file) ? nullptr : parsed;
    ++statistics.parsed;
    parsed = parse();
    files.Keep(file, parsed);
    if (!parsed) ++statistics.unread;  // gone while it was read: met again next walk if it comes back
    return parsed;
  }
  // Lists the entries of the folder, parsing what the source does not hold yet, into out.
  virtual void Walk(std::vector<Listed>& out, WalkStatistics& statistics) = 0;
  // Brings what the source keeps of its folder up to date before a walk; false only when nothing
  // that Walk reads changed since the last call, so that its listing would come out the same.
  virtual bool Refresh() { return true; }
  // True once the threads that keep this source current are ending: a walk under way stops early,
  // and what it made is not published.
  bool Ending() const { return inBackground_ && worker_.expired(); }
  // Brings the last walk's listing up to date with what the last Refresh found changed, looking at
  // the changed entries alone, and adjusts statistics (parsed counts this update); false, with
  // listing and statistics untouched, when it cannot tell what changed: the folder is then walked.
  virtual bool Update(Listing& /*listing*/, WalkStatistics& /*statistics*/) { return false; }

 private:
  // Refreshes, and updates or walks into a new listing when needed; one at a time.
  void BringUpToDate();

  std::string folder_;
  std::shared_ptr<EntryLookup> entries_;
  std::shared_ptr<FailedSinceWalk> failed_ = std::make_shared<FailedSinceWalk>();
  virtual_files::Registration registration_;

  // Held by BringUpToDate: Refresh, Update and Walk and what they keep are used by one thread at a
  // time.
  std::mutex updating_;
  std::uint64_t failuresSeen_ = 0;                   // the entries' failures when the listing's walk began
  std::uint64_t unread_ = 0;                         // entries the last walk could not read
  std::chrono::steady_clock::time_point walked_;     // when the last walk ended
  std::chrono::steady_clock::duration walkedFor_{};  // and how long it took

  // What BringUpToDate publishes, under published_. A published listing never changes: a cursor
  // may hold it.
  mutable std::mutex published_;
  std::condition_variable updated_;
  std::shared_ptr<const Listing> listing_;  // the last walk's, or the last update's of it
  std::uint64_t listingGeneration_ = 0;
  // What the updates published since the last walk changed: the indices of the items each
  // changed, by the generation of the listing it published. It holds every change after
  // changesSince_, so that what a whole enumeration of an older listing left unsettled carries
  // over to the newest listing with these indices added. Bounded: the oldest go first.
  struct Changes {
    std::uint64_t generation = 0;
    std::vector<std::uint32_t> indices;  // sorted, each once
  };
  std::deque<Changes> changes_;
  std::size_t changesHeld_ = 0;  // indices in changes_
  std::uint64_t changesSince_ = 0;
  WalkStatistics statistics_;
  std::uint64_t updatesBegun_ = 0, updatesDone_ = 0;
  bool forceWalk_ = false;  // the next update walks whatever changed, at once
  OpeningProblem problem_;  // of the last update that looked at the folder

  // Kept in the background: by whom, under which job.
  std::weak_ptr<BackgroundWorker> worker_;
  std::atomic<bool> inBackground_ = false;  // the update under way runs on the background threads
  BackgroundWorker::JobId job_ = 0;

  // Used by the thread that opens the source only.
  WalkStatistics opened_;
  std::shared_ptr<UnsettledItems> unsettled_ = std::make_shared<UnsettledItems>();
};
