// The Chromium simple-cache source over small caches built in the real byte format.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/PathText.h"
#include "cache/browser/FileTimes.h"
#include "cache/chromium/blockfile/BlockfileCacheSource.h"
#include "cache/chromium/simple/ChromiumSimpleCacheSource.h"
#include "support/CacheFixtures.h"
#include "support/SourceReading.h"
#include "support/TempDir.h"

using namespace fixtures;

namespace {

class ChromiumSourceTest : public ::testing::Test {
 protected:
  ChromiumSourceTest() : folder_(temp_.Sub("Cache_Data")) { WriteChromiumIndexMarker(folder_); }

  ChromiumEntry Picture(const std::string& url, std::size_t size, std::uint32_t seed) {
    ChromiumEntry entry;
    entry.key = "1/0/" + url;
    entry.body = PictureBytes(size, seed);
    return entry;
  }
  std::string EntryPath(const ChromiumEntry& entry) { return JoinPath(folder_, ChromiumHashName(entry.key) + "_0"); }

  TempDir temp_;
  std::string folder_;
};

}  // namespace

TEST_F(ChromiumSourceTest, ReadsEveryKeyForm) {
  ChromiumEntry withSha = Picture("http://h/a.jpg", 3000, 1);
  ChromiumEntry withoutSha = Picture("http://h/b.png", 2000, 2);
  withoutSha.keySha256 = false;
  withoutSha.headers = {"HTTP/1.1 200 OK", "content-type: image/png"};
  ChromiumEntry partitioned = Picture("http://127.0.0.1:45867/photos/at@2x.jpg", 1500, 3);
  partitioned.key = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:45867/photos/at@2x.jpg";
  ChromiumEntry subframe = Picture("https://h/x/", 100, 4);
  subframe.key = "1/0/_dk_s_https://a.test https://b.test https://h/img/12345";
  subframe.addContentLength = false;  // chunked: the browser's end record alone proves it whole
  ChromiumEntry oldKey = Picture("http://h/old.gif", 700, 5);
  oldKey.key = "http://h/old.gif";
  for (const auto* entry : {&withSha, &withoutSha, &partitioned, &subframe, &oldKey})
    WriteChromiumEntry(folder_, *entry);

  ChromiumSimpleCacheSource source(folder_);
  auto entries = ListByUrl(source);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries.at("http://h/a.jpg").localPath, EntryPath(withSha) + kPathSeparator + "a.jpg");

  for (const auto* entry : {&withSha, &withoutSha, &partitioned, &subframe, &oldKey}) {
    const std::string url = entry == &partitioned            ? "http://127.0.0.1:45867/photos/at@2x.jpg"
                            : entry == &subframe             ? "https://h/img/12345"
                            : entry->key.starts_with("1/0/") ? entry->key.substr(4)
                                                             : entry->key;
    ASSERT_TRUE(entries.count(url)) << url;
    EXPECT_EQ(CopyOut(entries.at(url).localPath), entry->body) << url;
  }
}

TEST_F(ChromiumSourceTest, DamagedFilesAndOtherNamesAreNotEntries) {
  WriteChromiumEntry(folder_, Picture("http://h/good.jpg", 900, 1));

  // Damaged files: a wrong magic, a stream 0 whose CRC fails, a size that does not fit, a key
  // that no longer matches its hash (it would name the copy).
  std::string bytes = ChromiumEntryBytes(Picture("http://h/magic.jpg", 500, 10));
  bytes[0] ^= 1;
  WriteBytes(JoinPath(folder_, "00000000000000a1_0"), bytes);
  bytes = ChromiumEntryBytes(Picture("http://h/crc0.jpg", 500, 11));
  bytes[bytes.size() - 24 - 32 - 10] ^= 1;  // inside stream 0
  WriteBytes(JoinPath(folder_, "00000000000000a2_0"), bytes);
  bytes = ChromiumEntryBytes(Picture("http://h/size.jpg", 500, 12));
  bytes[bytes.size() - 5] = '\x7f';  // stream 0 size far beyond the file
  WriteBytes(JoinPath(folder_, "00000000000000a3_0"), bytes);
  bytes = ChromiumEntryBytes(Picture("http://h/save.jpg", 500, 14));
  bytes[24 + 15] ^= 0x0b;  // "save" becomes "sa}e" in the key
  WriteBytes(JoinPath(folder_, "00000000000000a4_0"), bytes);
  // Doomed entries and other streams of an entry are never read as entries.
  const std::string whole = ChromiumEntryBytes(Picture("http://h/doomed.jpg", 500, 13));
  WriteBytes(JoinPath(folder_, "todelete_57f89e0eedaf56b2_0_1"), whole);
  WriteBytes(JoinPath(folder_, "57f89e0eedaf56b2_1"), whole);
  WriteBytes(JoinPath(folder_, "57F89E0EEDAF56B2_0"), whole);

  ChromiumSimpleCacheSource source(folder_);
  const auto entries = ListByUrl(source);
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries.count("http://h/good.jpg"));
  EXPECT_EQ(source.LastWalk().files, 5u);
}

