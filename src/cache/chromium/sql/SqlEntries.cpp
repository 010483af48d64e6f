#include "cache/chromium/sql/SqlEntries.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <optional>

#include "base/PathText.h"
#include "cache/browser/EntryBody.h"
#include "cache/browser/EntryListing.h"
#include "cache/browser/FileTimes.h"
#include "cache/chromium/common/ChromiumResponseInfo.h"

namespace {

// A version of a row found torn is read again at the next few walks, then left until it changes:
// a row the browser damaged for good must not cost a read every few seconds.
constexpr std::uint8_t kMostTornReads = 3;

std::uint32_t ReadLe32Value(Bytes bytes) {
  return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
         (std::uint32_t{bytes[3]} << 24);
}

Bytes ColumnBytes(sqlite3_stmt* statement, int column) {
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
  const int length = sqlite3_column_bytes(statement, column);
  return data && length > 0 ? Bytes(data, static_cast<std::size_t>(length)) : Bytes();
}

std::string_view ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  const int length = sqlite3_column_bytes(statement, column);
  return text ? std::string_view(text, static_cast<std::size_t>(length)) : std::string_view();
}

// The body of a validated row, streamed at copy time out of the shard's current snapshot: the row
// must still be the version validated and every piece the one validated, with its checksum.
class SqlStoredBody : public StoredBody {
 public:
  SqlStoredBody(std::shared_ptr<ShardView> view, std::int64_t resId, std::int32_t checkSum, std::int64_t bodyEnd,
                std::int32_t keyHash, std::vector<sqlcache::BlobRow> pieces, std::uint64_t storedLength)
      : view_(std::move(view)),
        resId_(resId),
        checkSum_(checkSum),
        bodyEnd_(bodyEnd),
        keyHash_(keyHash),
        pieces_(std::move(pieces)),
        storedLength_(storedLength) {}

  BodyOutcome Deliver(const StoredBytesFeed& feed) const override {
    const auto snapshot = view_->Current();
    std::string reason;
    const auto connection = snapshot ? snapshot->Connect(reason) : nullptr;
    if (!connection) return BodyOutcome::EntryChanged;
    SqlStatement row(*connection, "SELECT check_sum, body_end, doomed, cache_key_hash FROM resources WHERE res_id=?1");
    SqlStatement blobs(*connection, "SELECT start, end, check_sum, blob FROM blobs WHERE res_id=?1 ORDER BY start");
    if (!row.Prepared() || !blobs.Prepared()) return BodyOutcome::EntryChanged;
    row.Restart(resId_);
    if (row.Step() != SQLITE_ROW || sqlite3_column_int(row.get(), 0) != checkSum_ ||
        sqlite3_column_int64(row.get(), 1) != bodyEnd_ || sqlite3_column_int64(row.get(), 2) != 0 ||
        sqlite3_column_int(row.get(), 3) != keyHash_) {
      return BodyOutcome::EntryChanged;
    }
    blobs.Restart(resId_);
    std::uint64_t delivered = 0;
    for (const sqlcache::BlobRow& piece : pieces_) {
      if (blobs.Step() != SQLITE_ROW) return BodyOutcome::EntryChanged;
      if (sqlite3_column_int64(blobs.get(), 0) != piece.start || sqlite3_column_int64(blobs.get(), 1) != piece.end ||
          sqlite3_column_int(blobs.get(), 2) != piece.checkSum) {
        return BodyOutcome::EntryChanged;
      }
      const Bytes bytes = ColumnBytes(blobs.get(), 3);
      if (static_cast<std::int64_t>(bytes.size()) != piece.end - piece.start ||
          sqlcache::CheckSum(bytes, keyHash_) != piece.checkSum) {
        return BodyOutcome::CheckFailed;
      }
      // A range entry's last piece may reach past the resource it holds.
      const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), storedLength_ - delivered));
      if (take > 0 && !feed(bytes.data(), take)) return BodyOutcome::SinkRefused;
      delivered += take;
    }
    return delivered == storedLength_ ? BodyOutcome::Written : BodyOutcome::CheckFailed;
  }

  std::optional<std::uint32_t> LastFourBytes() const override { return tail_; }
  void SetLastFourBytes(std::optional<std::uint32_t> tail) { tail_ = tail; }

 private:
  std::shared_ptr<ShardView> view_;
  std::int64_t resId_;
  std::int32_t checkSum_;
  std::int64_t bodyEnd_;
  std::int32_t keyHash_;
  std::vector<sqlcache::BlobRow> pieces_;
  std::uint64_t storedLength_;
  std::optional<std::uint32_t> tail_;
};

enum class RowRead { Entry, Torn };

