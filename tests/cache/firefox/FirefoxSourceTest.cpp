// The Firefox cache2 source over small caches built in the real byte format.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/PathText.h"
#include "cache/browser/FileTimes.h"
#include "cache/firefox/Cache2Format.h"
#include "cache/firefox/FirefoxCacheSource.h"
#include "support/CacheFixtures.h"
#include "support/SourceReading.h"
#include "support/TempDir.h"

using namespace fixtures;

namespace {

class FirefoxSourceTest : public ::testing::Test {
 protected:
  FirefoxSourceTest() : folder_(temp_.Sub("cache2")) { temp_.Sub("cache2/entries"); }

  FirefoxEntry Picture(const std::string& url, std::size_t size, std::uint32_t seed) {
    FirefoxEntry entry;
    entry.key = "O^partitionKey=%28http%2Ch%29,:" + url;
    entry.body = PictureBytes(size, seed);
    return entry;
  }
  std::string EntryPath(const FirefoxEntry& entry) {
    return JoinPath(JoinPath(folder_, "entries"), FirefoxFileName(entry.key));
  }

  TempDir temp_;
  std::string folder_;
};

}  // namespace

TEST(Cache2KeyTest, UrlFollowsTheTags) {
  EXPECT_EQ(UrlFromCache2Key("O^partitionKey=%28http%2C127.0.0.1%29,:http://127.0.0.1:37127/gz/gz.bmp"),
            "http://127.0.0.1:37127/gz/gz.bmp");
  EXPECT_EQ(UrlFromCache2Key("a,:https://x/v1/"), "https://x/v1/");
  EXPECT_EQ(UrlFromCache2Key("~1234,,5,:http://h/a,b.jpg"), "http://h/a,b.jpg");  // a doubled comma inside a value
  EXPECT_EQ(UrlFromCache2Key("O^x=:y,a,:http://h/p.png"), "http://h/p.png");      // ":" inside a value
  EXPECT_EQ(UrlFromCache2Key(":about:home"), "about:home");
  EXPECT_EQ(UrlFromCache2Key("a,b"), "");
  EXPECT_EQ(UrlFromCache2Key("O^unterminated"), "");
  EXPECT_EQ(AltDataOffset("1;2014,javascript/moz-script-bytecode"), 2014u);
  EXPECT_FALSE(AltDataOffset("2;2014,x"));
  EXPECT_FALSE(AltDataOffset("1;20x4,x"));
}

TEST_F(FirefoxSourceTest, ReadsBothTrailerLayoutsAndTheEntryTimes) {
  FirefoxEntry current = Picture("http://h/a.jpg", 3000, 1);
  current.lastFetched = 1700000500;
  current.fetchCount = 2;
  current.expiration = 1700086400;
  FirefoxEntry older = Picture("http://h/b.png", 2000, 2);
  older.key = "a,:http://h/b.png";
  older.legacyTrailer = true;
  older.version = 3;
  older.responseHead = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n";
  FirefoxEntry oldest = Picture("http://h/c.gif", 700, 3);
  oldest.legacyTrailer = true;
  oldest.version = 1;  // the short header without flags
  FirefoxEntry noExtension = Picture("https://h/img/12345", 1200, 4);
  noExtension.key = ":https://h/img/12345";
  for (const auto* entry : {&current, &older, &oldest, &noExtension}) WriteFirefoxEntry(folder_, *entry);

  FirefoxCacheSource source(folder_);
  const auto entries = ListByUrl(source);
  ASSERT_EQ(entries.size(), 4u);
  const CacheEntry& a = entries.at("http://h/a.jpg");
  EXPECT_EQ(a.localPath, EntryPath(current) + kPathSeparator + "a.jpg");
  EXPECT_EQ(a.lastAccess.Value(), UnixSecondsToFileTime(1700000500));
  EXPECT_EQ(a.expire.Value(), UnixSecondsToFileTime(1700086400));
  EXPECT_EQ(a.useCount, 2u);
  EXPECT_EQ(a.size, 3000u);
  EXPECT_EQ(entries.at("https://h/img/12345").extension, "jpg");
  EXPECT_EQ(CopyOut(a.localPath), current.body);
  EXPECT_EQ(CopyOut(entries.at("http://h/b.png").localPath), older.body);
  EXPECT_EQ(CopyOut(entries.at("http://h/c.gif").localPath), oldest.body);
  EXPECT_EQ(CopyOut(entries.at("https://h/img/12345").localPath), noExtension.body);
  EXPECT_TRUE(IsFirefoxCacheFolder(folder_));
  EXPECT_FALSE(IsFirefoxCacheFolder(JoinPath(folder_, "entries")));
}

