// The blockfile source over caches built in the real byte format: what is listed, what a copy
// writes, and what damaged, dirty, half-written or rewritten entries do.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/PathText.h"
#include "cache/browser/FileTimes.h"
#include "cache/chromium/blockfile/BlockfileCacheSource.h"
#include "support/BlockfileFixtures.h"
#include "support/CacheFixtures.h"
#include "support/SourceReading.h"
#include "support/TempDir.h"

using namespace fixtures;

namespace {

constexpr std::uint32_t kBitmapOffset = 80;

class BlockfileSourceTest : public ::testing::Test {
 protected:
  BlockfileSourceTest() : folder_(temp_.Sub("Cache_Data")) {}

  static BlockfileEntry Picture(const std::string& url, std::size_t size, std::uint32_t seed) {
    BlockfileEntry entry;
    entry.key = "1/0/_dk_http://h http://h " + url;
    entry.body = PictureBytes(size, seed);
    return entry;
  }
  std::map<std::string, CacheEntry> List() {
    if (!source_) source_ = std::make_unique<BlockfileCacheSource>(folder_);
    return ListByUrl(*source_);
  }
  // Clears the bitmap bit of the first block at address in the written file.
  void MarkFree(const BlockfileCache& cache, std::uint32_t address) {
    const std::string path = JoinPath(folder_, cache.Locate(address).first);
    std::string bytes = ReadBytes(path);
    const std::uint32_t block = address & 0xFFFFu;
    bytes[kBitmapOffset + block / 8] = static_cast<char>(bytes[kBitmapOffset + block / 8] & ~(1 << (block % 8)));
    WriteBytes(path, bytes);
  }
  void Patch(const std::string& name, std::size_t offset, const std::string& with) {
    const std::string path = JoinPath(folder_, name);
    std::string bytes = ReadBytes(path);
    bytes.replace(offset, with.size(), with);
    WriteBytes(path, bytes);
  }

  TempDir temp_;
  std::string folder_;
  std::unique_ptr<BlockfileCacheSource> source_;
};

}  // namespace

TEST_F(BlockfileSourceTest, ListsAndCopiesBodiesFromEveryPlaceTheyCanLie) {
  // One bucket for all: every entry after the first is reached through a chain.
  BlockfileCache cache(1);
  std::vector<BlockfileEntry> entries;
  std::size_t seed = 1;
  for (std::size_t size : {67u, 900u, 1209u, 8176u, 16384u, 16385u, 300000u}) {
    entries.push_back(Picture("http://h/p" + std::to_string(size) + ".jpg", size, static_cast<std::uint32_t>(seed++)));
  }
  BlockfileEntry twoBlockKey = Picture("http://h/" + std::string(300, 'm') + "/mid.png", 2000, 20);
  twoBlockKey.headers = {"HTTP/1.1 200 OK", "Content-Type: image/png"};
  BlockfileEntry longKey = Picture("http://h/" + std::string(1200, 'k') + "/long.jpg", 5000, 21);
  BlockfileEntry fileKey = Picture("http://h/x?" + std::string(17000, 'q'), 700, 22);
  BlockfileEntry cjk = Picture("http://h/%E7%8C%AB%E3%81%AE%E5%86%99%E7%9C%9F.png", 3000, 23);
  const std::string bitmap = PictureBytes(40000, 24) + std::string(200000, 'b');
  BlockfileEntry gzip = Picture("http://h/striped.bmp", 0, 25);
  gzip.body = Gzip(bitmap);
  gzip.headers = {"HTTP/1.1 200 OK", "Content-Type: image/bmp", "Content-Encoding: gzip"};
  for (const auto* e : {&twoBlockKey, &longKey, &fileKey, &cjk, &gzip}) entries.push_back(*e);
  entries.back().lastUsed = 13311111111111111;
  for (const auto& e : entries) cache.Add(e);
  cache.Write(folder_);
  ASSERT_NE(cache.At(longKey.key).longKey >> 28, 0u);        // long key in blocks
  ASSERT_EQ(cache.At(fileKey.key).longKey >> 28, 8u);        // long key in a file of its own
  ASSERT_EQ(cache.At(twoBlockKey.key).entry >> 24 & 3, 1u);  // inline key in a two-block entry

  const auto listed = List();
  ASSERT_EQ(listed.size(), entries.size());
  for (const auto& e : entries) {
    const std::string url = e.key.substr(e.key.rfind(' ') + 1);
    ASSERT_TRUE(listed.count(url)) << url.substr(0, 60);
    const CacheEntry& got = listed.at(url);
    const std::string expected = &e == &entries.back() ? bitmap : e.body;
    EXPECT_EQ(got.size, expected.size()) << url.substr(0, 60);
    EXPECT_EQ(CopyOut(got.localPath), expected) << url.substr(0, 60);
    EXPECT_EQ(FileSystemObject().GetFile(got.localPath).Size, expected.size());
  }
  const CacheEntry& bmp = listed.at("http://h/striped.bmp");
  EXPECT_EQ(bmp.lastAccess.Value(), WindowsEpochMicrosecondsToFileTime(13311111111111111));
  char id[16];
  std::snprintf(id, sizeof id, "%08x", cache.At(gzip.key).entry);
  EXPECT_EQ(bmp.localPath, JoinPath(JoinPath(folder_, id), "striped.bmp"));
  EXPECT_EQ(listed.at("http://h/%E7%8C%AB%E3%81%AE%E5%86%99%E7%9C%9F.png").localPath.substr(folder_.size() + 10),
            "猫の写真.png");
  EXPECT_EQ(listed.at("http://h/x?" + std::string(17000, 'q')).localPath.substr(folder_.size() + 10), "x.jpg");
  EXPECT_FALSE(CopyOut(JoinPath(JoinPath(folder_, id), "other.bmp")));
}

