// The Chromium simple-cache source over small caches built in the real byte format.
#include <gtest/gtest.h>

#include <filesystem>

#include "CacheFixtures.h"
#include "SourceTestSupport.h"
#include "base/PathText.h"
#include "cache/blockfile/BlockfileCacheSource.h"
#include "cache/browser/FileTimes.h"
#include "cache/chromium/ChromiumSimpleCacheSource.h"

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

  TempFolder temp_;
  std::string folder_;
};

}  // namespace

TEST_F(ChromiumSourceTest, ListsCompleteEntriesAndCopiesTheirBodies) {
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
  for (const auto* entry : {&withSha, &withoutSha, &partitioned, &subframe, &oldKey}) WriteChromiumEntry(folder_, *entry);

  ChromiumSimpleCacheSource source(folder_);
  auto entries = ListByUrl(source);
  ASSERT_EQ(entries.size(), 5u);
  const CacheEntry& a = entries.at("http://h/a.jpg");
  EXPECT_EQ(a.localPath, EntryPath(withSha) + kPathSeparator + "a.jpg");
  EXPECT_EQ(a.size, 3000u);
  EXPECT_EQ(a.extension, "jpg");
  EXPECT_NE(a.headers.find("Content-Length: 3000\r\n"), std::string::npos);
  EXPECT_EQ(entries.at("https://h/img/12345").localPath.substr(EntryPath(subframe).size() + 1), "12345.jpg");
  EXPECT_EQ(FileSystemObject().GetFile(a.localPath).Size, 3000u);

  for (const auto* entry : {&withSha, &withoutSha, &partitioned, &subframe, &oldKey}) {
    const std::string url = entry == &partitioned ? "http://127.0.0.1:45867/photos/at@2x.jpg"
                            : entry == &subframe  ? "https://h/img/12345"
                            : entry->key.starts_with("1/0/") ? entry->key.substr(4) : entry->key;
    ASSERT_TRUE(entries.count(url)) << url;
    EXPECT_EQ(CopyOut(entries.at(url).localPath), entry->body) << url;
  }
  EXPECT_FALSE(CopyOut(EntryPath(withSha) + kPathSeparator + "other.jpg"));  // a name the entry does not have
}

TEST_F(ChromiumSourceTest, LeavesOutEntriesThatAreNotWholeResponses) {
  const ChromiumEntry good = Picture("http://h/good.jpg", 900, 1);
  WriteChromiumEntry(folder_, good);
  ChromiumEntry notFound = Picture("http://h/missing.jpg", 300, 2);
  notFound.headers = {"HTTP/1.1 404 Not Found", "Content-Type: text/html"};
  ChromiumEntry empty = Picture("http://h/empty.jpg", 0, 3);
  ChromiumEntry truncated = Picture("http://h/truncated.jpg", 800, 4);
  truncated.truncatedFlag = true;
  ChromiumEntry shortBody = Picture("http://h/short.jpg", 800, 5);
  shortBody.addContentLength = false;
  shortBody.headers.push_back("Content-Length: 801");
  ChromiumEntry partial = Picture("http://h/part.jpg", 800, 6);
  partial.headers = {"HTTP/1.1 206 Partial Content", "Content-Range: bytes 0-799/5000"};
  ChromiumEntry wholeRange = Picture("http://h/whole.webm", 800, 7);
  wholeRange.headers = {"HTTP/1.1 206 Partial Content", "Content-Type: video/webm", "Content-Range: bytes 0-799/800"};
  ChromiumEntry notWeb = Picture("chrome-extension://abc/x.png", 400, 8);
  ChromiumEntry unknownCoding = Picture("http://h/z.jpg", 400, 9);
  unknownCoding.headers.push_back("Content-Encoding: zstd");
  for (const auto* entry : {&notFound, &empty, &truncated, &shortBody, &partial, &wholeRange, &notWeb, &unknownCoding}) {
    WriteChromiumEntry(folder_, *entry);
  }

  // Damaged files: a wrong magic, a stream 0 whose CRC fails, a size that does not fit.
  std::string bytes = ChromiumEntryBytes(Picture("http://h/magic.jpg", 500, 10));
  bytes[0] ^= 1;
  WriteBytes(JoinPath(folder_, "00000000000000a1_0"), bytes);
  bytes = ChromiumEntryBytes(Picture("http://h/crc0.jpg", 500, 11));
  bytes[bytes.size() - 24 - 32 - 10] ^= 1;  // inside stream 0
  WriteBytes(JoinPath(folder_, "00000000000000a2_0"), bytes);
  bytes = ChromiumEntryBytes(Picture("http://h/size.jpg", 500, 12));
  bytes[bytes.size() - 5] = '\x7f';  // stream 0 size far beyond the file
  WriteBytes(JoinPath(folder_, "00000000000000a3_0"), bytes);
  // Doomed entries and other streams of an entry are never read as entries.
  const std::string whole = ChromiumEntryBytes(Picture("http://h/doomed.jpg", 500, 13));
  WriteBytes(JoinPath(folder_, "todelete_57f89e0eedaf56b2_0_1"), whole);
  WriteBytes(JoinPath(folder_, "57f89e0eedaf56b2_1"), whole);
  WriteBytes(JoinPath(folder_, "57F89E0EEDAF56B2_0"), whole);

  ChromiumSimpleCacheSource source(folder_);
  const auto entries = ListByUrl(source);
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries.count("http://h/good.jpg"));
  EXPECT_TRUE(entries.count("http://h/whole.webm"));
  EXPECT_EQ(source.LastWalk().files, 12u);
}

