// Which entries a pass copies, and under which names.
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "HarvestFixture.h"
#include "base/FileWriter.h"
#include "base/PathText.h"
#include "base/SafeFileName.h"
#include "base/VirtualFiles.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kDefaultList = ";*.jpg;*.jpeg;*.bmp;*.gif;*.flv;";

class EntryHarvest : public HarvestFixture {};

TEST_F(EntryHarvest, ExtensionsMatchWholeListItemsOnly) {
  Add(Entry("http://a/one.jpg", "one.jpg", "1"));
  Add(Entry("http://a/two.png", "two.png", "2"));
  Add(Entry("http://a/three.JPEG", "three.JPEG", "3"));
  Add(Entry("http://a/noext", "noext", "4"));
  Pass(kDefaultList);
  EXPECT_THAT(Harvested(), ElementsAre("one.jpg", "three.jpeg"));

  HarvestedKeys = std::make_unique<KeyedCollection>();
  Pass(";jpg;png;");  // bare extensions without star and dot match nothing
  EXPECT_THAT(Harvested(), ElementsAre("one.jpg", "three.jpeg"));

  Pass(";*.*;");  // every extension, the empty one too
  EXPECT_THAT(Harvested(), ElementsAre("noext", "one.jpg", "three.jpeg", "two.png"));
}

TEST_F(EntryHarvest, SizeMustReachTheMinimumInWholeKilobytes) {
  Add(Entry("http://a/exact.jpg", "exact.jpg", std::string(25 * 1024, 'e')));
  Add(Entry("http://a/short.jpg", "short.jpg", std::string(25 * 1024 - 1, 's')));
  Pass(kDefaultList, 25);
  EXPECT_THAT(Harvested(), ElementsAre("exact.jpg"));
}

TEST_F(EntryHarvest, SizesOf2GiBAndMoreReadAsNegative) {
  CacheEntry small = Entry("http://a/neg1.jpg", "neg1.jpg", "x");
  small.size = 0xFFFFFFFFu;  // -1 → 0 kilobytes: passes only with a minimum of 0
  CacheEntry huge = Entry("http://a/neg.jpg", "neg.jpg", "y");
  huge.size = 0x80000000u;  // far below zero: never passes
  Add(small);
  Add(huge);
  Pass(kDefaultList, 1);
  EXPECT_THAT(Harvested(), IsEmpty());
  Pass(kDefaultList, 0);
  EXPECT_THAT(Harvested(), ElementsAre("neg1.jpg"));
}

TEST_F(EntryHarvest, OnlyEntriesUsedAfterTheStartPass) {
  Add(Entry("http://a/same.jpg", "same.jpg", "s", 0));
  Add(Entry("http://a/before.jpg", "before.jpg", "b", -60));
  Add(Entry("http://a/later.jpg", "later.jpg", "l", 1));
  CacheEntry never = Entry("http://a/never.jpg", "never.jpg", "n");
  never.lastAccess = CacheFileTime::FromValue(1ULL << 63);  // unconvertible
  Add(never);
  Pass();
  EXPECT_THAT(Harvested(), ElementsAre("later.jpg"));
}

TEST_F(EntryHarvest, NamesAreLowerCaseWithoutTheCacheCounter) {
  Add(Entry("http://a/1", "Photo[1].JPG", "1"));
  Add(Entry("http://a/2", "photo[2].jpg", "2"));
  Add(Entry("http://a/3", "a[1]b[1].gif", "3"));
  Pass();
  EXPECT_THAT(Harvested(), ElementsAre("ab.gif", "photo.jpg", "photo[2].jpg"));
}

TEST_F(EntryHarvest, EntriesWithoutAnAddressAreIgnored) {
  CacheEntry noUrl = Entry("", "orphan.jpg", "o");
  Add(noUrl);
  Add(Entry("http://a/next.jpg", "next.jpg", "n"));
  Pass();
  EXPECT_THAT(Harvested(), ElementsAre("next.jpg"));
}