TEST_F(BlockfileSourceTest, LeavesOutEntriesThatAreNotCleanOrDoNotHoldTogether) {
  BlockfileCache cache(4096);
  const BlockfileEntry good = Picture("http://h/good.jpg", 900, 1);
  BlockfileEntry dirty = Picture("http://h/dirty.jpg", 900, 2);
  dirty.dirty = 1;
  BlockfileEntry evicted = Picture("http://h/evicted.jpg", 900, 3);
  evicted.state = 1;
  BlockfileEntry child = Picture("http://h/child.jpg", 900, 7);
  child.flags = 2;
  // Damaged after writing: self hashes, back-pointers, freed blocks, short files, wrong key hash.
  const BlockfileEntry badEntryHash = Picture("http://h/e-hash.jpg", 900, 8);
  const BlockfileEntry badNodeHash = Picture("http://h/n-hash.jpg", 900, 9);
  const BlockfileEntry wrongContents = Picture("http://h/contents.jpg", 900, 10);
  const BlockfileEntry freedBody = Picture("http://h/freed.jpg", 3000, 11);
  const BlockfileEntry freedEntry = Picture("http://h/freed-entry.jpg", 900, 12);
  const BlockfileEntry shortFile = Picture("http://h/short-file.jpg", 20000, 13);
  const BlockfileEntry wrongKey = Picture("http://h/wrong-key.jpg", 900, 14);
  BlockfileEntry badSize = Picture("http://h/bad-size.jpg", 900, 15);
  badSize.addContentLength = false;  // only the blocks can tell that the size is wrong
  for (const BlockfileEntry* e : std::initializer_list<const BlockfileEntry*>{
           &good, &dirty, &evicted, &child, &badEntryHash, &badNodeHash, &wrongContents, &freedBody, &freedEntry,
           &shortFile, &wrongKey, &badSize}) {
    cache.Add(*e);
  }
  auto bytesAt = [&](std::uint32_t address) { return cache.Locate(address); };
  cache.Write(folder_);

  {  // the rankings node points at another entry, its self hash made right again
    BlockfileCache copy = cache;
    const auto [name, at] = copy.Locate(cache.At(wrongContents.key).rankings);
    std::string& raw = copy.Raw(name);
    raw[at - 8192 + 24] = static_cast<char>(raw[at - 8192 + 24] ^ 1);
    copy.Rehash(cache.At(wrongContents.key).rankings);
    WriteBytes(JoinPath(folder_, name), copy.Files().at(name));
  }
  {  // the key changed behind its hash; and a body size that no longer fits its blocks
    BlockfileCache copy = cache;
    const auto [name, at] = copy.Locate(cache.At(wrongKey.key).entry);
    copy.Raw(name)[at - 8192 + 96 + 20] = 'X';
    copy.Rehash(cache.At(wrongKey.key).entry);
    const auto [sizeName, sizeAt] = copy.Locate(cache.At(badSize.key).entry);
    copy.Raw(sizeName)[sizeAt - 8192 + 45] = 4;  // 900 + 1024 bytes in a run of 1024
    copy.Rehash(cache.At(badSize.key).entry);
    WriteBytes(JoinPath(folder_, name), copy.Files().at(name));
  }
  Patch(bytesAt(cache.At(badEntryHash.key).entry).first, bytesAt(cache.At(badEntryHash.key).entry).second + 44, "\x01");
  Patch(bytesAt(cache.At(badNodeHash.key).rankings).first, bytesAt(cache.At(badNodeHash.key).rankings).second + 1,
        "\x01");
  MarkFree(cache, cache.At(freedBody.key).streams[1]);
  MarkFree(cache, cache.At(freedEntry.key).entry);
  const std::string shortPath = JoinPath(folder_, cache.Locate(cache.At(shortFile.key).streams[1]).first);
  WriteBytes(shortPath, ReadBytes(shortPath).substr(0, 19999));

  const auto listed = List();
  EXPECT_TRUE(listed.count("http://h/good.jpg"));
  for (const auto& [url, entry] : listed) EXPECT_EQ(url, "http://h/good.jpg");
}

