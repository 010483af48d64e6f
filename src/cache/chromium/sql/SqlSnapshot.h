#pragma once
// Lock-free views of the shards of a SQL cache, and read-only connections on them. The browser
// keeps every shard open under SQLite's exclusive locking; a lock taken by another connection at
// the wrong moment makes it drop new entries or its whole cache. So no connection here ever
// opens the browser's files normally: a shard in the rollback-journal variant is read in place
// with SQLite's "immutable" open (no lock, no file made), and one in the WAL variant is copied
// (the file, then its "-wal") into a private folder, where the copy is brought into one file.
#include <memory>
#include <optional>
#include <string>

#include "cache/browser/FileStamp.h"

struct sqlite3;
struct sqlite3_stmt;

// A connection that closes itself.
class SqlConnection {
 public:
  explicit SqlConnection(sqlite3* db) : db_(db) {}
  ~SqlConnection();
  SqlConnection(const SqlConnection&) = delete;
  SqlConnection& operator=(const SqlConnection&) = delete;
  sqlite3* get() const { return db_; }
  // SQLite's text for the last failure on this connection.
  std::string LastError() const;

 private:
  sqlite3* db_;
};

// A prepared statement that finalizes itself; a step that fails leaves its reason in the
// connection's LastError.
class SqlStatement {
 public:
  SqlStatement(const SqlConnection& connection, const char* sql);
  ~SqlStatement();
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;
  bool Prepared() const { return statement_ != nullptr; }
  sqlite3_stmt* get() const { return statement_; }
  // Starts the statement again with value bound to its first parameter.
  void Restart(long long value);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();

 private:
  sqlite3_stmt* statement_ = nullptr;
};

// Why a shard could not be looked at now.
struct SnapshotFailure {
  bool heldByBrowser = false;       // another program holds the file without sharing it (Windows)
  bool needsPrivateFolder = false;  // a WAL shard, and no private folder to copy it into
  std::string reason;               // for the user: what failed, where, and why
};

class ShardSnapshot {
 public:
  // The shard at path as it is now. privateFolder holds the copies of the WAL variant and must be
  // outside the cache folder; empty when there is none (a WAL shard then cannot be taken). Null, with failure filled
  // in, when it cannot be taken now.
  static std::shared_ptr<const ShardSnapshot> Take(const std::string& path, const std::string& privateFolder,
                                                   SnapshotFailure& failure);
  ~ShardSnapshot();
  ShardSnapshot(const ShardSnapshot&) = delete;
  ShardSnapshot& operator=(const ShardSnapshot&) = delete;

  // A new read-only connection that takes no lock; null, with reason set, when it cannot be made.
  // A copy reads the snapshot the last walk validated its entry in: for a shard read in place the
  // shard as it is now, for a private copy the shard as it was then (a complete, checked body of
  // the entry, even when the browser has since replaced or evicted it).
  std::unique_ptr<SqlConnection> Connect(std::string& reason) const;

 private:
  ShardSnapshot(std::string path, std::string live) : path_(std::move(path)), live_(std::move(live)) {}
  std::string path_;  // the live shard, or the private copy
  std::string live_;  // the live shard when path_ is a private copy (removed with the snapshot)
};

// A private folder for copies, made below the system's temporary folder; removed with everything
// in it when the last reference goes.
std::shared_ptr<const std::string> MakePrivateFolder(std::string& reason);
