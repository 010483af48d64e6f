// A whole harvest pass over browser caches built in the real formats, into a real folder.
#include <gtest/gtest.h>

#include <sys/xattr.h>

#include <cerrno>
#include <filesystem>
#include <set>

#include "base/PathText.h"
#include "cache/UrlCacheEnumeration.h"
#include "cache/chromium/ChromiumSimpleCacheSource.h"
#include "cache/discovery/UnionCacheSource.h"
#include "cache/firefox/FirefoxCacheSource.h"
#include "harvest/cmnWinInet.h"
#include "support/CacheFixtures.h"
#include "support/TempDir.h"

using namespace fixtures;

namespace {

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder)) names.insert(item.path().filename().string());
  return names;
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
  SetUrlCache(cache);
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
  SetUrlCache(nullptr);

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