TEST_F(BlockfileSourceTest, SurvivesDamagedIndexAndBlockHeaders) {
  BlockfileCache cache(64);
  for (int i = 0; i < 20; ++i) cache.Add(Picture("http://h/" + std::to_string(i) + ".jpg", 500 + 900 * i, i + 1));
  const auto files = cache.Files();
  auto listWith = [&](const std::string& name, std::size_t offset, const std::string& bytes, std::size_t cut = 0) {
    cache.Write(folder_);
    std::string changed = files.at(name);
    changed.replace(offset, bytes.size(), bytes);
    if (cut) changed.resize(cut);
    WriteBytes(JoinPath(folder_, name), changed);
    BlockfileCacheSource source(folder_);
    return ListByUrl(source).size();
  };
  cache.Write(folder_);
  EXPECT_EQ(List().size(), 20u);
  EXPECT_EQ(listWith("index", 0, "\xc3\xca\x03\xc2"), 0u);                    // magic
  EXPECT_EQ(listWith("index", 28, std::string("\x00\x10\x00\x00", 4)), 0u);   // a table past the file's end
  EXPECT_EQ(listWith("index", 28, std::string("\x03\x00\x00\x00", 4)), 0u);   // not a power of two
  EXPECT_EQ(listWith("index", 0, "", 300), 0u);                               // shorter than its header
  EXPECT_EQ(listWith("data_1", 0, "XXXX"), 0u);                               // the entries' block file
  EXPECT_EQ(listWith("data_0", 12, std::string("\x00\x01\x00\x00", 4)), 0u);  // block size 256 in the rankings file
  EXPECT_EQ(listWith("data_1", 20, std::string("\x00\x00\x01\x00", 4)), 0u);  // more blocks than the file holds
  EXPECT_EQ(listWith("data_1", 80, std::string(8112, '\0')), 0u);             // nothing allocated
  EXPECT_EQ(listWith("data_1", 0, "", 8192 + 256 * 5), 0u);                   // cut short
  // Garbage in the hash table: slots that point anywhere are passed over.
  std::string table;
  for (int i = 0; i < 64; ++i) table += std::string("\x01\x00\xff\xa3", 4);
  EXPECT_EQ(listWith("index", 368, table), 0u);
  // Bodies in runs no longer marked in use are left out (sizes 1,400, 2,300 and 3,200 lie in data_2).
  EXPECT_EQ(listWith("data_2", 80, std::string(8, '\0')), 20u - 3u);
}

TEST_F(BlockfileSourceTest, ChainThatLoopsBackIsWalkedOnce) {
  BlockfileCache cache(1);
  const BlockfileEntry a = Picture("http://h/a.jpg", 500, 1), b = Picture("http://h/b.jpg", 500, 2);
  cache.Add(a);
  cache.Add(b);
  const auto [name, at] = cache.Locate(cache.At(b.key).entry);
  std::string& raw = cache.Raw(name);
  const std::uint32_t first = cache.At(a.key).entry;
  for (int i = 0; i < 4; ++i) raw[at - 8192 + 4 + static_cast<std::size_t>(i)] = static_cast<char>(first >> (8 * i));
  cache.Rehash(cache.At(b.key).entry);
  cache.Write(folder_);
  EXPECT_EQ(List().size(), 2u);
  EXPECT_EQ(source_->LastWalk().files, 2u);
}

