#include "cache/chromium/sql/ChromiumSqlCacheSource.h"

#include "base/PathText.h"
#include "cache/chromium/common/ChromiumFolderFormat.h"
#include "cache/chromium/sql/SqlCacheFormat.h"

bool IsChromiumSqlCacheFolder(const std::string& folder) {
  return HoldsChromiumFormat(folder, ChromiumFolderKind::Sql);
}

ChromiumSqlCacheSource::ChromiumSqlCacheSource(std::string folder, FolderWatchOptions watch)
    : BrowserCacheSource(std::move(folder)), files_(Folder(), watch) {
  ServeEntries(entries_);
}

OpeningProblem ChromiumSqlCacheSource::Problem() const {
  {
    std::lock_guard lock(problemMutex_);
    if (!problem_.empty()) return problem_;
  }
  return BrowserCacheSource::Problem();
}

bool ChromiumSqlCacheSource::Refresh() {
  if (!files_.Refresh()) return false;
  if (files_.ChangedWhole()) {
    for (ShardStatus& shard : status_) shard.dirty = true;
    return true;
  }
  for (std::uint32_t file : files_.Changed()) {
    const auto shard = sqlcache::ShardOfFileName(files_.Name(file));
    if (shard && *shard < status_.size()) status_[*shard].dirty = true;
  }
  return true;
}

unsigned ChromiumSqlCacheSource::ShardCount() const {
  unsigned count = 0;
  while (true) {
    const auto file = files_.Number(sqlcache::ShardFileName(count));
    if (!file || !files_.Stamp(*file)) return count;
    ++count;
  }
}

void ChromiumSqlCacheSource::ReadShard(unsigned shard, WalkStatistics& statistics) {
  ShardStatus& status = status_[shard];
  const bool changed = status.dirty;
  status.dirty = false;
  status.retry = false;
  status.problem.clear();
  status.lasting = false;
  const std::string path = JoinPath(Folder(), sqlcache::ShardFileName(shard));
  // Only a WAL shard needs the private folder; without one, that shard alone cannot be read.
  std::string folderProblem;
  if (!privateFolder_) privateFolder_ = MakePrivateFolder(folderProblem);
  // What cannot be read now is not listed now; what was read of it before is kept for the next read.
  const auto unreadable = [&](std::string problem) {
    status.problem = std::move(problem);
    if (status.failedReads < UINT8_MAX) ++status.failedReads;
    status.retry = true;
    ++statistics.unread;
    std::lock_guard lock(entries_->Mutex());
    auto& shards = entries_->Shards();
    if (shards.size() <= shard) shards.resize(shard + 1);
    shards[shard].readable = false;
  };
  SnapshotFailure failure;
  const auto snapshot = ShardSnapshot::Take(path, privateFolder_ ? *privateFolder_ : std::string(), failure);
  if (!snapshot) {
    if (failure.needsPrivateFolder) failure.reason += ": " + folderProblem;
    status.lasting = failure.heldByBrowser || failure.needsPrivateFolder;
    unreadable(failure.reason);
    return;
  }
  std::shared_ptr<ShardView> view;
  ShardRows kept;
  {
    std::lock_guard lock(entries_->Mutex());
    auto& shards = entries_->Shards();
    if (shards.size() <= shard) shards.resize(shard + 1);
    view = shards[shard].view;
    kept.rows = shards[shard].rows;  // a copy: the copies' look-ups keep reading the rows meanwhile
  }
  // The rows are validated against the new snapshot while the copies still read the old one;
  // entries made now stream from the view, which holds the new snapshot before they are listed.
  const auto previous = view->Current();
  view->Set(snapshot);
  std::map<std::int64_t, KeptRow> next;
  ShardReadCounts counts;
  std::string reason;
  const bool read = ReadShardRows(*snapshot, shard, changed, Folder(), kept, view, next, counts, reason);
  statistics.parsed += counts.parsed;
  if (!read) {
    view->Set(previous);
    status.lasting = counts.unknownVersion;
    unreadable(reason);
    return;
  }
  status.failedReads = 0;
  statistics.unread += counts.unread;
  status.retry = counts.unread > 0;
  std::lock_guard lock(entries_->Mutex());
  entries_->Shards()[shard].rows = std::move(next);
  entries_->Shards()[shard].readable = true;
}

void ChromiumSqlCacheSource::Walk(std::vector<Listed>& out, WalkStatistics& statistics) {
  const unsigned count = ShardCount();
  status_.resize(count);
  for (unsigned shard = 0; shard < count && !Ending(); ++shard) {
    if (status_[shard].dirty || status_[shard].retry) ReadShard(shard, statistics);
  }
  // A read that fails now and then (the browser committing while it was read) is only "not now";
  // one that keeps failing, or cannot succeed while things stay as they are, is said.
  constexpr std::uint8_t kFailedReadsSaid = 3;
  OpeningProblem problem;
  for (unsigned shard = 0; shard < status_.size(); ++shard) {
    const ShardStatus& status = status_[shard];
    if (problem.empty() && !status.problem.empty() && (status.lasting || status.failedReads >= kFailedReadsSaid)) {
      problem = {JoinPath(Folder(), sqlcache::ShardFileName(shard)), status.problem};
    }
  }
  {
    std::lock_guard lock(problemMutex_);
    problem_ = problem;
  }
  std::lock_guard lock(entries_->Mutex());
  auto& shards = entries_->Shards();
  if (shards.size() > count) shards.resize(count);
  statistics.files = 0;
  for (const ShardRows& shard : shards) {
    if (!shard.readable) continue;
    statistics.files += shard.rows.size();
    for (const auto& [resId, row] : shard.rows) {
      if (!row.parsed || !row.parsed->listed || row.failed) continue;
      out.push_back({row.parsed, row.lastUsed});
    }
  }
  statistics.listed = out.size();
}
