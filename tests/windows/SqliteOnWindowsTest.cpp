// The static SQLite of the Windows build on the ways a cache reader opens a database it must not
// disturb: an immutable read-only URI on the file (UTF-8, percent-escaped, under a folder whose
// name needs both), a copy of its bytes deserialized into memory, and a file that another process
// holds open with no sharing, which no open can reach until that process lets go.
#include <windows.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ExclusiveHold.h"
#include "base/PathText.h"
#include "cache/chromium/sql/ChromiumSqlCacheSource.h"
#include "support/CacheFixtures.h"
#include "support/SourceReading.h"
#include "support/SqlCacheFixtures.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// A head with a zero byte and bytes above 0x7f, which a text round trip would mangle.
const std::string kHead("\x01\x00\xff\xfe head", 9);

std::string Utf8(const fs::path& path) {
  const std::u8string u8 = path.generic_u8string();
  return std::string(u8.begin(), u8.end());
}

// file:///C:/... with every byte outside the unreserved characters percent-escaped, so that a
// space, '?', '#' or '%' in a folder's name stays part of the path.
std::string ImmutableUri(const fs::path& file) {
  std::string uri = "file:///";
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : Utf8(file)) {
    if (std::isalnum(c) || std::strchr("-._~/:", c)) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri + "?mode=ro&immutable=1";
}

void CreateDatabase(const fs::path& file) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(Utf8(file).c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE resources(res_id INTEGER PRIMARY KEY, cache_key TEXT, head BLOB)", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(db, "INSERT INTO resources VALUES(7, 'https://example.test/a.jpg', ?)", -1, &insert, nullptr),
      SQLITE_OK);
  sqlite3_bind_blob(insert, 1, kHead.data(), static_cast<int>(kHead.size()), SQLITE_STATIC);
  EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
  sqlite3_finalize(insert);
  EXPECT_EQ(sqlite3_close(db), SQLITE_OK);
}

// The one row, as "res_id key head", or SQLite's error.
std::string ReadRow(sqlite3* db) {
  sqlite3_stmt* select = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT res_id, cache_key, head FROM resources", -1, &select, nullptr) != SQLITE_OK) {
    return std::string("error: ") + sqlite3_errmsg(db);
  }
  std::string row;
  if (sqlite3_step(select) == SQLITE_ROW) {
    row = std::to_string(sqlite3_column_int64(select, 0)) + " " +
          reinterpret_cast<const char*>(sqlite3_column_text(select, 1)) + " " +
          std::string(static_cast<const char*>(sqlite3_column_blob(select, 2)), sqlite3_column_bytes(select, 2));
  } else {
    row = std::string("error: ") + sqlite3_errmsg(db);
  }
  sqlite3_finalize(select);
  return row;
}

// Opens file through its immutable URI and reads its row; returns the row or the error.
std::string ReadImmutably(const fs::path& file) {
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(ImmutableUri(file).c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  std::string row = opened == SQLITE_OK ? ReadRow(db) : std::string("error: ") + sqlite3_errstr(opened);
  sqlite3_close(db);
  return row;
}

const std::string kRow = "7 https://example.test/a.jpg " + kHead;

TEST(SqliteOnWindows, ReadsAFileImmutablyAndACopyOfItsBytesInMemory) {
  EXPECT_TRUE(sqlite3_threadsafe());
  EXPECT_EQ(sqlite3_compileoption_used("OMIT_LOAD_EXTENSION"), 1);

  TempDir temp;
  const fs::path folder = temp.Fs() / fs::path(u8"快取 50% #1") / "Cache_Data";
  fs::create_directories(folder);
  const fs::path shard = folder / "sqldb0";
  CreateDatabase(shard);
  const auto before = std::distance(fs::directory_iterator(folder), fs::directory_iterator());

  EXPECT_EQ(ReadImmutably(shard), kRow);
  // The immutable read made no journal, WAL or shared-memory file beside the database.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), before);

  std::ifstream in(shard, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 0u);
  sqlite3* memory = nullptr;
  ASSERT_EQ(sqlite3_open_v2(":memory:", &memory, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  auto* copy = static_cast<unsigned char*>(sqlite3_malloc64(bytes.size()));
  std::memcpy(copy, bytes.data(), bytes.size());
  ASSERT_EQ(sqlite3_deserialize(memory, "main", copy, bytes.size(), bytes.size(),
                                SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY),
            SQLITE_OK);
  EXPECT_EQ(ReadRow(memory), kRow);
  sqlite3_close(memory);
}

TEST(SqliteOnWindows, AFileHeldWithoutSharingOpensOnlyOnceTheHolderLetsGo) {
  TempDir temp;
  const fs::path shard = temp.Fs() / "sqldb1";
  CreateDatabase(shard);
  const auto size = fs::file_size(shard);

  {
    ExclusiveHold missing(temp.Fs() / "no-such-file");
    EXPECT_FALSE(missing.Held());
    EXPECT_NE(missing.Error().find("ended with code 1"), std::string::npos) << missing.Error();
  }

  ExclusiveHold hold(shard);
  ASSERT_TRUE(hold.Held()) << hold.Error();
  const DWORD anySharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h =
      CreateFileW(shard.c_str(), GENERIC_READ, anySharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  // Its size stays visible: a reader can tell the cache is there without reading it.
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  ASSERT_TRUE(GetFileAttributesExW(shard.c_str(), GetFileExInfoStandard, &attributes));
  EXPECT_EQ(attributes.nFileSizeLow, size);
  EXPECT_EQ(ReadImmutably(shard).rfind("error: ", 0), 0u);

  ASSERT_TRUE(hold.Release());
  h = CreateFileW(shard.c_str(), GENERIC_READ, anySharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  EXPECT_EQ(ReadImmutably(shard), kRow);
}

}  // namespace

// The browser holds its shards without sharing while it runs: the cache is recognised, its shard
// said to be readable once the browser is closed, and harvested as soon as it can be opened.
TEST(SqlCacheOnWindows, AShardHeldByTheBrowserIsSaidAndReadOnceLetGo) {
  TempDir temp;
  fixtures::SqlCacheWriter writer(temp.Sub("Cache_Data"), 1);
  const std::string body = fixtures::PictureBytes(40000, 1);
  writer.Put({.key = "1/0/_dk_http://h http://h http://h/held.jpg",
              .head = fixtures::ChromiumResponseInfo({"HTTP/1.1 200 OK", "Content-Type: image/jpeg"}, false,
                                                     13300000000000000),
              .blobs = fixtures::SqlPieces(body)});
  writer.Close();
  const std::string shard = JoinPath(writer.Folder(), "sqldb0");
  ExclusiveHold hold(shard);
  ASSERT_TRUE(hold.Held()) << hold.Error();
  EXPECT_TRUE(IsChromiumSqlCacheFolder(writer.Folder()));
  ChromiumSqlCacheSource source(writer.Folder());
  EXPECT_TRUE(ListByUrl(source).empty());
  EXPECT_EQ(source.Problem().path, shard);
  EXPECT_EQ(source.Problem().reason, kHeldByBrowserReason) << source.Problem().Line();

  ASSERT_TRUE(hold.Release());
  const auto listed = ListByUrl(source);
  ASSERT_EQ(listed.count("http://h/held.jpg"), 1u);
  EXPECT_EQ(CopyOut(listed.at("http://h/held.jpg").localPath), body);
  EXPECT_TRUE(source.Problem().empty());
}
