// What the contract suite cannot say of the SQL format: rows read while the browser wrote them
// (torn snapshots) are left out and met again, range entries are whole only when their pieces
// cover the resource, a damaged or unknown shard is reported while the others are read, and the
// reader leaves the browser's folder and locks alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "base/PathText.h"
#include "cache/chromium/sql/ChromiumSqlCacheSource.h"
#include "cache/chromium/sql/SqlCacheFormat.h"
#include "support/CacheFixtures.h"
#include "support/SourceReading.h"
#include "support/SqlCacheFixtures.h"
#include "support/TempDir.h"

using namespace fixtures;

namespace {

const std::int64_t kTime = 13300000000000000;

SqlEntry Picture(const std::string& name, const std::string& body, std::vector<std::string> headers = {}) {
  if (headers.empty()) {
    headers = {"HTTP/1.1 200 OK", "Content-Type: image/jpeg", "Content-Length: " + std::to_string(body.size())};
  }
  return {.key = "1/0/_dk_http://h http://h http://h/" + name,
          .head = ChromiumResponseInfo(headers, false, kTime),
          .blobs = SqlPieces(body, 100000),
          .lastUsed = kTime};
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

class SqlSource : public ::testing::Test {
 protected:
  TempDir temp_;
  SqlCacheWriter writer_{temp_.Sub("Cache_Data")};
  ChromiumSqlCacheSource source_{writer_.Folder()};
};

}  // namespace

TEST(SqlCacheFormat, ShardNamesAndKeyHash) {
  EXPECT_EQ(sqlcache::ShardOfFileName("sqldb12-wal"), 12u);
  EXPECT_EQ(sqlcache::ShardOfFileName("sqldb0-journal"), 0u);
  for (const char* name : {"sqldb", "sqldb01", "sqldb1-shm", "sqldb1x", "index"}) {
    EXPECT_FALSE(sqlcache::ShardOfFileName(name)) << name;
  }
  // The worked example of the format notes: tiny-spark.gif's key and head checksum.
  const std::string key = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:42913/tiny-spark.gif";
  EXPECT_EQ(sqlcache::KeyHash(key), -1714431393);
}

TEST_F(SqlSource, TornRowsAreLeftOutUntilWholeAndNotReadForeverWhenTheyStayTorn) {
  const std::string body = PictureBytes(250000, 1);
  writer_.Put(Picture("whole.jpg", body));
  // The head and body_end written, the pieces not yet: no checksum fails, only the coverage tells.
  SqlEntry torn = Picture("torn.jpg", body);
  torn.bodyEnd = static_cast<std::int64_t>(body.size());
  torn.blobs.resize(1);
  writer_.Put(torn);
  SqlEntry beingWritten = Picture("written.jpg", body);
  beingWritten.head.clear();
  writer_.Put(beingWritten);
  SqlEntry truncated = Picture("cut.jpg", body);
  truncated.head = ChromiumResponseInfo({"HTTP/1.1 200 OK", "Content-Type: image/jpeg"}, true, kTime);
  writer_.Put(truncated);

  auto listed = ListByUrl(source_);
  EXPECT_EQ(listed.size(), 1u);
  EXPECT_EQ(CopyOut(listed.at("http://h/whole.jpg").localPath), body);
  EXPECT_EQ(source_.LastWalk().unread, 1u);  // the torn row, not the one still being written
  // Met again while it stays torn, then left until the shard changes.
  for (int walk = 0; walk < 4; ++walk) ListByUrl(source_);
  EXPECT_EQ(source_.LastWalk().unread, 0u);
  writer_.Put(Picture("torn.jpg", body));
  listed = ListByUrl(source_);
  ASSERT_EQ(listed.count("http://h/torn.jpg"), 1u);
  EXPECT_EQ(CopyOut(listed.at("http://h/torn.jpg").localPath), body);

  // A head or key that fails its checksum is never listed.
  writer_.Exec(writer_.ShardOf(Picture("torn.jpg", body).key), "UPDATE resources SET check_sum = check_sum + 1");
  writer_.Exec(writer_.ShardOf(Picture("whole.jpg", body).key),
               "UPDATE resources SET cache_key_hash = cache_key_hash + 1");
  listed = ListByUrl(source_);
  EXPECT_EQ(listed.count("http://h/torn.jpg"), 0u);
  EXPECT_EQ(listed.count("http://h/whole.jpg"), 0u);
}

TEST_F(SqlSource, RangeEntriesAreWholeOnlyWhenTheirPiecesCoverTheResource) {
  const std::string video = PictureBytes(300000, 2);
  const auto range = [&](const std::string& name, std::vector<std::pair<std::int64_t, std::string>> blobs) {
    SqlEntry entry = Picture(name, video,
                             {"HTTP/1.1 206 Partial Content", "Content-Type: video/x-flv",
                              "Content-Range: bytes 200000-299999/300000", "Content-Length: 300000"});
    entry.blobs = std::move(blobs);
    entry.bodyEnd = static_cast<std::int64_t>(video.size());
    writer_.Put(entry);
  };
  // Pieces of 64 KiB at the offsets the network delivered them, the last reaching past nothing.
  range("whole.flv", SqlPieces(video, 65536));
  range("tail.flv", {{200000, video.substr(200000)}});
  const auto listed = ListByUrl(source_);
  ASSERT_EQ(listed.count("http://h/whole.flv"), 1u);
  EXPECT_EQ(listed.at("http://h/whole.flv").size, video.size());
  EXPECT_EQ(CopyOut(listed.at("http://h/whole.flv").localPath), video);
  EXPECT_EQ(listed.count("http://h/tail.flv"), 0u);
}

TEST_F(SqlSource, ADamagedOrUnknownShardIsReportedAndTheOthersAreRead) {
  const SqlEntry first = Picture("a.jpg", PictureBytes(5000, 3));
  writer_.Put(first);
  SqlEntry second;
  for (int i = 0; second.key.empty() || writer_.ShardOf(second.key) == writer_.ShardOf(first.key); ++i) {
    second = Picture("b" + std::to_string(i) + ".jpg", PictureBytes(5000, 4));
  }
  const unsigned other = writer_.ShardOf(second.key);
  writer_.Put(second);
  EXPECT_EQ(ListByUrl(source_).size(), 2u);
  EXPECT_TRUE(source_.Problem().empty()) << source_.Problem().Line();

  writer_.Exec(other, "UPDATE meta SET value='9' WHERE key='version'");
  auto listed = ListByUrl(source_);
  EXPECT_EQ(listed.size(), 1u);
  EXPECT_NE(source_.Problem().Line().find("version 9"), std::string::npos) << source_.Problem().Line();

  writer_.Close();
  const std::string shard = JoinPath(writer_.Folder(), "sqldb" + std::to_string(other));
  std::string bytes = ReadBytes(shard);
  bytes.replace(0, 16, "not a database!!");
  WriteBytes(shard, bytes);
  listed = ListByUrl(source_);
  EXPECT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed.count("http://h/a.jpg"), 1u);
  // Said once it keeps failing: a read that fails now and then is only "not now".
  for (int walk = 0; walk < 3; ++walk) ListByUrl(source_);
  EXPECT_EQ(source_.Problem().path, shard) << source_.Problem().Line();
}