// Validates one resources row (the statement's current row) and makes its entry; kept.parsed stays
// null when the row holds nothing to list now.
RowRead ReadRow(sqlite3_stmt* row, SqlStatement& blobs, SqlStatement& tail, unsigned shard, const std::string& folder,
                const std::shared_ptr<ShardView>& view, KeptRow& kept) {
  const std::int64_t resId = sqlite3_column_int64(row, 0);
  const std::string_view key = ColumnText(row, 6);
  const std::int32_t keyHash = kept.keyHash;
  const Bytes head = ColumnBytes(row, 7);
  if (sqlcache::KeyHash(key) != keyHash || sqlcache::CheckSum(head, keyHash) != kept.checkSum) return RowRead::Torn;
  if (head.empty()) return RowRead::Entry;  // still being written: its head comes last

  auto parsed = CountedRef<ParsedEntry>::Make();
  parsed->SetId(SqlEntryId(shard, resId));
  parsed->lastModified = CacheFileTime::FromValue(kept.lastUsed);
  parsed->lastAccess = parsed->lastModified;
  kept.parsed = parsed;
  const auto info = ParseResponseInfo(head);
  if (!info || info->truncated) return RowRead::Entry;
  const auto response = ParseNulSeparatedHeaders(info->headerBlock);
  if (!response) return RowRead::Entry;
  parsed->lastSync = CacheFileTime::FromValue(WindowsEpochMicrosecondsToFileTime(info->responseTime));

  std::vector<sqlcache::BlobRow> pieces;
  blobs.Restart(resId);
  int step = SQLITE_ROW;
  while ((step = blobs.Step()) == SQLITE_ROW) {
    // The pieces come by the unique (res_id, start) index, so each starts above the last; a start
    // met again is a damaged index that would otherwise yield pieces for ever.
    const std::int64_t start = sqlite3_column_int64(blobs.get(), 0);
    if (!pieces.empty() && start <= pieces.back().start) return RowRead::Torn;
    pieces.push_back({start, sqlite3_column_int64(blobs.get(), 1),
                      static_cast<std::int32_t>(sqlite3_column_int(blobs.get(), 2)),
                      sqlite3_column_int64(blobs.get(), 3)});
  }
  if (step != SQLITE_DONE) return RowRead::Torn;
  const auto coverage = sqlcache::CoverBody(*response, kept.bodyEnd, pieces);
  if (coverage.verdict == sqlcache::BodyCoverage::Verdict::Torn) return RowRead::Torn;
  if (coverage.verdict != sqlcache::BodyCoverage::Verdict::Whole || coverage.storedLength == 0) return RowRead::Entry;
  if (response->status != 206 && !IsWholeResponse(*response, coverage.storedLength)) return RowRead::Entry;
  auto stored = std::make_shared<SqlStoredBody>(view, resId, kept.checkSum, kept.bodyEnd, keyHash, coverage.pieces,
                                                coverage.storedLength);
  if (response->Find("Content-Encoding") && coverage.pieces.back().length >= 4) {
    // A gzip body may be sized by its trailer: its last four bytes, read with the row.
    tail.Restart(resId);
    sqlite3_bind_int64(tail.get(), 2, coverage.pieces.back().start);
    if (tail.Step() == SQLITE_ROW) {
      const Bytes bytes = ColumnBytes(tail.get(), 0);
      if (bytes.size() == 4) stored->SetLastFourBytes(ReadLe32Value(bytes));
    }
  }
  parsed->Extras().stored = std::move(stored);
  FinishEntry(*parsed, folder, UrlFromSimpleKey(key), *response, coverage.storedLength);
  return RowRead::Entry;
}

}  // namespace

std::string SqlEntryId(unsigned shard, std::int64_t resId) {
  return sqlcache::ShardFileName(shard) + "_" + std::to_string(resId);
}

bool ParseSqlEntryId(std::string_view id, unsigned& shard, std::int64_t& resId) {
  const std::size_t mark = id.find('_');
  if (mark == std::string_view::npos) return false;
  const auto parsedShard = sqlcache::ShardOfFileName(id.substr(0, mark));
  if (!parsedShard || id.substr(0, mark).size() != sqlcache::ShardFileName(*parsedShard).size()) return false;
  const std::string_view number = id.substr(mark + 1);
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), resId);
  if (error != std::errc() || end != number.data() + number.size()) return false;
  shard = *parsedShard;
  return true;
}

