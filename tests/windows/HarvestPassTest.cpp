// Whole harvest passes over the system's real WinInet cache (Wine's in CI): the right entries are
// copied, under the right names, byte for byte, and nothing in the folder is ever replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "WineUrlCache.h"
#include "base/PathText.h"
#include "cache/UrlCacheEnumeration.h"
#include "cache/wininet/WinInetSource.h"
#include "harvest/CaptureSession.h"
#include "harvest/FailedEntries.h"
#include "harvest/cmnWinInet.h"

namespace {

// The extension list of a user who wants jpg, gif and png pictures, and files without extension:
// WinInet names the files it caches itself without extension under Wine (cat[0]), while Windows
// names them after the address (cat[1].jpg). ";*.;" lets the same test hold on both.
const std::string kExtensions = ";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;*.png;*.;";

// The name a copy of the cached file gets: its file name, lower-cased, without "[1]".
std::string NameInFolder(const std::string& localPath) {
  std::string name = LowerCaseText(localPath.substr(localPath.rfind('\\') + 1));
  for (std::size_t at; (at = name.find("[1]")) != std::string::npos;) name.erase(at, 3);
  return name;
}

std::string WithSuffix(const std::string& name, const std::string& suffix) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name + suffix + "." : name.substr(0, dot) + suffix + name.substr(dot);
}

DateValue SecondsAgo(int seconds) { return DateValue::FromSeconds(DateValue::Now().Seconds() - seconds); }

// Length and FNV-1a hash: compared like the bytes, printed short when they differ.
std::string Fingerprint(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return std::to_string(bytes.size()) + " bytes #" + std::to_string(hash);
}

std::map<std::string, std::string> Contents(const wine_cache::TempFolder& folder) {
  std::map<std::string, std::string> contents;
  for (const std::string& name : folder.FileNames()) {
    contents[name] = Fingerprint(wine_cache::ReadWholeFile(folder.Path() + "\\" + name));
  }
  return contents;
}

class HarvestPass : public ::testing::Test {
 protected:
  void SetUp() override {
    wine_cache::EmptyUrlCache();
    session = std::make_unique<CaptureSession>(CaptureWiring{.urlCache = std::make_shared<WinInetSource>()});
    InitCacheBuffer();
    HarvestedKeys = std::make_unique<KeyedCollection>();
  }
  void TearDown() override { session.reset(); }
  std::unique_ptr<CaptureSession> session;

  void Pass(const DateValue& captureStart, std::int32_t minimumKb = 25) {
    HarvestCache(kExtensions, captureStart, destination.Path(), minimumKb);
    ASSERT_FALSE(LastPassStatistics().endedByError) << LastPassStatistics().error;
  }

  wine_cache::TempFolder destination;
};