TEST_F(EntryHarvest, RecognisesVideosOnlyWhenFlvIsListed) {
  Add(Entry("http://youtube.com/get_video?video_id=1&t=xyz", "get_video[1]", "kind 2"));
  Add(Entry("http://www.youtube.com/get_video", "get_video[2]", "kind 2 without ="));
  Add(Entry("http://v.com/videodownload?id=5", "dl[1].bin", "kind 1"));
  Add(Entry("http://streetvoice.com/getvideo?x=song", "sv[1]", "kind 3"));
  Add(Entry("http://other.com/getvideo?x=not", "other[1]", "no video"));
  Add(Entry("http://YOUTUBE.com/get_video?t=upper", "upper[1]", "case matters"));
  // A video whose cache file has a listed extension is still named from its address.
  Add(Entry("http://youtube.com/get_video?fmt=5&t=listed", "frame[1].jpg", "kind 2 with a jpg file"));
  Pass(";*.gif;");
  EXPECT_THAT(Harvested(), IsEmpty());
  Pass(";*.jpg;*.flv;");
  EXPECT_THAT(Harvested(), ElementsAre("dl.bin", "get_video[2]", "listed.flv", "song.flv", "xyz.flv"));
}

TEST_F(EntryHarvest, VideoNamesFromAddressesCannotLeaveTheFolder) {
  Add(Entry("http://youtube.com/get_video?t=../../escape", "v1[1]", "a"));
  Add(Entry("http://youtube.com/get_video?t=..", "v2[1]", "b"));
  Pass(";*.flv;");
  EXPECT_THAT(Harvested(), ElementsAre("...flv", ".._.._escape.flv"));
  EXPECT_FALSE(std::filesystem::exists(destRoot / "escape.flv"));
}

// A picture is never named like the program's temporary files, which a start removes; a name is
// shortened to the destination's limit before its extension, never inside a character; and on
// Windows no name is taken for a device.
TEST_F(EntryHarvest, NamesAreNeverTemporariesOrDevicesAndFitTheirFolder) {
  Add(Entry("http://a/x/.tavrin-copy-Ab12Cd", ".tavrin-copy-Ab12Cd", "picture"));
  Pass(";*.*;");
  EXPECT_THAT(Harvested(), ElementsAre("_tavrin-copy-ab12cd"));
  EXPECT_EQ(RemoveLeftoverCopies(dest), 0);
  EXPECT_THAT(Harvested(), ElementsAre("_tavrin-copy-ab12cd"));

  std::string chinese;
  for (int i = 0; i < 60; ++i) chinese += "港";  // 180 bytes
  const std::string cut = SafeFileName(chinese + ".jpg", 143);
  EXPECT_EQ(cut, chinese.substr(0, 123) + ".jpg");  // 41 whole characters in 128 bytes
  EXPECT_EQ(SafeFileName(chinese + ".jpg").size(), 180u + 4);
  EXPECT_EQ(SafeFileName(std::string(300, 'a') + ".jpg").size(), 240u);
  EXPECT_EQ(SafeFileName(std::string(300, 'a') + ".jpg", 0), SafeFileName(std::string(300, 'a') + ".jpg", 4096));
#ifdef _WIN32
  for (const char* device :
       {"con .jpg", "nul  .gif", "prn .txt.jpg", "CONIN$.jpg", "conout$ .jpg", "Aux", "com\u00B9.jpg"}) {
    EXPECT_EQ(SafeFileName(device), std::string("_") + device) << device;
  }
  EXPECT_EQ(SafeFileName("console.jpg"), "console.jpg");
  EXPECT_EQ(SafeFileName("com\u00B9\u00B2.jpg"), "com\u00B9\u00B2.jpg");
  // What no name can hold, and bytes that are no UTF-8 character (a lone continuation byte, an
  // encoded surrogate, an over-long "/"), are "_"; every other character stays.
  EXPECT_EQ(SafeFileName("a<b>c:d\"e|f?g*h\x01.jpg"), "a_b_c_d_e_f_g_h_.jpg");
  EXPECT_EQ(SafeFileName("\x80\xED\xA0\x80\xC0\xAF\xF0\x9F\x98.jpg"), "_________.jpg");
#endif
}