TEST_F(ChromiumSourceTest, HalfWrittenEntryIsListedOnceComplete) {
  const ChromiumEntry entry = Picture("http://h/slow.jpg", 300000, 1);
  const std::string bytes = ChromiumEntryBytes(entry);
  const std::string path = WriteChromiumEntry(folder_, entry);
  WriteBytes(path, bytes.substr(0, 24 + entry.key.size() + 120000));  // header, key, part of the body
  ChromiumSimpleCacheSource source(folder_);
  EXPECT_TRUE(ListByUrl(source).empty());
  EXPECT_TRUE(ListByUrl(source).empty());
  WriteBytes(path, bytes.substr(0, bytes.size() - 10));  // everything but the end of the last record
  EXPECT_TRUE(ListByUrl(source).empty());

  WriteBytes(path, bytes);
  const auto entries = ListByUrl(source);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(CopyOut(entries.begin()->second.localPath), entry.body);
}

TEST_F(ChromiumSourceTest, FailedBodyCrcRefusesTheCopyAndKeepsTheEntryOutUntilRewritten) {
  ChromiumEntry entry = Picture("http://h/bad.jpg", 5000, 1);
  entry.wrongBodyCrc = true;
  WriteChromiumEntry(folder_, entry);
  ChromiumSimpleCacheSource source(folder_);
  auto entries = ListByUrl(source);
  ASSERT_EQ(entries.size(), 1u);  // the body is checked when it is copied, not while listing
  const std::string path = entries.begin()->second.localPath;
  EXPECT_FALSE(CopyOut(path));
  EXPECT_FALSE(FileSystemObject().FileExists(path));
  EXPECT_TRUE(ListByUrl(source).empty());

  entry.wrongBodyCrc = false;
  SetModificationTime(WriteChromiumEntry(folder_, entry), 1700000100);
  entries = ListByUrl(source);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(CopyOut(path), entry.body);
}