TEST_F(HarvestPass, CopiesTheWantedEntriesByteForByteAndReplacesNothing) {
  const DateValue captureStart = SecondsAgo(2);
  const std::string root = wine_cache::PictureServerRoot();
  const std::string sunset = wine_cache::MadeUpBytes(30000, 1);
  const std::string sunsetPath = wine_cache::AddCacheEntry("http://tavrin.test/gallery/Sunset.JPG", "JPG", sunset);
  wine_cache::AddCacheEntry("http://tavrin.test/gallery/tiny.jpg", "jpg", wine_cache::MadeUpBytes(25 * 1024 - 1, 2));
  wine_cache::AddCacheEntry("http://tavrin.test/notes/readme.txt", "txt", wine_cache::MadeUpBytes(30000, 3));
  // Its headers make this entry larger than the 8192-byte receive buffer.
  const std::string header = wine_cache::MadeUpBytes(25 * 1024, 4);
  const std::string headerPath =
      wine_cache::AddCacheEntry("http://tavrin.test/big/header.gif", "gif", header,
                                "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(20000, 'p') + "\r\n\r\n");
  const std::string catUrl = root + "/shop/cat.jpg?size=40000";
  const std::string dogUrl = root + "/shop/dog.png?size=25600&v=3";
  const std::string cat = wine_cache::FetchUrl(catUrl);
  const std::string dog = wine_cache::FetchUrl(dogUrl);

  std::map<std::string, std::string> localOf;
  for (const wine_cache::RawEntry& e : wine_cache::ListRawEntries().entries) localOf[e.url] = e.localPath;
  ASSERT_EQ(localOf.size(), 6u);

  // A different picture of the same size already holds the name the sunset would get.
  const std::string sunsetName = NameInFolder(sunsetPath);
  const std::string stranger = wine_cache::MadeUpBytes(sunset.size(), 99);
  wine_cache::WriteWholeFile(destination.Path() + "\\" + sunsetName, stranger);

  Pass(captureStart);
  EXPECT_EQ(LastPassStatistics().entries, 6u);
  EXPECT_EQ(LastPassStatistics().copied, 4u);
  EXPECT_GT(CacheBuffer->Length(), 8192);
  const std::map<std::string, std::string> expected = {
      {sunsetName, Fingerprint(stranger)},
      {WithSuffix(sunsetName, "_1"), Fingerprint(sunset)},
      {NameInFolder(headerPath), Fingerprint(header)},
      {NameInFolder(localOf[catUrl]), Fingerprint(cat)},
      {NameInFolder(localOf[dogUrl]), Fingerprint(dog)},
  };
  ASSERT_EQ(expected.size(), 5u) << "two entries would share a name";
  EXPECT_EQ(Contents(destination), expected);

  // Within the capture every address is harvested once.
  Pass(captureStart);
  EXPECT_EQ(LastPassStatistics().copied, 0u);
  EXPECT_EQ(Contents(destination), expected);

  // A new capture meets the same files again: the ones already there count as present, the
  // sunset under its numbered name too, and nothing that is there is replaced.
  HarvestedKeys = std::make_unique<KeyedCollection>();
  Pass(captureStart);
  EXPECT_EQ(LastPassStatistics().present, 4u);
  const std::map<std::string, std::string> after = Contents(destination);
  for (const auto& [name, fingerprint] : expected) EXPECT_EQ(after.at(name), fingerprint) << name;
}

TEST_F(HarvestPass, EntriesUsedBeforeTheCaptureStartedAreLeft) {
  wine_cache::AddCacheEntry("http://tavrin.test/old/pic.jpg", "jpg", wine_cache::MadeUpBytes(30000, 5));
  wine_cache::FetchUrl(wine_cache::PictureServerRoot() + "/old/cat.jpg?size=30000");
  Pass(DateValue::FromSeconds(DateValue::Now().Seconds() + 3600));
  EXPECT_EQ(LastPassStatistics().entries, 2u);
  EXPECT_TRUE(destination.FileNames().empty());
}

// WinInet numbers cache files of the same name: [0] and up under Wine, [1] and up on Windows. The
// "[1]" goes from the copy's name; same names from different entries get numbered copies.
TEST_F(HarvestPass, NumberedCacheNamesAndClashes) {
  std::multiset<std::string> cached;
  std::vector<std::string> locals;
  for (unsigned i = 0; i < 9; ++i) {
    const std::string bytes = wine_cache::MadeUpBytes(26000 + i, 20 + i);
    locals.push_back(
        wine_cache::AddCacheEntry("http://tavrin.test/dup/" + std::to_string(i) + "/beach.jpg", "jpg", bytes));
    cached.insert(Fingerprint(bytes));
  }
  // Nine files named alike in WinInet's few cache folders: some must carry [1].
  ASSERT_TRUE(std::any_of(locals.begin(), locals.end(),
                          [](const std::string& p) { return p.find("beach[1].jpg") != std::string::npos; }));
  Pass(SecondsAgo(2));
  const std::map<std::string, std::string> copied = Contents(destination);
  std::multiset<std::string> copiedPrints;
  for (const auto& [name, print] : copied) {
    copiedPrints.insert(print);
    EXPECT_EQ(name.find("[1]"), std::string::npos) << name;
  }
  EXPECT_EQ(copiedPrints, cached);
  EXPECT_EQ(copied.count("beach.jpg"), 1u);
}

// A cache file that vanished ends only its entry, without a partial copy, and says so; the entry is
// tried again a few passes later.
TEST_F(HarvestPass, VanishedCacheFileLeavesNothingAndIsRetried) {
  const std::string bytes = wine_cache::MadeUpBytes(30000, 6);
  const std::string local = wine_cache::AddCacheEntry("http://tavrin.test/gone/pic.jpg", "jpg", bytes);
  const std::string hidden = local + ".away";
  ASSERT_TRUE(wine_cache::RenameFile(local, hidden));
  const DateValue start = SecondsAgo(60);
  HarvestCache(kExtensions, start, destination.Path(), 25);
  EXPECT_FALSE(LastPassStatistics().endedByError);
  EXPECT_EQ(LastPassStatistics().failed, 1u);
  EXPECT_NE(LastPassStatistics().error.find(local), std::string::npos) << LastPassStatistics().error;
  EXPECT_TRUE(destination.FileNames().empty());

  ASSERT_TRUE(wine_cache::RenameFile(hidden, local));
  for (std::uint64_t pass = 0; pass < FailedEntries::kPassesBetweenTries; ++pass) {
    HarvestCache(kExtensions, start, destination.Path(), 25);
  }
  EXPECT_TRUE(destination.FileNames().empty());
  HarvestCache(kExtensions, start, destination.Path(), 25);
  EXPECT_EQ(Contents(destination), (std::map<std::string, std::string>{{NameInFolder(local), Fingerprint(bytes)}}));
}

}  // namespace