TEST_F(ChromiumSourceTest, LastAccessIsTheLaterOfIndexTimeAndFileTime) {
  const ChromiumEntry reused = Picture("http://h/reused.jpg", 100, 1);
  const ChromiumEntry fresh = Picture("http://h/fresh.jpg", 100, 2);
  const ChromiumEntry unindexed = Picture("http://h/new.jpg", 100, 3);
  for (const auto* entry : {&reused, &fresh, &unindexed})
    SetModificationTime(WriteChromiumEntry(folder_, *entry), 1700000000);
  const std::int64_t secondsTo1970 = 11644473600;
  // Of two records of one hash, the later counts.
  WriteChromiumIndex(folder_, {{ChromiumHash(reused.key), (1700000900 + secondsTo1970) * 1000000},
                               {ChromiumHash(fresh.key), (1699999000 + secondsTo1970) * 1000000},
                               {ChromiumHash(reused.key), (1700000500 + secondsTo1970) * 1000000}});
  ChromiumSimpleCacheSource source(folder_);
  auto entries = ListByUrl(source);
  EXPECT_EQ(entries.at("http://h/reused.jpg").lastAccess.Value(), UnixSecondsToFileTime(1700000500));
  EXPECT_EQ(entries.at("http://h/fresh.jpg").lastAccess.Value(), UnixSecondsToFileTime(1700000000));
  EXPECT_EQ(entries.at("http://h/new.jpg").lastAccess.Value(), UnixSecondsToFileTime(1700000000));

  // An index caught while it is rewritten fails its checksum and is not believed.
  std::string index = ReadBytes(JoinPath(JoinPath(folder_, "index-dir"), "the-real-index"));
  index[50] ^= 1;
  WriteBytes(JoinPath(JoinPath(folder_, "index-dir"), "the-real-index"), index);
  entries = ListByUrl(source);
  EXPECT_EQ(entries.at("http://h/reused.jpg").lastAccess.Value(), UnixSecondsToFileTime(1700000000));
}

TEST_F(ChromiumSourceTest, SparseEntriesAreAssembledOnlyWhenWhole) {
  const std::string video = PictureBytes(57064, 9);
  ChromiumEntry head = Picture("http://h/clip.webm", 0, 0);
  head.headers = {"HTTP/1.1 206 Partial Content", "Content-Type: video/webm", "Content-Range: bytes 0-57063/57064"};
  head.addContentLength = false;
  WriteChromiumEntry(folder_, head);
  const std::string sparsePath = JoinPath(folder_, ChromiumHashName(head.key) + "_s");
  // Ranges stored out of order, one overlapping its neighbour.
  WriteBytes(sparsePath,
             ChromiumSparseBytes(head.key, {{3810, video.substr(3810, 40000)}, {0, video.substr(0, 3810)}}));
  ChromiumSimpleCacheSource source(folder_);
  EXPECT_TRUE(ListByUrl(source).empty());  // bytes 43810.. are missing

  WriteBytes(sparsePath, ChromiumSparseBytes(head.key, {{3810, video.substr(3810, 40000)},
                                                        {0, video.substr(0, 3810)},
                                                        {40000, video.substr(40000)}}));
  auto entries = ListByUrl(source);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries.begin()->second.size, video.size());
  EXPECT_EQ(CopyOut(entries.begin()->second.localPath), video);

  // A damaged range fails the copy; a range file of another key is not this entry's.
  WriteBytes(sparsePath, ChromiumSparseBytes(head.key, {{0, video.substr(0, 3810)}, {3810, video.substr(3810), true}}));
  entries = ListByUrl(source);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_FALSE(CopyOut(entries.begin()->second.localPath));
  WriteBytes(sparsePath, ChromiumSparseBytes("1/0/http://h/other.webm", {{0, video}}));
  EXPECT_TRUE(ListByUrl(source).empty());
}

TEST_F(ChromiumSourceTest, RecognisesSimpleAndBlockfileFolders) {
  WriteChromiumEntry(folder_, Picture("http://h/a.jpg", 100, 1));
  EXPECT_TRUE(IsChromiumSimpleCacheFolder(folder_));
  EXPECT_FALSE(IsChromiumBlockfileFolder(folder_));

  const std::string unmarked = temp_.Sub("unmarked");  // no index yet: known by its entry files
  EXPECT_FALSE(IsChromiumSimpleCacheFolder(unmarked));
  WriteChromiumEntry(unmarked, Picture("http://h/a.jpg", 100, 1));
  EXPECT_TRUE(IsChromiumSimpleCacheFolder(unmarked));

  // A blockfile folder, even one with a file that looks like a simple entry, is never read as one.
  const std::string blockfile = temp_.Sub("GPUCache");
  WriteBytes(JoinPath(blockfile, "index"), std::string("\xc3\xca\x03\xc1", 4) + std::string(252, '\0'));
  WriteBytes(JoinPath(blockfile, "data_0"), std::string(8192, '\0'));
  WriteChromiumEntry(blockfile, Picture("http://h/a.jpg", 100, 1));
  EXPECT_TRUE(IsChromiumBlockfileFolder(blockfile));
  EXPECT_FALSE(IsChromiumSimpleCacheFolder(blockfile));
  ChromiumSimpleCacheSource source(blockfile);
  EXPECT_TRUE(ListByUrl(source).empty());
  WriteChromiumEntry(blockfile, Picture("http://h/b.jpg", 100, 2));  // nor after a change
  EXPECT_TRUE(ListByUrl(source).empty());
  EXPECT_FALSE(IsChromiumSimpleCacheFolder(JoinPath(folder_, "absent")));
}
