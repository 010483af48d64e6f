#include "support/SqlCacheFixtures.h"

#include <sqlite3.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "base/PathText.h"
#include "cache/chromium/common/SuperFastHash.h"
#include "support/CacheFixtures.h"

namespace fixtures {

namespace {

const char kSchema[] =
    "CREATE TABLE resources(res_id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, last_used INTEGER NOT NULL,"
    " hints INTEGER NOT NULL, body_end INTEGER NOT NULL, bytes_usage INTEGER NOT NULL, doomed INTEGER NOT NULL,"
    " check_sum INTEGER NOT NULL, cache_key_hash INTEGER NOT NULL, cache_key TEXT NOT NULL, head BLOB);"
    "CREATE TABLE blobs(blob_id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, res_id INTEGER NOT NULL,"
    " start INTEGER NOT NULL, end INTEGER NOT NULL, check_sum INTEGER NOT NULL, blob BLOB NOT NULL);"
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
    "CREATE INDEX index_resources_cache_key_hash_doomed ON resources(cache_key_hash, doomed);"
    "CREATE UNIQUE INDEX index_blobs_res_id_start ON blobs(res_id, start);"
    "INSERT INTO meta VALUES('version', '8'), ('last_compatible_version', '8');";

void Check(sqlite3* db, int result, const char* what) {
  if (result != SQLITE_OK && result != SQLITE_DONE && result != SQLITE_ROW) {
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error(sql + ": " + message);
  }
}

struct Statement {
  Statement(sqlite3* db, const char* sql) : db(db) {
    Check(db, sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), sql);
  }
  ~Statement() { sqlite3_finalize(statement); }
  Statement& Bind(int at, std::int64_t value) {
    sqlite3_bind_int64(statement, at, value);
    return *this;
  }
  Statement& Bind(int at, const std::string& bytes, bool text = false) {
    if (text) {
      sqlite3_bind_text(statement, at, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_blob(statement, at, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    }
    return *this;
  }
  int Step() {
    const int result = sqlite3_step(statement);
    Check(db, result, "step");
    return result;
  }
  sqlite3* db;
  sqlite3_stmt* statement = nullptr;
};

}  // namespace

std::vector<std::pair<std::int64_t, std::string>> SqlPieces(const std::string& body, std::size_t pieceSize) {
  std::vector<std::pair<std::int64_t, std::string>> pieces;
  for (std::size_t at = 0; at < body.size(); at += pieceSize) {
    pieces.emplace_back(static_cast<std::int64_t>(at), body.substr(at, pieceSize));
  }
  return pieces;
}

std::int32_t SqlKeyHash(const std::string& key) { return static_cast<std::int32_t>(SuperFastHash(key)); }

std::int32_t SqlCheckSum(const std::string& bytes, std::int32_t keyHash) {
  const auto hash = static_cast<std::uint32_t>(keyHash);
  const unsigned char bigEndian[4] = {static_cast<unsigned char>(hash >> 24), static_cast<unsigned char>(hash >> 16),
                                      static_cast<unsigned char>(hash >> 8), static_cast<unsigned char>(hash)};
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(crc32(crc, bigEndian, 4)));
}

SqlCacheWriter::SqlCacheWriter(std::string folder, unsigned shards, bool wal)
    : shardCount_(shards), folder_(std::move(folder)), wal_(wal) {
  Create();
}

void SqlCacheWriter::Recreate() {
  Close();
  Create();
}

void SqlCacheWriter::Create() {
  const bool wal = wal_;
  std::filesystem::create_directories(folder_);
  WriteBytes(JoinPath(folder_, "index"),
             std::string("SQLCache") + (wal ? "Wal" : "Truncate") + std::to_string(shardCount_));
  for (unsigned shard = 0; shard < shardCount_; ++shard) {
    sqlite3* db = nullptr;
    const std::string path = JoinPath(folder_, "sqldb" + std::to_string(shard));
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot make " + path);
    shards_.push_back(db);
    fixtures::Exec(db, "PRAGMA page_size=4096; PRAGMA locking_mode=EXCLUSIVE; PRAGMA secure_delete=ON;");
    fixtures::Exec(db, wal ? "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;" : "PRAGMA journal_mode=TRUNCATE;");
    fixtures::Exec(db, kSchema);
  }
}

SqlCacheWriter::~SqlCacheWriter() { Close(); }

void SqlCacheWriter::Close() {
  for (sqlite3* db : shards_) sqlite3_close(db);
  shards_.clear();
}

unsigned SqlCacheWriter::ShardOf(const std::string& key) const {
  const auto hash = static_cast<std::uint64_t>(static_cast<std::int64_t>(SqlKeyHash(key)));
  return static_cast<unsigned>(hash % shards_.size());
}

std::pair<unsigned, std::int64_t> SqlCacheWriter::Put(const SqlEntry& entry) {
  sqlite3* db = shards_.at(ShardOf(entry.key));
  fixtures::Exec(db, "BEGIN");
  const auto put = PutRows(entry);
  fixtures::Exec(db, "COMMIT");
  return put;
}

std::vector<std::pair<unsigned, std::int64_t>> SqlCacheWriter::PutMany(const std::vector<SqlEntry>& entries) {
  for (sqlite3* db : shards_) fixtures::Exec(db, "BEGIN");
  std::vector<std::pair<unsigned, std::int64_t>> puts;
  puts.reserve(entries.size());
  for (const SqlEntry& entry : entries) puts.push_back(PutRows(entry));
  for (sqlite3* db : shards_) fixtures::Exec(db, "COMMIT");
  return puts;
}

std::pair<unsigned, std::int64_t> SqlCacheWriter::PutRows(const SqlEntry& entry) {
  const unsigned shard = ShardOf(entry.key);
  sqlite3* db = shards_.at(shard);
  const std::int32_t hash = SqlKeyHash(entry.key);
  auto blobs = entry.blobs;
  std::sort(blobs.begin(), blobs.end());
  std::int64_t bodyEnd = entry.bodyEnd;
  std::int64_t stored = 0;
  for (const auto& [start, bytes] : blobs) {
    stored += static_cast<std::int64_t>(bytes.size());
    if (entry.bodyEnd < 0) bodyEnd = std::max<std::int64_t>(bodyEnd, start + static_cast<std::int64_t>(bytes.size()));
  }
  if (bodyEnd < 0) bodyEnd = 0;
  std::int64_t resId = 0;
  {
    Statement find(db, "SELECT res_id FROM resources WHERE cache_key=?1");
    find.Bind(1, entry.key, true);
    if (find.Step() == SQLITE_ROW) resId = sqlite3_column_int64(find.statement, 0);
  }
  const char* upsert = resId ? "UPDATE resources SET last_used=?1, hints=0, body_end=?2, bytes_usage=?3, doomed=?4,"
                               " check_sum=?5, cache_key_hash=?6, cache_key=?7, head=?8 WHERE res_id=?9"
                             : "INSERT INTO resources(last_used, hints, body_end, bytes_usage, doomed, check_sum,"
                               " cache_key_hash, cache_key, head) VALUES(?1, 0, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";
  {
    Statement put(db, upsert);
    put.Bind(1, entry.lastUsed).Bind(2, bodyEnd);
    put.Bind(3, static_cast<std::int64_t>(entry.key.size() + entry.head.size()) + stored);
    put.Bind(4, entry.doomed ? 1 : 0).Bind(5, SqlCheckSum(entry.head, hash)).Bind(6, hash).Bind(7, entry.key, true);
    if (entry.head.empty()) {
      sqlite3_bind_null(put.statement, 8);
    } else {
      put.Bind(8, entry.head);
    }
    if (resId) put.Bind(9, resId);
    put.Step();
  }
  if (!resId) resId = sqlite3_last_insert_rowid(db);
  Statement(db, "DELETE FROM blobs WHERE res_id=?1").Bind(1, resId).Step();
  for (const auto& [start, bytes] : blobs) {
    Statement blob(db, "INSERT INTO blobs(res_id, start, end, check_sum, blob) VALUES(?1, ?2, ?3, ?4, ?5)");
    blob.Bind(1, resId).Bind(2, start).Bind(3, start + static_cast<std::int64_t>(bytes.size()));
    blob.Bind(4, SqlCheckSum(bytes, hash)).Bind(5, bytes).Step();
  }
  return {shard, resId};
}

void SqlCacheWriter::Remove(const std::string& key) {
  sqlite3* db = shards_.at(ShardOf(key));
  Statement find(db, "SELECT res_id FROM resources WHERE cache_key=?1");
  find.Bind(1, key, true);
  if (find.Step() != SQLITE_ROW) return;
  const std::int64_t resId = sqlite3_column_int64(find.statement, 0);
  fixtures::Exec(db, "BEGIN");
  Statement(db, "DELETE FROM blobs WHERE res_id=?1").Bind(1, resId).Step();
  Statement(db, "DELETE FROM resources WHERE res_id=?1").Bind(1, resId).Step();
  fixtures::Exec(db, "COMMIT");
}

void SqlCacheWriter::SpoilBody(const std::string& key) {
  sqlite3* db = shards_.at(ShardOf(key));
  Statement find(db,
                 "SELECT blob_id, blob FROM blobs WHERE res_id = (SELECT res_id FROM resources WHERE cache_key=?1)"
                 " ORDER BY start DESC LIMIT 1");
  find.Bind(1, key, true);
  if (find.Step() != SQLITE_ROW) throw std::logic_error("no body to spoil: " + key);
  const std::int64_t blobId = sqlite3_column_int64(find.statement, 0);
  std::string bytes(static_cast<const char*>(sqlite3_column_blob(find.statement, 1)),
                    static_cast<std::size_t>(sqlite3_column_bytes(find.statement, 1)));
  bytes[bytes.size() / 2] ^= 1;
  Statement(db, "UPDATE blobs SET blob=?1 WHERE blob_id=?2").Bind(1, bytes).Bind(2, blobId).Step();
}

void SqlCacheWriter::Exec(unsigned shard, const std::string& sql) { fixtures::Exec(shards_.at(shard), sql); }

}  // namespace fixtures