TEST(SqlSourceReading, LeavesTheBrowsersFolderAndLocksAlone) {
  for (const bool wal : {false, true}) {
    SCOPED_TRACE(wal ? "WAL" : "rollback journal");
    TempDir temp;
    SqlCacheWriter writer(temp.Sub("Cache_Data"), 3, wal);
    const SqlEntry first = Picture("first.jpg", PictureBytes(70000, 5));
    const auto firstRow = writer.Put(first);
    const auto before = Names(writer.Folder());
    if (wal) {  // the row is only in the WAL, which the reader must read
      EXPECT_GT(std::filesystem::file_size(
                    JoinPath(writer.Folder(), sqlcache::ShardFileName(writer.ShardOf(first.key)) + "-wal")),
                0u);
    }
    ChromiumSqlCacheSource source(writer.Folder());
    EXPECT_EQ(ListByUrl(source).size(), 1u);
    // The writer holds its shards under exclusive locking and goes on writing between the reads:
    // a reader that took a lock would make these writes fail.
    for (int i = 0; i < 5; ++i) {
      writer.Put(Picture(std::to_string(i) + ".jpg", PictureBytes(20000, 6 + i)));
      const auto listed = ListByUrl(source);
      EXPECT_EQ(listed.size(), 2u + i);
      EXPECT_TRUE(CopyOut(listed.at("http://h/" + std::to_string(i) + ".jpg").localPath));
    }
    // Many entries committed at once, one overwriting the first entry (which keeps its row).
    std::vector<SqlEntry> batch;
    for (int i = 0; i < 30; ++i) batch.push_back(Picture("b" + std::to_string(i) + ".jpg", PictureBytes(3000, 20 + i)));
    const std::string newBody = PictureBytes(9000, 99);
    batch.push_back(Picture("first.jpg", newBody));
    EXPECT_EQ(writer.PutMany(batch).back(), firstRow);
    const auto listed = ListByUrl(source);
    EXPECT_EQ(listed.size(), 36u);
    EXPECT_EQ(CopyOut(listed.at("http://h/first.jpg").localPath), newBody);
    EXPECT_EQ(CopyOut(listed.at("http://h/b29.jpg").localPath), PictureBytes(3000, 49));
    EXPECT_EQ(Names(writer.Folder()), before);
  }
}

#ifndef _WIN32
// Without a temporary folder to copy WAL shards into, those shards alone are not read, and said;
// a shard in the default journal mode needs no copy and is read.
TEST(SqlSourceReading, NoPrivateFolderStopsOnlyTheWalShards) {
  for (const bool wal : {false, true}) {
    SCOPED_TRACE(wal ? "WAL" : "rollback journal");
    TempDir temp;
    SqlCacheWriter writer(temp.Sub("Cache_Data"), 1, wal);
    writer.Put(Picture("a.jpg", PictureBytes(5000, 20)));
    WriteBytes(temp.Path("not-a-folder"), "x");
    const char* saved = std::getenv("TMPDIR");
    const std::string before = saved ? saved : "";
    ::setenv("TMPDIR", temp.Path("not-a-folder").c_str(), 1);
    ChromiumSqlCacheSource source(writer.Folder());
    const auto listed = ListByUrl(source);
    saved ? ::setenv("TMPDIR", before.c_str(), 1) : ::unsetenv("TMPDIR");
    EXPECT_EQ(listed.size(), wal ? 0u : 1u);
    EXPECT_EQ(source.Problem().empty(), !wal) << source.Problem().Line();
  }
}
#endif
