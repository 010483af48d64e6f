// A whole harvest pass over browser caches built in the real formats, into a real folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "base/PathText.h"
#include "cache/UrlCacheEnumeration.h"
#include "cache/chromium/simple/ChromiumSimpleCacheSource.h"
#include "cache/discovery/Discovery.h"
#include "cache/discovery/UnionCacheSource.h"
#include "cache/firefox/FirefoxCacheSource.h"
#include "harvest/CaptureSession.h"
#include "harvest/cmnWinInet.h"
#include "support/BlockfileFixtures.h"
#include "support/CacheFixtures.h"
#include "support/TempDir.h"

using namespace fixtures;

namespace {

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder)) names.insert(item.path().filename().string());
  return names;
}

// Each file's name with a digest of its bytes.
std::map<std::string, std::size_t> ContentsIn(const std::string& folder) {
  std::map<std::string, std::size_t> contents;
  for (const std::string& name : FilesIn(folder))
    contents[name] = std::hash<std::string>()(ReadBytes(JoinPath(folder, name)));
  return contents;
}

}  // namespace

TEST(HarvestPassTest, CopiesPicturesOfBothBrowsersByteForByte) {
  TempDir temp;
  const std::string chromium = temp.Sub("Cache_Data");
  const std::string firefox = temp.Sub("cache2");
  const std::string destination = temp.Sub("dest");
  WriteChromiumIndexMarker(chromium);

  const std::string jpeg = PictureBytes(30000, 1), png = PictureBytes(27000, 2),
                    bmp = PictureBytes(80000, 3) + std::string(40000, 'b');
  const std::string flv = PictureBytes(26000, 4), gif = PictureBytes(40000, 5), small = PictureBytes(1000, 6);
  ChromiumEntry c1{.key = "1/0/_dk_http://s http://s http://s/photos/cat.jpg", .body = jpeg};
  ChromiumEntry c2{.key = "1/0/http://s/%E7%8C%AB%E3%81%AE%E5%86%99%E7%9C%9F.png",
                   .body = png,
                   .headers = {"HTTP/1.1 200 OK", "Content-Type: image/png"}};
  ChromiumEntry c3{
      .key = "1/0/http://s/img/12345", .body = gif, .headers = {"HTTP/1.1 200 OK", "Content-Type: image/gif"}};
  ChromiumEntry c4{.key = "1/0/http://s/missing.jpg", .body = jpeg, .headers = {"HTTP/1.1 404 Not Found"}};
  ChromiumEntry c5{.key = "1/0/http://s/tiny.jpg", .body = small};
  for (const auto* entry : {&c1, &c2, &c3, &c4, &c5}) WriteChromiumEntry(chromium, *entry);

  FirefoxEntry f1{.key = "O^partitionKey=%28http%2Cs%29,:http://f/gz/picture.bmp",
                  .body = Gzip(bmp),
                  .responseHead = "HTTP/1.1 200 OK\r\nContent-Type: Image/BMP; name=x\r\nContent-Encoding: gzip\r\n"};
  FirefoxEntry f2{.key = ":http://f/watch/get_video?v=1&youtube=1&t=xyz",
                  .body = flv,
                  .responseHead = "HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\n"};
  FirefoxEntry f3{.key = ":http://f/old.jpg", .body = jpeg, .lastFetched = 946684800};  // used long before the capture
  FirefoxEntry f4{.key = ":http://f/cat.jpg",  // same name as c1, other picture, a type that is none
                  .body = PictureBytes(30000, 7),
                  .responseHead = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\x01<b>\r\n"};
  for (const auto* entry : {&f1, &f2, &f3, &f4}) WriteFirefoxEntry(firefox, *entry);
  for (const auto& item : std::filesystem::directory_iterator(chromium)) {
    if (item.is_regular_file()) SetModificationTime(item.path().string(), 1700000000);
  }

  const UnionCacheSource::SourceList members{std::make_shared<ChromiumSimpleCacheSource>(chromium),
                                             std::make_shared<FirefoxCacheSource>(firefox)};
  auto cache = std::make_shared<UnionCacheSource>([members] { return members; });
  CaptureSession session({.urlCache = cache});
  InitCacheBuffer();
  HarvestedKeys = std::make_unique<KeyedCollection>();
  const DateValue captureStart = DateValue::FromFields(2010, 1, 1, 0, 0, 0);
  HarvestCache(";*.jpg;*.png;*.gif;*.bmp;*.flv;", captureStart, destination, 25);
  EXPECT_FALSE(LastPassStatistics().endedByError) << LastPassStatistics().error;

  EXPECT_EQ(FilesIn(destination),
            (std::set<std::string>{"cat.jpg", "cat_1.jpg", "猫の写真.png", "12345.gif", "picture.bmp", "xyz.flv"}));
  EXPECT_EQ(ReadBytes(JoinPath(destination, "cat.jpg")), jpeg);
  EXPECT_EQ(ReadBytes(JoinPath(destination, "cat_1.jpg")), f4.body);
  EXPECT_EQ(ReadBytes(JoinPath(destination, "猫の写真.png")), png);
  EXPECT_EQ(ReadBytes(JoinPath(destination, "12345.gif")), gif);
  EXPECT_EQ(ReadBytes(JoinPath(destination, "picture.bmp")), bmp);
  EXPECT_EQ(ReadBytes(JoinPath(destination, "xyz.flv")), flv);

  // A second pass finds every picture harvested already and copies nothing more.
  HarvestCache(";*.jpg;*.png;*.gif;*.bmp;*.flv;", captureStart, destination, 25);
  EXPECT_FALSE(LastPassStatistics().endedByError);
  EXPECT_EQ(LastPassStatistics().copied, 0u);
  EXPECT_EQ(FilesIn(destination).size(), 6u);

  // A new capture into the same folder finds every picture present, the numbered cat_1.jpg too.
  HarvestedKeys = std::make_unique<KeyedCollection>();
  HarvestCache(";*.jpg;*.png;*.gif;*.bmp;*.flv;", captureStart, destination, 25);
  EXPECT_EQ(LastPassStatistics().copied, 0u);
  EXPECT_EQ(LastPassStatistics().present, 6u);
  EXPECT_EQ(FilesIn(destination).size(), 6u);

  // Every copy carries the address it came from and its media type, where the file system keeps
  // extended attributes.
  const auto attribute = [&](const char* file, const char* name) {
    char value[512];
    const ssize_t got = ::getxattr(JoinPath(destination, file).c_str(), name, value, sizeof value);
    return got < 0 ? std::string("(errno ") + std::to_string(errno) + ")" : std::string(value, got);
  };
  if (::setxattr(destination.c_str(), "user.probe", "1", 1, 0) != 0 && (errno == ENOTSUP || errno == EPERM)) {
    GTEST_SKIP() << "no user extended attributes on " << destination;
  }
  EXPECT_EQ(attribute("picture.bmp", "user.xdg.origin.url"), "http://f/gz/picture.bmp");
  EXPECT_EQ(attribute("picture.bmp", "user.mime_type"), "image/bmp");
  EXPECT_EQ(attribute("12345.gif", "user.xdg.origin.url"), "http://s/img/12345");
  EXPECT_EQ(attribute("12345.gif", "user.mime_type"), "image/gif");
  EXPECT_EQ(attribute("cat_1.jpg", "user.xdg.origin.url"), "http://f/cat.jpg");
  EXPECT_EQ(attribute("cat_1.jpg", "user.mime_type"), "(errno " + std::to_string(ENODATA) + ")");
}

// The same changing caches harvested three times: handing every entry to every pass; passing over
// the entries whose decision was settled; and that, with the caches read on background threads
// (each pass waits until they are current). After every pass the folder holds the same files and
// the pass ended the same way; the settling ways hand over fewer entries while nothing changed, and
// a picture that fails its check ends no pass.
TEST(HarvestPassTest, PassingOverSettledEntriesChangesNoOutcome) {
  struct Outcome {
    std::map<std::string, std::size_t> folder;
    std::uint64_t entries, copied, present, failed;
    bool endedByError;
  };
  const DateValue captureStart = DateValue::FromFields(2023, 1, 1, 0, 0, 0);
  const std::int64_t before = 1600000000, after = 1750000000;  // Unix seconds
  auto script = [&](bool settling, bool background) {
    TempDir temp;
    const std::string chromium = temp.Sub("Cache_Data"), firefox = temp.Sub("cache2"), dest = temp.Sub("dest");
    WriteChromiumIndexMarker(chromium);
    CaptureSession session;
    if (background) {
      session.UseUrlCache(MakeUrlCacheOf({{CacheKind::ChromiumSimple, chromium}, {CacheKind::Firefox, firefox}},
                                         CacheReading::InBackground));
    } else {
      const UnionCacheSource::SourceList members{std::make_shared<ChromiumSimpleCacheSource>(chromium),
                                                 std::make_shared<FirefoxCacheSource>(firefox)};
      session.UseUrlCache(std::make_shared<UnionCacheSource>([members] { return members; }));
    }
    InitCacheBuffer();
    HarvestedKeys = std::make_unique<KeyedCollection>();
    session.SetSettling(settling);
    std::vector<Outcome> outcomes;
    auto pass = [&] {
      GetUrlCache()->WaitUntilCurrent();
      HarvestCache(";*.jpg;", captureStart, dest, 25);
      const PassStatistics& s = LastPassStatistics();
      outcomes.push_back({ContentsIn(dest), s.entries, s.copied, s.present, s.failed, s.endedByError});
    };
    auto chromiumEntry = [&](const std::string& url, std::size_t size, std::int64_t written, bool spoilt = false) {
      const ChromiumEntry entry{.key = "1/0/" + url, .body = PictureBytes(size, size), .wrongBodyCrc = spoilt};
      SetModificationTime(WriteChromiumEntry(chromium, entry), written);
      return ChromiumHash(entry.key);
    };
    auto firefoxEntry = [&](const std::string& url, std::size_t size, std::int64_t fetched) {
      WriteFirefoxEntry(
          firefox,
          {.key = ":" + url, .body = PictureBytes(size, size + 1), .lastFetched = static_cast<std::uint32_t>(fetched)});
    };
    chromiumEntry("http://s/a.jpg", 30000, after);
    const std::uint64_t oldHash = chromiumEntry("http://s/old.jpg", 31000, before);
    chromiumEntry("http://s/small.jpg", 1000, after);
    chromiumEntry("http://s/style.css", 32000, after);
    firefoxEntry("http://f/b.jpg", 33000, after);
    firefoxEntry("http://f/old.jpg", 34000, before);
    pass();
    pass();
    // A new capture with the same settings, nothing changed: what was copied is met again, present.
    HarvestedKeys = std::make_unique<KeyedCollection>();
    pass();
    // Used again (only the index says so), fetched again, grown, and one new picture.
    WriteChromiumIndex(chromium, {{oldHash, (after + 11644473600) * 1000000}});
    firefoxEntry("http://f/old.jpg", 34000, after);
    chromiumEntry("http://s/small.jpg", 35000, after);
    firefoxEntry("http://f/new.jpg", 36000, after);
    pass();
    // A picture whose copy fails its check is reported and left; the one after it is copied.
    chromiumEntry("http://s/bad.jpg", 37000, after, true);
    firefoxEntry("http://f/more.jpg", 38000, after);
    pass();
    pass();
    pass();
    return outcomes;
  };
  const std::vector<Outcome> every = script(false, false), settled = script(true, false);
  const std::vector<Outcome> inBackground = script(true, true);
  ASSERT_EQ(every.size(), settled.size());
  ASSERT_EQ(every.size(), inBackground.size());
  for (std::size_t i = 0; i < every.size(); ++i) {
    SCOPED_TRACE("pass " + std::to_string(i + 1));
    for (const std::vector<Outcome>* other : {&settled, &inBackground}) {
      EXPECT_EQ((*other)[i].folder, every[i].folder);
      EXPECT_EQ((*other)[i].copied, every[i].copied);
      EXPECT_EQ((*other)[i].present, every[i].present);
      EXPECT_EQ((*other)[i].endedByError, every[i].endedByError);
      EXPECT_EQ((*other)[i].failed, every[i].failed);
    }
    EXPECT_EQ(inBackground[i].entries, settled[i].entries);
  }
  EXPECT_EQ(every[0].copied, 2u);
  EXPECT_EQ(every[2].present, 2u);
  EXPECT_EQ(every[3].folder.size(), 6u);
  EXPECT_FALSE(every[4].endedByError);
  EXPECT_EQ(every[4].failed, 1u);
  EXPECT_TRUE(every[4].folder.count("more.jpg"));
  EXPECT_LT(settled[1].entries, every[1].entries);
  EXPECT_LT(settled[5].entries, every[5].entries);  // the failed entry ended no pass
  EXPECT_LT(settled[6].entries, every[6].entries);
}

// A cache whose own file cannot be read (a FIFO in place of a block file) may be missing entries:
// the pass says so, naming the file, instead of copying nothing in silence. Once the file is back,
// the pass ends well again.
TEST(HarvestPassTest, ACacheFileThatCannotBeReadIsSaid) {
  for (const CacheReading reading : {CacheReading::OnOpen, CacheReading::InBackground}) {
    SCOPED_TRACE(reading == CacheReading::OnOpen ? "on open" : "in the background");
    TempDir temp;
    const std::string blockfile = temp.Sub("Cache"), destination = temp.Sub("dest");
    BlockfileCache cache;
    cache.Add({.key = "1/0/http://b/one.jpg", .body = PictureBytes(30000, 1)});
    cache.Write(blockfile);
    const std::string dataFile = JoinPath(blockfile, "data_1");
    const std::string kept = ReadBytes(dataFile);
    std::filesystem::remove(dataFile);
    ASSERT_EQ(::mkfifo(dataFile.c_str(), 0600), 0);
    CaptureSession session({.urlCache = MakeUrlCacheOf({{CacheKind::ChromiumBlockfile, blockfile}}, reading)});
    InitCacheBuffer();
    HarvestedKeys = std::make_unique<KeyedCollection>();
    const DateValue captureStart = DateValue::FromFields(2010, 1, 1, 0, 0, 0);
    GetUrlCache()->WaitUntilCurrent();
    HarvestCache(";*.jpg;", captureStart, destination, 0);
    EXPECT_TRUE(LastPassStatistics().endedByError);
    EXPECT_EQ(LastPassStatistics().error, "cannot read " + dataFile + ": not a regular file");
    EXPECT_EQ(LastPassStatistics().errorPath, dataFile);

    std::filesystem::remove(dataFile);
    WriteFile(dataFile, kept);
    GetUrlCache()->WaitUntilCurrent();
    HarvestCache(";*.jpg;", captureStart, destination, 0);
    EXPECT_FALSE(LastPassStatistics().endedByError) << LastPassStatistics().error;
    EXPECT_EQ(FilesIn(destination), std::set<std::string>{"one.jpg"});
  }
}
