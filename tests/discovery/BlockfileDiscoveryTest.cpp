// Blockfile caches found where the browsers keep them on Windows, told apart from the other
// formats, and read through the source discovery makes for them.
#include <gtest/gtest.h>

#include <filesystem>

#include "cache/discovery/CacheLocations.h"
#include "cache/discovery/Discovery.h"
#include "support/BlockfileFixtures.h"
#include "support/CacheFixtures.h"
#include "support/SourceReading.h"
#include "support/TempDir.h"

using namespace fixtures;

TEST(BlockfileDiscoveryTest, BlockfileFoldersAreReadThroughDiscovery) {
  TempDir temp;
  const std::string folder = temp.Sub("Default/Cache/Cache_Data");
  BlockfileCache cache(64);
  BlockfileEntry entry;
  entry.key = "1/0/http://h/a.jpg";
  entry.body = PictureBytes(40000, 1);
  cache.Add(entry);
  cache.Write(folder);
  const auto kind = ClassifyCacheFolder(folder);
  ASSERT_TRUE(kind);
  EXPECT_EQ(kind->kind, CacheKind::ChromiumBlockfile);
  EXPECT_TRUE(kind->readable);
  const auto source = MakeCacheSource(*kind);
  ASSERT_TRUE(source);
  const auto listed = ListByUrl(*source);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(CopyOut(listed.at("http://h/a.jpg").localPath), entry.body);
}

TEST(BlockfileDiscoveryTest, FindsBlockfileCachesInTheWindowsLocations) {
  TempDir temp;
  const std::string local = temp.Sub("AppData/Local");
  const std::string chrome = temp.Sub("AppData/Local/Google/Chrome/User Data/Default/Cache/Cache_Data");
  const std::string edge = temp.Sub("AppData/Local/Microsoft/Edge/User Data/Profile 1/Cache");  // older layout
  temp.Sub("AppData/Local/Microsoft/Edge/User Data/Profile 2/Cache");                           // no cache in it
  for (const std::string& folder : {chrome, edge}) {
    BlockfileCache cache(64);
    BlockfileEntry entry;
    entry.key = "1/0/http://h/" + std::string(folder == chrome ? "chrome" : "edge") + ".jpg";
    entry.body = PictureBytes(30000, 1);
    cache.Add(entry);
    cache.Write(folder);
  }
  UserRoots roots;
  roots.localAppData = local;
  const auto discover = [roots] {
    std::vector<DiscoveredCache> caches;
    for (const CandidateFolder& candidate : CandidateCacheFolders(roots)) {
      if (auto cache = ClassifyCacheFolder(candidate.folder)) caches.push_back(*cache);
    }
    return caches;
  };
  const std::vector<DiscoveredCache> caches = discover();
  ASSERT_EQ(caches.size(), 2u);
  EXPECT_EQ(caches[0].folder, chrome);
  EXPECT_EQ(caches[1].folder, edge);
  const auto listed = ListByUrl(*MakeUrlCacheOf(caches));
  EXPECT_EQ(listed.size(), 2u);
  EXPECT_TRUE(listed.count("http://h/chrome.jpg"));
  EXPECT_TRUE(listed.count("http://h/edge.jpg"));

  // Discovered and read in the background: a profile whose browser is first started meanwhile is
  // found, a removed one dropped, and the cache kept current while it stays.
  const auto background = MakeDiscoveredUrlCache(CacheReading::InBackground, discover);
  background->WaitUntilCurrent();
  EXPECT_EQ(ListByUrl(*background).size(), 2u);
  const std::string started = temp.Sub("AppData/Local/Microsoft/Edge/User Data/Profile 2/Cache/Cache_Data");
  WriteChromiumEntry(started, {.key = "1/0/http://h/started.jpg", .body = PictureBytes(30000, 3)});
  std::filesystem::remove_all(edge);
  background->WaitUntilCurrent();
  auto found = ListByUrl(*background);
  EXPECT_EQ(found.size(), 2u);
  EXPECT_TRUE(found.count("http://h/chrome.jpg"));
  ASSERT_TRUE(found.count("http://h/started.jpg"));
  EXPECT_EQ(CopyOut(found.at("http://h/started.jpg").localPath), PictureBytes(30000, 3));
  WriteChromiumEntry(started, {.key = "1/0/http://h/later.jpg", .body = PictureBytes(30000, 4)});
  background->WaitUntilCurrent();
  EXPECT_EQ(ListByUrl(*background).size(), 3u);
}