// A browser cache entry's name comes from its address, in UTF-8: it keeps its characters (on
// Windows whatever the ANSI code page), and a character no file name holds is "_", not a reason
// to fail.
TEST_F(EntryHarvest, NamesFromAddressesKeepTheirCharacters) {
  struct Bodies : VirtualFileProvider {
    std::optional<std::uint64_t> SizeOf(const std::string&) override { return 7; }
    bool CopyTo(const std::string&, const ByteSink& sink) override { return sink("picture", 7); }
  };
  const std::string folder = cacheDir / "browser";
  const auto registration = virtual_files::Register(folder, std::make_shared<Bodies>());
  CacheEntry entry = Entry("http://a/x.jpg", "unused", "picture");
  entry.localPath = JoinPath(JoinPath(folder, "1"), "港口é\xF0\x9F\x98\x80|.jpg");
  Add(entry);
  Pass();
  ASSERT_EQ(Harvested().size(), 1u) << LastPassStatistics().error;
  const std::u8string utf8 = std::filesystem::directory_iterator(dest)->path().filename().u8string();
  const std::string name(utf8.begin(), utf8.end());
#ifdef _WIN32
  EXPECT_EQ(name, "港口é\xF0\x9F\x98\x80_.jpg") << "code page " << GetACP();
#else
  EXPECT_EQ(name, "港口é\xF0\x9F\x98\x80|.jpg");
#endif
}

TEST_F(EntryHarvest, AddressesAreKeyedWithoutCaseAtPrefixOrFilePrefix) {
  Add(Entry("http://a/pic.jpg", "first.jpg", "1"));
  Add(Entry("HTTP://A/PIC.JPG", "second.jpg", "2"));
  Add(Entry("user@http://a/pic.jpg", "third.jpg", "3"));
  Add(Entry("file:///c/x.jpg", "fourth.jpg", "4"));
  Add(Entry("FILE:///C/X.jpg", "fifth.jpg", "5"));
  Add(Entry("c/x.jpg", "sixth.jpg", "6"));
  Pass();
  EXPECT_THAT(Harvested(), ElementsAre("first.jpg", "fourth.jpg"));
  EXPECT_EQ(HarvestedKeys->Count(), 2u);
  EXPECT_TRUE(CollectionHasKey(HarvestedKeys.get(), "Chttp://a/pic.jpg"));
  EXPECT_TRUE(CollectionHasKey(HarvestedKeys.get(), "CC/X.JPG"));
}

TEST_F(EntryHarvest, AHarvestedAddressIsSkippedUntilTheNextCapture) {
  CacheEntry entry = Entry("http://a/pic.jpg", "pic.jpg", "first");
  Add(entry);
  Pass();
  WriteFile(entry.localPath, "changed");
  Pass();
  EXPECT_EQ(ReadFile(dest + "/pic.jpg"), "first");
  // A new capture: the key is gone, the file is compared with what the folder holds.
  HarvestedKeys = std::make_unique<KeyedCollection>();
  Pass();
  EXPECT_THAT(Harvested(), ElementsAre("pic.jpg", "pic_1.jpg"));
  EXPECT_EQ(ReadFile(dest + "/pic_1.jpg"), "changed");
}

TEST_F(EntryHarvest, CollectionHasKeyIsFalseWithoutACollection) {
  KeyedCollection keys;
  keys.Add("", "CKey");
  EXPECT_TRUE(CollectionHasKey(&keys, "ckey"));
  EXPECT_FALSE(CollectionHasKey(&keys, "other"));
  EXPECT_FALSE(CollectionHasKey(nullptr, "CKey"));
}

}  // namespace
