// The table of cache formats, and what discovery makes of a folder through it.
#include "cache/discovery/CacheFormats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "cache/discovery/Discovery.h"
#include "support/CacheFixtures.h"
#include "support/TempDir.h"

using namespace fixtures;

namespace {

std::set<std::string> Urls(UrlCacheSource& source) {
  std::set<std::string> urls;
  CacheEntry entry;
  for (auto cursor = source.Open(); cursor && cursor->Next(entry);) urls.insert(entry.url);
  return urls;
}

TEST(CacheFormats, EveryKindOnceUnderANameOfItsOwnAndBlockfileTriedBeforeSimple) {
  const auto formats = CacheFormats();
  std::set<std::string_view> names;
  for (CacheKind kind :
       {CacheKind::WinInet, CacheKind::ChromiumSimple, CacheKind::ChromiumBlockfile, CacheKind::Firefox}) {
    const CacheFormat* format = FindCacheFormat(kind);
#ifndef _WIN32
    if (kind == CacheKind::WinInet) continue;  // read through the system's API, which only Windows has
#endif
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->kind, kind);
    EXPECT_TRUE(names.insert(format->shortName).second) << format->shortName << " names two kinds";
  }
  EXPECT_EQ(names.size(), formats.size());
  const auto at = [&](CacheKind kind) {
    return std::find(formats.begin(), formats.end(), FindCacheFormat(kind)) - formats.begin();
  };
  EXPECT_LT(at(CacheKind::ChromiumBlockfile), at(CacheKind::ChromiumSimple));
#ifdef _WIN32
  EXPECT_EQ(DiscoverCaches().at(0).kind, CacheKind::WinInet);
#endif
}

TEST(ClassifyCacheFolder, ReadsEachFolderWithTheReaderOfItsFormat) {
  TempDir temp;
  const std::string simple = temp.Sub("chromium/Cache_Data");
  WriteChromiumIndexMarker(simple);
  const ChromiumEntry picture{.key = "1/0/http://h/simple.jpg", .body = PictureBytes(3000, 1)};
  WriteChromiumEntry(simple, picture);
  const std::string firefox = temp.Sub("firefox/cache2");
  WriteFirefoxEntry(firefox, {.key = ":http://h/firefox.jpg", .body = PictureBytes(3000, 2)});
  // A blockfile index beside a file that a simple cache would take for an entry.
  const std::string blockfile = temp.Sub("blockfile/Cache_Data");
  WriteBytes(blockfile + "/index", std::string("\xc3\xca\x03\xc1", 4) + std::string(364, '\0'));
  WriteChromiumEntry(blockfile, picture);

  const std::tuple<std::string, CacheKind, std::set<std::string>> cases[] = {
      {simple, CacheKind::ChromiumSimple, {"http://h/simple.jpg"}},
      {firefox, CacheKind::Firefox, {"http://h/firefox.jpg"}},
      {blockfile, CacheKind::ChromiumBlockfile, {}},
  };
  for (const auto& [folder, kind, urls] : cases) {
    SCOPED_TRACE(folder);
    const auto cache = ClassifyCacheFolder(folder);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->kind, kind);
    const auto source = MakeCacheSource(*cache);
    ASSERT_TRUE(source);
    EXPECT_EQ(Urls(*source), urls);
    EXPECT_FALSE(MakeCacheSource({kind, folder, false}));  // a cache known to be unreadable is not opened
  }
  EXPECT_FALSE(ClassifyCacheFolder(temp.Sub("empty")));
  EXPECT_FALSE(ClassifyCacheFolder(temp.Path() + "/absent"));
  WriteBytes(temp.Path() + "/file", "index");
  EXPECT_FALSE(ClassifyCacheFolder(temp.Path() + "/file"));
}

}  // namespace
