// A Windows build without a brotli decoder (the cross build has none to link): an entry whose body
// is br-coded, alone or stacked, is left out like any coding that cannot be undone, while plain and
// gzip-coded entries of the same cache are still listed and copied decoded.
#include <gtest/gtest.h>

#include <map>

#include "cache/browser/BodyDecoder.h"
#include "cache/firefox/FirefoxCacheSource.h"
#include "support/CacheFixtures.h"
#include "support/SourceReading.h"
#include "support/TempDir.h"

using namespace fixtures;

namespace {

FirefoxEntry Coded(const std::string& url, const std::string& body, const std::string& coding) {
  FirefoxEntry entry;
  entry.key = ":" + url;
  entry.body = body;
  entry.responseHead = "HTTP/1.1 200 OK\r\nContent-Type: image/bmp\r\n";
  if (!coding.empty()) entry.responseHead += "Content-Encoding: " + coding + "\r\n";
  return entry;
}

}  // namespace

TEST(WithoutBrotli, BrCodedEntriesAreLeftOut) {
  ASSERT_FALSE(BrotliDecodingAvailable());
  EXPECT_FALSE(ParseContentEncoding("br"));
  EXPECT_FALSE(ParseContentEncoding("gzip, br"));
  ASSERT_TRUE(ParseContentEncoding("gzip"));

  TempDir temp;
  const std::string folder = temp.Sub("cache2");
  temp.Sub("cache2/entries");
  const std::string picture = PictureBytes(60000, 11);
  // Bytes of a real br stream cannot be made here; what they hold does not matter, as the entry
  // must be dropped for its header before its body is read.
  WriteFirefoxEntry(folder, Coded("http://h/plain.bmp", picture, ""));
  WriteFirefoxEntry(folder, Coded("http://h/gz.bmp", Gzip(picture), "gzip"));
  WriteFirefoxEntry(folder, Coded("http://h/br.bmp", Gzip(picture), "br"));
  WriteFirefoxEntry(folder, Coded("http://h/gzip-br.bmp", Gzip(picture), "gzip, br"));
  WriteFirefoxEntry(folder, Coded("http://h/BR.bmp", Gzip(picture), " BR "));

  FirefoxCacheSource source(folder);
  const std::map<std::string, CacheEntry> entries = ListByUrl(source);
  ASSERT_EQ(entries.size(), 2u);
  for (const char* url : {"http://h/plain.bmp", "http://h/gz.bmp"}) {
    ASSERT_EQ(entries.count(url), 1u) << url;
    EXPECT_EQ(entries.at(url).size, picture.size()) << url;
    EXPECT_EQ(CopyOut(entries.at(url).localPath), picture) << url;
  }
}