TEST_F(FirefoxSourceTest, LeavesOutWhatIsNoHttpEntryOfThisVersion) {
  WriteFirefoxEntry(folder_, Picture("http://h/good.jpg", 900, 1));
  FirefoxEntry encrypted = Picture("http://h/secret.jpg", 800, 4);
  encrypted.encrypted = true;
  FirefoxEntry badHash = Picture("http://h/hash.jpg", 800, 5);
  badHash.wrongMetadataHash = true;
  FirefoxEntry page = Picture("about:home", 800, 6);
  page.key = ":about:home";
  FirefoxEntry badVersion = Picture("http://h/v9.jpg", 800, 7);
  badVersion.version = 9;
  badVersion.legacyTrailer = true;
  // Compiled script data after the HTTP body: the body is the part before it.
  FirefoxEntry withAltData = Picture("http://h/alt.jpg", 1500, 10);
  withAltData.addContentLength = false;
  withAltData.responseHead += "Content-Length: 1000\r\n";
  withAltData.extraElements = {{"alt-data", "1;1000,javascript/moz-script-bytecode"}};
  for (const auto* entry : {&encrypted, &badHash, &page, &badVersion, &withAltData}) {
    WriteFirefoxEntry(folder_, *entry);
  }
  // Doomed entries, context markers and stray names are not entries.
  std::filesystem::create_directories(JoinPath(folder_, "doomed"));
  WriteBytes(JoinPath(JoinPath(folder_, "doomed"), "1234"), FirefoxEntryBytes(Picture("http://h/doomed.jpg", 500, 11)));
  WriteBytes(JoinPath(folder_, "ce_T151c2VyQ29udGV4dElkPTUs"), "");
  WriteBytes(JoinPath(JoinPath(folder_, "entries"), "not-an-entry"),
             FirefoxEntryBytes(Picture("http://h/x.jpg", 500, 12)));

  FirefoxCacheSource source(folder_);
  const auto entries = ListByUrl(source);
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries.count("http://h/good.jpg"));
  ASSERT_TRUE(entries.count("http://h/alt.jpg"));
  EXPECT_EQ(entries.at("http://h/alt.jpg").size, 1000u);
  EXPECT_EQ(CopyOut(entries.at("http://h/alt.jpg").localPath), withAltData.body.substr(0, 1000));
  EXPECT_EQ(source.LastWalk().files, 6u);
}

TEST_F(FirefoxSourceTest, MemoFollowsRewrittenMetadata) {
  FirefoxEntry a = Picture("http://h/a.jpg", 1000, 1);
  FirefoxEntry b = Picture("http://h/b.jpg", 1000, 2);
  SetModificationTime(WriteFirefoxEntry(folder_, a), 1700000000);
  SetModificationTime(WriteFirefoxEntry(folder_, b), 1700000000);
  FirefoxCacheSource source(folder_);
  EXPECT_EQ(ListByUrl(source).size(), 2u);
  EXPECT_EQ(ListByUrl(source).size(), 2u);
  EXPECT_EQ(source.LastWalk().parsed, 0u);

  // A cache hit rewrites the metadata with a new last-fetched time.
  a.lastFetched = 1700009999;
  a.fetchCount = 2;
  SetModificationTime(WriteFirefoxEntry(folder_, a), 1700009999);
  const auto entries = ListByUrl(source);
  EXPECT_EQ(source.LastWalk().parsed, 1u);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries.at("http://h/a.jpg").lastAccess.Value(), UnixSecondsToFileTime(1700009999));
}