TEST_F(BlockfileSourceTest, RemembersEntriesAcrossWalksAndReadsRewrittenOnesAgain) {
  BlockfileEntry entry = Picture("http://h/photo.jpg", 3000, 1);
  BlockfileCache first(64);
  first.Add(entry);
  first.Add(Picture("http://h/other.jpg", 400, 2));
  first.Write(folder_);
  auto listed = List();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(source_->LastWalk().parsed, 2u);
  const std::string oldPath = listed.at("http://h/photo.jpg").localPath;

  // Used again: a new last-used time, nothing parsed again.
  BlockfileCache reused(64);
  entry.lastUsed += 5000000;
  reused.Add(entry);
  reused.Add(Picture("http://h/other.jpg", 400, 2));
  reused.Write(folder_);
  listed = List();
  EXPECT_EQ(source_->LastWalk().parsed, 0u);
  EXPECT_EQ(listed.at("http://h/photo.jpg").lastAccess.Value(), WindowsEpochMicrosecondsToFileTime(entry.lastUsed));

  // Rewritten in place: the same entry address, a new body elsewhere.
  BlockfileCache rewritten(64);
  entry.body = PictureBytes(12000, 9);  // in data_3 now, no longer in data_2
  rewritten.Add(entry);
  rewritten.Add(Picture("http://h/other.jpg", 400, 2));
  rewritten.Write(folder_);
  ASSERT_EQ(rewritten.At(entry.key).entry, first.At(entry.key).entry);
  ASSERT_NE(rewritten.At(entry.key).streams[1], first.At(entry.key).streams[1]);
  listed = List();
  EXPECT_EQ(source_->LastWalk().parsed, 1u);
  EXPECT_EQ(listed.at("http://h/photo.jpg").localPath, oldPath);
  EXPECT_EQ(listed.at("http://h/photo.jpg").size, 12000u);
  EXPECT_EQ(CopyOut(oldPath), entry.body);
}

TEST_F(BlockfileSourceTest, SparseResourcesAreListedOnlyWhenWholeFromTheStart) {
  BlockfileCache cache(256);
  const std::string video = PictureBytes((2u << 20) + 300000 + 329, 1);
  const std::string small = PictureBytes(770377, 2);
  const std::string gap = PictureBytes(1500000, 3), missing = PictureBytes(1500000, 4);
  cache.AddSparse("1/0/http://h/v.webm", video, "video/webm");
  cache.AddSparse("1/0/http://h/s.webm", small, "video/webm");
  cache.AddSparse("1/0/http://h/gap.webm", gap, "video/webm", {(1u << 20) - 1024});
  cache.AddSparse("1/0/http://h/missing.webm", missing, "video/webm", {}, {false, true});
  cache.Write(folder_);
  const auto listed = List();
  ASSERT_EQ(listed.size(), 2u);  // children are parts of their parents, never listed on their own
  EXPECT_EQ(listed.at("http://h/v.webm").size, video.size());
  EXPECT_EQ(CopyOut(listed.at("http://h/v.webm").localPath), video);
  EXPECT_EQ(CopyOut(listed.at("http://h/s.webm").localPath), small);
  EXPECT_EQ(source_->LastWalk().files, 4u + 3 + 1 + 2 + 1);
}

TEST_F(BlockfileSourceTest, CopyThatRacesARewriteIsRefused) {
  BlockfileEntry entry = Picture("http://h/photo.jpg", 9000, 1);
  BlockfileCache before(64);
  before.Add(entry);
  before.Write(folder_);
  const std::string path = List().at("http://h/photo.jpg").localPath;
  BlockfileCache after(64);
  entry.body = PictureBytes(2000, 2);
  after.Add(entry);
  bool rewritten = false;
  EXPECT_ANY_THROW(FileSystemObject().ReadContents(path, [&](const char*, std::size_t) {
    if (!rewritten) after.Write(folder_);  // the browser rewrites the entry while its body is copied
    rewritten = true;
    return true;
  }));
  EXPECT_TRUE(rewritten);
}