TEST_F(ChromiumSourceTest, EncodedBodiesAreSizedAndCopiedDecoded) {
  const std::string picture = PictureBytes(40000, 7) + std::string(60000, 'x');
  struct Coded { const char* name; const char* coding; std::string stored; };
  const std::vector<Coded> coded{{"g.bmp", "gzip", Gzip(picture)},
                                 {"d.bmp", "deflate", Deflate(picture, true)},
                                 {"b.bmp", "br", Brotli(picture)},
                                 {"broken.bmp", "gzip", Gzip(picture).substr(0, 500)}};
  for (const Coded& c : coded) {
    ChromiumEntry entry = Picture(std::string("http://h/") + c.name, 0, 0);
    entry.body = c.stored;
    entry.headers = {"HTTP/1.1 200 OK", "Content-Type: image/bmp", std::string("Content-Encoding: ") + c.coding};
    WriteChromiumEntry(folder_, entry);
  }
  ChromiumSimpleCacheSource source(folder_);
  const auto entries = ListByUrl(source);
  ASSERT_EQ(entries.size(), 3u);  // the body that does not decode whole is left out
  for (const char* name : {"g.bmp", "d.bmp", "b.bmp"}) {
    const CacheEntry& entry = entries.at(std::string("http://h/") + name);
    EXPECT_EQ(entry.size, picture.size()) << name;
    EXPECT_EQ(FileSystemObject().GetFile(entry.localPath).Size, picture.size());
    EXPECT_EQ(CopyOut(entry.localPath), picture) << name;
  }
}

TEST_F(ChromiumSourceTest, LastAccessIsTheLaterOfIndexTimeAndFileTime) {
  const ChromiumEntry reused = Picture("http://h/reused.jpg", 100, 1);
  const ChromiumEntry fresh = Picture("http://h/fresh.jpg", 100, 2);
  const ChromiumEntry unindexed = Picture("http://h/new.jpg", 100, 3);
  for (const auto* entry : {&reused, &fresh, &unindexed}) SetModificationTime(WriteChromiumEntry(folder_, *entry), 1700000000);
  const std::int64_t secondsTo1970 = 11644473600;
  WriteChromiumIndex(folder_, {{ChromiumHash(reused.key), (1700000500 + secondsTo1970) * 1000000},
                               {ChromiumHash(fresh.key), (1699999000 + secondsTo1970) * 1000000}});
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
  WriteBytes(sparsePath, ChromiumSparseBytes(head.key, {{3810, video.substr(3810, 40000)},
                                                        {0, video.substr(0, 3810)}}));
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
  EXPECT_FALSE(IsChromiumSimpleCacheFolder(JoinPath(folder_, "absent")));
}

TEST_F(ChromiumSourceTest, MemoRereadsOnlyChangedEntriesAndForgetsGoneOnes) {
  std::vector<ChromiumEntry> entries;
  for (std::uint32_t i = 0; i < 4; ++i) {
    entries.push_back(Picture("http://h/" + std::to_string(i) + ".jpg", 1000, i));
    entries.back().bodyCrc = false;  // written out of order: only the file's stamp tells a rewrite
    SetModificationTime(WriteChromiumEntry(folder_, entries.back()), 1700000000);
  }
  ChromiumSimpleCacheSource source(folder_);
  EXPECT_EQ(ListByUrl(source).size(), 4u);
  EXPECT_EQ(source.LastWalk().parsed, 4u);
  EXPECT_EQ(ListByUrl(source).size(), 4u);
  EXPECT_EQ(source.LastWalk().parsed, 0u);

  // Entry 1 is rewritten with other bytes of the same size after it was listed: the path listed
  // before no longer copies (it would not be what was listed) until the next walk reads it again.
  const std::string listedPath = ListByUrl(source).at("http://h/1.jpg").localPath;
  entries[1].body = PictureBytes(1000, 99);
  std::filesystem::remove(EntryPath(entries[1]));  // a new file, as the browser writes it
  SetModificationTime(WriteChromiumEntry(folder_, entries[1]), 1700000100);
  EXPECT_FALSE(CopyOut(listedPath));
  auto listed = ListByUrl(source);
  EXPECT_EQ(source.LastWalk().parsed, 1u);
  EXPECT_EQ(CopyOut(listed.at("http://h/1.jpg").localPath), entries[1].body);

  // Entry 2 is evicted: gone from the listing and from the virtual files.
  const std::string gonePath = listed.at("http://h/2.jpg").localPath;
  std::filesystem::remove(EntryPath(entries[2]));
  EXPECT_FALSE(CopyOut(gonePath));
  listed = ListByUrl(source);
  EXPECT_EQ(listed.size(), 3u);
  EXPECT_EQ(source.LastWalk().parsed, 0u);
  EXPECT_FALSE(FileSystemObject().FileExists(gonePath));
}
