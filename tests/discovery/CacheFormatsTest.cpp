// The table of cache formats, and what discovery makes of a folder through it.
#include "cache/discovery/CacheFormats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "cache/discovery/Discovery.h"
#include "support/CacheFixtures.h"
#include "support/SqlCacheFixtures.h"
#include "support/TempDir.h"

using namespace fixtures;

namespace {

std::set<std::string> Urls(UrlCacheSource& source) {
  std::set<std::string> urls;
  CacheEntry entry;
  for (auto cursor = source.Open(); cursor && cursor->Next(entry);) urls.insert(entry.url);
  return urls;
}

TEST(CacheFormats, EveryKindOnceUnderANameOfItsOwn) {
  const auto formats = CacheFormats();
  std::set<std::string_view> names;
  for (CacheKind kind : {CacheKind::WinInet, CacheKind::ChromiumSimple, CacheKind::ChromiumBlockfile,
                         CacheKind::ChromiumSql, CacheKind::Firefox, CacheKind::ChromiumUnknown}) {
    const CacheFormat* format = FindCacheFormat(kind);
#ifndef _WIN32
    if (kind == CacheKind::WinInet) continue;  // read through the system's API, which only Windows has
#endif
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->kind, kind);
    EXPECT_TRUE(names.insert(format->shortName).second) << format->shortName << " names two kinds";
  }
  EXPECT_EQ(names.size(), formats.size());
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
  // SQL shards, beside such a file too.
  const std::string sql = temp.Sub("sql/Cache_Data");
  SqlCacheWriter shards(sql);
  shards.Put({.key = "1/0/_dk_http://h http://h http://h/sql.jpg",
              .head = ChromiumResponseInfo({"HTTP/1.1 200 OK", "Content-Type: image/jpeg"}, false, 13300000000000000),
              .blobs = SqlPieces(PictureBytes(3000, 3))});
  WriteChromiumEntry(sql, picture);

  const std::tuple<std::string, CacheKind, std::set<std::string>> cases[] = {
      {simple, CacheKind::ChromiumSimple, {"http://h/simple.jpg"}},
      {firefox, CacheKind::Firefox, {"http://h/firefox.jpg"}},
      {blockfile, CacheKind::ChromiumBlockfile, {}},
      {sql, CacheKind::ChromiumSql, {"http://h/sql.jpg"}},
  };
  for (const auto& [folder, kind, urls] : cases) {
    SCOPED_TRACE(folder);
    const auto cache = ClassifyCacheFolder(folder);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->kind, kind);
    // No folder is taken for two formats, whatever the order they are tried in.
    const std::string& path = folder;  // clang 14 cannot capture a structured binding
    EXPECT_EQ(std::count_if(CacheFormats().begin(), CacheFormats().end(),
                            [&](const CacheFormat* format) { return format->recognises && format->recognises(path); }),
              1);
    const auto source = MakeCacheSource(*cache);
    ASSERT_TRUE(source);
    EXPECT_EQ(Urls(*source), urls);
    EXPECT_FALSE(MakeCacheSource({kind, folder, false}));  // a cache known to be unreadable is not opened
  }
  // A Chromium cache of a format this build does not know is recognised to be reported, with what
  // its index holds, and never read.
  const std::string future = temp.Sub("future/Cache_Data");
  WriteBytes(future + "/index", "KVCache2");
  const auto unknown = ClassifyCacheFolder(future);
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->kind, CacheKind::ChromiumUnknown);
  EXPECT_FALSE(unknown->readable);
  EXPECT_FALSE(MakeCacheSource(*unknown));
  EXPECT_NE(FindCacheFormat(unknown->kind)->describe(future).find("index \"KVCache2\""), std::string::npos);
  EXPECT_FALSE(ClassifyCacheFolder(temp.Sub("empty")));
  EXPECT_FALSE(ClassifyCacheFolder(temp.Path() + "/absent"));
  WriteBytes(temp.Path() + "/file", "index");
  EXPECT_FALSE(ClassifyCacheFolder(temp.Path() + "/file"));

#ifndef _WIN32
  // FIFOs and an endless device under the names a reader opens: the classification and the walk
  // end (the test's time-out fails a hang), and only the real entries are listed. An entry file
  // that is a link, even to a sound entry, is no file of the cache.
  const auto fifo = [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); };
  fifo(simple + "/" + ChromiumHashName("1/0/http://h/fifo.jpg"));
  std::filesystem::create_symlink("/dev/zero", simple + "/" + ChromiumHashName("1/0/http://h/zero.jpg"));
  const std::string linked =
      WriteChromiumEntry(temp.Sub("elsewhere"), {.key = "1/0/http://h/linked.jpg", .body = PictureBytes(3000, 4)});
  std::filesystem::create_symlink(linked, simple + "/" + std::filesystem::path(linked).filename().string());
  fifo(firefox + "/entries/" + FirefoxFileName(":http://h/fifo.jpg"));
  for (const char* name : {"/data_0", "/data_1", "/f_000001"}) fifo(blockfile + name);
  for (const auto& [folder, kind, urls] : cases) {
    SCOPED_TRACE(folder);
    const auto cache = ClassifyCacheFolder(folder);
    ASSERT_TRUE(cache);
    EXPECT_EQ(Urls(*MakeCacheSource(*cache)), urls);
  }
  const std::string fifoIndex = temp.Sub("fifo-index");
  fifo(fifoIndex + "/index");
  EXPECT_FALSE(ClassifyCacheFolder(fifoIndex));
#endif
}

}  // namespace