bool ReadShardRows(const ShardSnapshot& snapshot, unsigned shard, bool shardChanged, const std::string& folder,
                   const ShardRows& kept, const std::shared_ptr<ShardView>& view, std::map<std::int64_t, KeptRow>& next,
                   ShardReadCounts& counts, std::string& reason) {
  const auto connection = snapshot.Connect(reason);
  if (!connection) return false;
  const auto failed = [&] {
    reason = connection->LastError();
    return false;
  };
  SqlStatement version(*connection, "SELECT value FROM meta WHERE key='version'");
  if (!version.Prepared() || version.Step() != SQLITE_ROW) return failed();
  if (sqlite3_column_int(version.get(), 0) != sqlcache::kSchemaVersion) {
    reason = "its tables are of version " + std::string(ColumnText(version.get(), 0)) +
             ", which this version of Tavrin cannot read";
    counts.unknownVersion = true;
    return false;
  }
  SqlStatement rows(*connection,
                    "SELECT res_id, last_used, body_end, doomed, check_sum, cache_key_hash, cache_key, head "
                    "FROM resources ORDER BY res_id");
  SqlStatement blobs(*connection,
                     "SELECT start, end, check_sum, length(blob) FROM blobs WHERE res_id=?1 ORDER BY start");
  SqlStatement tail(*connection, "SELECT substr(blob, -4) FROM blobs WHERE res_id=?1 AND start=?2");
  if (!rows.Prepared() || !blobs.Prepared() || !tail.Prepared()) return failed();
  int step = SQLITE_ROW;
  std::optional<std::int64_t> lastResId;
  while ((step = rows.Step()) == SQLITE_ROW) {
    sqlite3_stmt* row = rows.get();
    const std::int64_t resId = sqlite3_column_int64(row, 0);
    // Rows come in res_id order, the table's own key: a res_id met again is a damaged table whose
    // pages lead back to themselves, which would otherwise be walked for ever.
    if (lastResId && resId <= *lastResId) {
      reason = "its resources table is damaged: row " + std::to_string(resId) + " comes again";
      return false;
    }
    lastResId = resId;
    ++counts.rows;
    if (sqlite3_column_int64(row, 3) != 0) continue;  // doomed: deleted once the browser lets it go
    KeptRow now;
    now.checkSum = sqlite3_column_int(row, 4);
    now.keyHash = sqlite3_column_int(row, 5);
    now.bodyEnd = sqlite3_column_int64(row, 2);
    now.lastUsed = WindowsEpochMicrosecondsToFileTime(sqlite3_column_int64(row, 1));
    const auto before = kept.rows.find(resId);
    const bool sameVersion = before != kept.rows.end() && before->second.checkSum == now.checkSum &&
                             before->second.keyHash == now.keyHash && before->second.bodyEnd == now.bodyEnd;
    const std::uint8_t tornReads = sameVersion ? before->second.tornReads : 0;
    if (sameVersion && (tornReads == 0 || (!shardChanged && tornReads >= kMostTornReads))) {
      KeptRow& reused = next[resId] = before->second;
      reused.lastUsed = now.lastUsed;
      continue;
    }
    ++counts.parsed;
    if (ReadRow(row, blobs, tail, shard, folder, view, now) == RowRead::Torn) {
      now.parsed = nullptr;
      now.tornReads = static_cast<std::uint8_t>(std::min<int>(tornReads + 1, kMostTornReads));
      if (now.tornReads < kMostTornReads) ++counts.unread;
    }
    next[resId] = std::move(now);
  }
  if (step != SQLITE_DONE) return failed();
  return true;
}

KeptRow* SqlEntries::Find(std::string_view id) {
  unsigned shard = 0;
  std::int64_t resId = 0;
  if (!ParseSqlEntryId(id, shard, resId) || shard >= shards_.size() || !shards_[shard].readable) return nullptr;
  const auto found = shards_[shard].rows.find(resId);
  return found == shards_[shard].rows.end() ? nullptr : &found->second;
}

ParsedEntryRef SqlEntries::Listed(std::string_view id) {
  std::lock_guard lock(mutex_);
  const KeptRow* row = Find(id);
  if (!row || row->failed || !row->parsed || !row->parsed->listed) return nullptr;
  return row->parsed;
}

void SqlEntries::MarkFailed(std::string_view id, const ParsedEntry* parsed) {
  std::lock_guard lock(mutex_);
  KeptRow* row = Find(id);
  if (!row || row->parsed.get() != parsed || row->failed) return;
  row->failed = true;
  ++failures_;
}

void SqlEntries::Replace(std::string_view id, const ParsedEntry* parsed, ParsedEntryRef replacement) {
  std::lock_guard lock(mutex_);
  KeptRow* row = Find(id);
  if (!row || row->parsed.get() != parsed) return;
  row->parsed = std::move(replacement);
  ++failures_;
}

std::uint64_t SqlEntries::Failures() {
  std::lock_guard lock(mutex_);
  return failures_;
}
