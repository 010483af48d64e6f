#include "cache/chromium/sql/SqlSnapshot.h"

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "base/PathText.h"
#include "base/WidePath.h"
#include "cache/UrlCacheSource.h"
#include "cache/browser/ByteSource.h"
#include "cache/chromium/sql/SqlCacheFormat.h"

namespace {

std::atomic<unsigned long long> g_copies{0};

// The SQLite URI of a file read in place without locks: the path percent-encoded where a URI
// needs it, and "/" as the separator.
std::string ImmutableUri(const std::string& path) {
  std::string uri = "file:";
#ifdef _WIN32
  if (path.size() >= 2 && path[1] == ':') uri += "///";
#endif
  static const char kHex[] = "0123456789ABCDEF";
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsPathSeparator(c)) {
      uri += '/';
    } else if (byte == '%' || byte == '?' || byte == '#' || byte < 0x20 || byte >= 0x7f) {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 15];
    } else {
      uri += c;
    }
  }
  return uri + "?mode=ro&immutable=1";
}

// True when another program holds the file open without sharing it: how the browser keeps its
// shards on Windows while it runs.
bool HeldWithoutSharing(const std::string& path) {
#ifdef _WIN32
  HANDLE handle =
      CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
#else
  (void)path;
  return false;
#endif
}

std::string SystemReason() { return std::strerror(errno); }

// Copies the bytes of from (a regular file, opened without blocking) into a new file to; false,
// with reason set, when either cannot be done.
bool CopyPlainFile(const std::string& from, const std::string& to, std::string& reason) {
  const auto source = FileByteSource::Open(from);
  if (!source) {
    reason = "it cannot be read now";
    return false;
  }
#ifdef _WIN32
  std::FILE* out = _wfopen(WidePath(to).c_str(), L"wb");
#else
  std::FILE* out = std::fopen(to.c_str(), "wb");
#endif
  if (!out) {
    reason = "cannot write " + to + ": " + SystemReason();
    return false;
  }
  constexpr std::size_t kChunk = 1 << 20;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(source->Size(), kChunk)));
  bool ok = true;
  for (std::uint64_t done = 0; ok && done < source->Size();) {
    const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(source->Size() - done, kChunk));
    ok = source->ReadAt(done, std::span(buffer.data(), step)) && std::fwrite(buffer.data(), 1, step, out) == step;
    if (!ok) reason = "it changed or could not be read while it was copied";
    done += step;
  }
  if (std::fclose(out) != 0 && ok) {
    reason = "cannot write " + to + ": " + SystemReason();
    ok = false;
  }
  return ok;
}

void RemoveQuietly(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(FileSystemPath(path), ignored);
}

}  // namespace

SqlConnection::~SqlConnection() { sqlite3_close_v2(db_); }

std::string SqlConnection::LastError() const { return sqlite3_errmsg(db_); }

SqlStatement::SqlStatement(const SqlConnection& connection, const char* sql) {
  if (sqlite3_prepare_v2(connection.get(), sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
}

SqlStatement::~SqlStatement() { sqlite3_finalize(statement_); }

void SqlStatement::Restart(long long value) {
  sqlite3_reset(statement_);
  sqlite3_bind_int64(statement_, 1, value);
}

int SqlStatement::Step() { return sqlite3_step(statement_); }

std::shared_ptr<const ShardSnapshot> ShardSnapshot::Take(const std::string& path, const std::string& privateFolder,
                                                         SnapshotFailure& failure) {
  failure = {};
  const auto file = FileByteSource::Open(path);
  if (!file) {
    failure.heldByBrowser = HeldWithoutSharing(path);
    failure.reason = failure.heldByBrowser ? kHeldByBrowserReason : "it cannot be opened now";
    return nullptr;
  }
  const auto header =
      file->Size() >= sqlcache::kDatabaseHeaderSize ? file->Read(0, sqlcache::kDatabaseHeaderSize) : std::nullopt;
  if (!header || std::memcmp(header->data(), sqlcache::kDatabaseMagic, sizeof sqlcache::kDatabaseMagic) != 0) {
    failure.reason = "it is not a whole database now";
    return nullptr;
  }
  const std::string wal = path + "-wal";
  const auto walStamp = StampOfPath(wal);
  if (!sqlcache::HeaderSaysWal(*header) && (!walStamp || walStamp->size == 0)) {
    return std::shared_ptr<const ShardSnapshot>(new ShardSnapshot(path, {}));
  }
  // The newest pages are in the WAL, which an immutable read would not see, and which SQLite reads
  // only on a connection that may lock. The file is copied first, then the WAL: a WAL copied later
  // can only bring the copy forward. Opened in the private folder, the copy takes the WAL in and is
  // then a plain database file like any other snapshot.
  if (privateFolder.empty()) {
    failure.needsPrivateFolder = true;
    failure.reason =
        "it keeps its newest rows in a WAL, which is read from a private copy, and there is no folder for one";
    return nullptr;
  }
  const std::string copy = JoinPath(privateFolder, "shard" + std::to_string(++g_copies));
  std::shared_ptr<ShardSnapshot> snapshot(new ShardSnapshot(copy, path));
  if (!CopyPlainFile(path, copy, failure.reason)) return nullptr;
  if (walStamp && walStamp->size > 0 && !CopyPlainFile(wal, copy + "-wal", failure.reason)) {
    RemoveQuietly(copy + "-wal");
    return nullptr;
  }
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  SqlConnection connection(db);
  char* error = nullptr;
  if (opened != SQLITE_OK || sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, &error) != SQLITE_OK) {
    failure.reason = "its copy cannot be read: " + std::string(error ? error : connection.LastError());
    sqlite3_free(error);
    RemoveQuietly(copy + "-wal");
    return nullptr;
  }
  return snapshot;
}

ShardSnapshot::~ShardSnapshot() {
  if (live_.empty()) return;
  RemoveQuietly(path_ + "-wal");
  RemoveQuietly(path_ + "-journal");
  RemoveQuietly(path_ + "-shm");
  RemoveQuietly(path_);
}

std::unique_ptr<SqlConnection> ShardSnapshot::Connect(std::string& reason) const {
  sqlite3* db = nullptr;
  // A connection is used by the one thread that made it: SQLite need not lock around each call.
  const int opened = sqlite3_open_v2(ImmutableUri(path_).c_str(), &db,
                                     SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  auto connection = std::make_unique<SqlConnection>(db);
  if (opened != SQLITE_OK) {
    reason = db ? connection->LastError() : std::string(sqlite3_errstr(opened));
    return nullptr;
  }
  return connection;
}

std::shared_ptr<const std::string> MakePrivateFolder(std::string& reason) {
  std::error_code error;
  const auto temp = std::filesystem::temp_directory_path(error);
  if (error) {
    reason = "no temporary folder: " + error.message();
    return nullptr;
  }
#ifdef _WIN32
  const auto process = static_cast<unsigned long>(GetCurrentProcessId());
#else
  const auto process = static_cast<unsigned long>(getpid());
#endif
  static std::atomic<unsigned> made{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto folder = temp / ("tavrin-sqlcache-" + std::to_string(process) + "-" + std::to_string(++made) + "-" +
                                std::to_string(attempt));
    if (std::filesystem::create_directory(folder, error)) {
      return std::shared_ptr<const std::string>(new std::string(CorePathText(folder)), [](const std::string* path) {
        std::error_code ignored;
        std::filesystem::remove_all(FileSystemPath(*path), ignored);
        delete path;
      });
    }
    if (error) break;
  }
  reason = "cannot make a private folder in " + CorePathText(temp) + (error ? ": " + error.message() : std::string());
  return nullptr;
}
