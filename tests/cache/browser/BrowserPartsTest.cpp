// The parts every browser source shares: reading stored responses, naming entries, decoding and
// checking bodies.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>

#include "cache/browser/BodyDecoder.h"
#include "cache/browser/BrowserCacheSource.h"
#include "cache/browser/ByteSource.h"
#include "cache/browser/Crc32.h"
#include "cache/browser/EntryFileName.h"
#include "cache/browser/HttpResponse.h"
#include "support/CacheFixtures.h"
#include "support/TempDir.h"

namespace {

HttpResponse Response(const std::string& head) {
  auto parsed = ParseCrlfHeaders(head);
  EXPECT_TRUE(parsed.has_value()) << head;
  return parsed.value_or(HttpResponse{});
}

std::optional<std::string> Decode(const std::string& value, const std::string& stored, std::size_t feedSize = 7) {
  const auto codings = ParseContentEncoding(value);
  if (!codings) return std::nullopt;
  std::string out;
  BodyDecoder decoder(*codings, [&](const char* data, std::size_t length) {
    out.append(data, length);
    return true;
  });
  for (std::size_t at = 0; at < stored.size(); at += feedSize) {
    const std::size_t length = std::min(feedSize, stored.size() - at);
    if (!decoder.Feed(reinterpret_cast<const std::uint8_t*>(stored.data() + at), length)) return std::nullopt;
  }
  if (!decoder.Finish() || decoder.Written() != out.size()) return std::nullopt;
  return out;
}

}  // namespace

TEST(HttpResponseTest, ReadsStatusAndFieldsInBothStoredForms) {
  const std::string block("HTTP/1.1 404 Not Found\0content-TYPE: text/html\0X-Empty:\0\0ignored\0", 64);
  const auto nul = ParseNulSeparatedHeaders(block);
  ASSERT_TRUE(nul);
  EXPECT_EQ(nul->status, 404);
  ASSERT_NE(nul->Find("Content-Type"), nullptr);
  EXPECT_EQ(*nul->Find("Content-Type"), "text/html");
  EXPECT_EQ(nul->fields.size(), 2u);  // nothing after the block's end

  const auto crlf = ParseCrlfHeaders("HTTP/2 200 \r\nContent-Length:  17 \r\n\r\nbody");
  ASSERT_TRUE(crlf);
  EXPECT_EQ(crlf->status, 200);
  EXPECT_EQ(*crlf->Find("content-length"), "17");
  EXPECT_EQ(crlf->HeaderText(), "HTTP/2 200\r\nContent-Length: 17\r\n\r\n");

  EXPECT_FALSE(ParseCrlfHeaders("garbage\r\nContent-Type: x\r\n"));
  EXPECT_FALSE(ParseCrlfHeaders("HTTP/1.1 2x0 OK\r\n"));
  EXPECT_FALSE(ParseNulSeparatedHeaders(std::string_view("\0\0", 2)));
}

TEST(HttpResponseTest, WholeResponseNeedsAllOfTheResource) {
  EXPECT_TRUE(IsWholeResponse(Response("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n"), 10));
  EXPECT_TRUE(IsWholeResponse(Response("HTTP/1.1 200 OK\r\n"), 10));  // no length: the browser's framing holds
  EXPECT_FALSE(IsWholeResponse(Response("HTTP/1.1 200 OK\r\nContent-Length: 11\r\n"), 10));  // short body
  EXPECT_FALSE(IsWholeResponse(Response("HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n"), 10));
  EXPECT_FALSE(IsWholeResponse(Response("HTTP/1.1 200 OK\r\n"), 0));
  EXPECT_FALSE(IsWholeResponse(Response("HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n"), 10));
  EXPECT_FALSE(IsWholeResponse(Response("HTTP/1.1 304 Not Modified\r\n"), 10));

  EXPECT_TRUE(IsWholeResponse(Response("HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-9/10\r\n"), 10));
  EXPECT_FALSE(IsWholeResponse(Response("HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-9/20\r\n"), 10));
  EXPECT_FALSE(IsWholeResponse(Response("HTTP/1.1 206 Partial\r\nContent-Range: bytes 5-14/15\r\n"), 10));
  EXPECT_FALSE(IsWholeResponse(Response("HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-9/*\r\n"), 10));
  EXPECT_FALSE(IsWholeResponse(Response("HTTP/1.1 206 Partial\r\n"), 10));

  EXPECT_EQ(AnnouncedResourceLength(Response("HTTP/1.1 206 P\r\nContent-Range: bytes 0-3809/57064\r\n")), 57064u);
  EXPECT_FALSE(ParseContentRange("bytes 9-5/10"));
  EXPECT_FALSE(ParseContentRange("bytes 0-10/10"));
  EXPECT_FALSE(ParseContentRange("items 0-1/2"));
}

TEST(EntryFileNameTest, NamesComeFromTheLastSegmentMadeSafe) {
  EXPECT_EQ(EntryFileName("http://h/photos/at@2x.jpg", "image/jpeg"), "at@2x.jpg");
  EXPECT_EQ(EntryFileName("http://h/pic.php?id=7&name=x.jpg", "image/jpeg"), "pic.php");
  EXPECT_EQ(EntryFileName("https://h:8080/a/b.gif#frag", ""), "b.gif");
  EXPECT_EQ(EntryFileName("http://h/%E7%8C%AB%E3%81%AE%E5%86%99%E7%9C%9F.png", "image/png"), "猫の写真.png");
  EXPECT_EQ(EntryFileName("http://h/img/12345", "image/jpeg; charset=binary"), "12345.jpg");
  EXPECT_EQ(EntryFileName("http://h/img/12345", "IMAGE/WEBP"), "12345.webp");
  EXPECT_EQ(EntryFileName("http://h/v/get_video?x=1", "video/x-flv"), "get_video.flv");
  EXPECT_EQ(EntryFileName("http://h/img/12345", "application/x-unknown"), "12345");
  EXPECT_EQ(EntryFileName("http://h/", "image/png"), "index.png");
  EXPECT_EQ(EntryFileName("http://h", "text/html"), "index.htm");
  // Decoded separators and ".." never leave the folder.
  EXPECT_EQ(EntryFileName("http://h/a%2F..%2Fb.jpg", "image/jpeg"), "a_.._b.jpg");
  EXPECT_EQ(EntryFileName("http://h/..", "image/png"), "...png");
#ifdef _WIN32
  EXPECT_EQ(EntryFileName("http://h/%2E%2E", ""), "._");  // Windows drops a name's closing dots
#else
  EXPECT_EQ(EntryFileName("http://h/%2E%2E", ""), "_");
#endif
  EXPECT_EQ(EntryFileName("http://h/bad%zz%4", "image/gif"), "bad%zz%4.gif");
  EXPECT_TRUE(IsWebUrl("HTTPS://x/"));
  EXPECT_FALSE(IsWebUrl("about:home"));
  EXPECT_FALSE(IsWebUrl("chrome-extension://abc/x.png"));
}

TEST(BodyDecoderTest, UndoesEachCodingFedInSmallPieces) {
  const std::string picture = fixtures::PictureBytes(200000, 1) + std::string(100000, 'a');
  EXPECT_EQ(Decode("gzip", fixtures::Gzip(picture)), picture);
  EXPECT_EQ(Decode("x-gzip", fixtures::Gzip(picture), 65536), picture);
  EXPECT_EQ(Decode("deflate", fixtures::Deflate(picture, true)), picture);
  EXPECT_EQ(Decode("deflate", fixtures::Deflate(picture, false)), picture);  // raw deflate, as some servers send
  EXPECT_EQ(Decode("br", fixtures::Brotli(picture)), picture);
  EXPECT_EQ(Decode("identity", picture), picture);
  // Stacked codings come off in reverse order; two gzip members make one body.
  EXPECT_EQ(Decode("deflate, br", fixtures::Brotli(fixtures::Deflate(picture, true))), picture);
  EXPECT_EQ(Decode("gzip", fixtures::Gzip("abc") + fixtures::Gzip("def"), 1), "abcdef");
}

TEST(BodyDecoderTest, RefusesBodiesItCannotDecodeWhole) {
  const std::string picture = fixtures::PictureBytes(50000, 2);
  const std::string gz = fixtures::Gzip(picture);
  EXPECT_FALSE(Decode("gzip", gz.substr(0, gz.size() - 9)));  // cut off before its end
  std::string damaged = gz;
  damaged[damaged.size() / 2] ^= 0x55;
  EXPECT_FALSE(Decode("gzip", damaged));
  const std::string br = fixtures::Brotli(picture);
  EXPECT_FALSE(Decode("br", br.substr(0, br.size() / 2)));
  EXPECT_FALSE(Decode("gzip", picture));
  EXPECT_FALSE(Decode("zstd", picture));  // not a coding we can undo
  EXPECT_FALSE(ParseContentEncoding("gzip, compress"));

  // A refusing sink is told apart from corrupt data.
  const auto codings = ParseContentEncoding("gzip");
  BodyDecoder decoder(*codings, [](const char*, std::size_t) { return false; });
  EXPECT_FALSE(decoder.Feed(reinterpret_cast<const std::uint8_t*>(gz.data()), gz.size()));
  EXPECT_TRUE(decoder.SinkRefused());
}

// The checksum of copied bodies is zlib's, at every length and alignment, continued across calls.
TEST(Crc32Test, AgreesWithZlibAtEveryLengthAndAlignment) {
  std::string bytes = fixtures::PictureBytes(300000, 7);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  for (std::size_t length = 0; length < 600; ++length) {
    for (std::size_t offset : {0u, 1u, 13u}) {
      ASSERT_EQ(Crc32(0x1234u, data + offset, length), crc32(0x1234u, data + offset, static_cast<uInt>(length)))
          << length << " at " << offset;
    }
  }
  EXPECT_EQ(Crc32(Crc32(0, data, 1001), data + 1001, bytes.size() - 1001),
            crc32(0, data, static_cast<uInt>(bytes.size())));
}

// A file source that keeps a file's ends answers reads within them as the file held them when
// kept, and any other read from the file; a file no larger than both ends is kept whole.
TEST(FileByteSourceTest, KeptEndsAnswerReadsWithinThemAndTheFileTheRest) {
  TempDir temp;
  const std::string bytes = fixtures::PictureBytes(20000, 3);
  for (const std::size_t size : {std::size_t{20000}, std::size_t{6000}}) {
    WriteFile(temp / "entry", bytes.substr(0, size));
    const auto file = FileByteSource::Open(temp / "entry");
    ASSERT_TRUE(file);
    file->KeepEnds(4096, 4096);
    // Rewritten in place after the ends were kept: only reads outside them see the new bytes.
    std::string changed = bytes.substr(0, size);
    for (char& c : changed) c = static_cast<char>(~c);
    {
      std::fstream out(temp / "entry", std::ios::in | std::ios::out | std::ios::binary);
      out.write(changed.data(), static_cast<std::streamsize>(changed.size()));
    }
    const auto read = [&](std::uint64_t at, std::uint64_t length) {
      const auto got = file->Read(at, length);
      return got ? std::string(got->begin(), got->end()) : std::string("failed");
    };
    EXPECT_EQ(read(0, 4096), bytes.substr(0, 4096)) << size;
    EXPECT_EQ(read(size - 100, 100), bytes.substr(size - 100, 100)) << size;
    EXPECT_EQ(read(size - 1, 2), "failed") << size;
    if (size > 8192) {
      EXPECT_EQ(read(4000, 200), changed.substr(4000, 200));
      EXPECT_EQ(read(size - 4097, 10), changed.substr(size - 4097, 10));
    } else {
      EXPECT_EQ(read(0, size), bytes.substr(0, size));
    }
  }
}

namespace {
struct ListingParts : BrowserCacheSource {
  using BrowserCacheSource::Listed;
  using BrowserCacheSource::Listing;
};
}  // namespace

// A listing copied from a published one changes only itself, whatever chunk or page an item is in,
// as it grows or shrinks; the items it changed are told, and a shrunk one says so.
TEST(BrowserListingTest, ACopyChangesOnlyItself) {
  using Listing = ListingParts::Listing;
  constexpr std::size_t kPageItems = Listing::kChunk * Listing::kPage;
  constexpr std::size_t kItems = 2 * kPageItems + 100;
  std::vector<ListingParts::Listed> items(kItems);
  for (std::size_t i = 0; i < kItems; ++i) items[i].lastAccess = i;
  const Listing published(std::move(items));
  ASSERT_EQ(published.size(), kItems);

  Listing copy(published);
  copy[5].lastAccess = 1000005;
  copy[kPageItems + 7].lastAccess = 1000007;
  copy.resize(kItems + Listing::kChunk + 3);  // past the last chunk
  copy[kItems + Listing::kChunk + 1].lastAccess = 1000001;
  for (std::size_t i = 0; i < kItems; ++i) ASSERT_EQ(published[i].lastAccess, i) << i;
  const Listing& read = copy;  // read through the const view: the other hands an item out for change
  EXPECT_EQ(read[5].lastAccess, 1000005u);
  EXPECT_EQ(read[6].lastAccess, 6u);
  EXPECT_EQ(read[kPageItems + 7].lastAccess, 1000007u);
  EXPECT_EQ(read[kItems - 1].lastAccess, kItems - 1);
  EXPECT_EQ(read[kItems].lastAccess, 0u);
  EXPECT_EQ(copy.Changed(), (std::vector<std::uint32_t>{5, kPageItems + 7, kItems + Listing::kChunk + 1}));
  EXPECT_FALSE(copy.Shrunk());

  Listing shrunk(copy);
  shrunk.resize(kPageItems + 10);
  EXPECT_TRUE(shrunk.Shrunk());
  shrunk.resize(kPageItems + 20);  // the items back at the end are empty
  EXPECT_EQ(shrunk.size(), kPageItems + 20);
  const Listing& readShrunk = shrunk;
  EXPECT_EQ(readShrunk[kPageItems + 7].lastAccess, 1000007u);
  EXPECT_EQ(readShrunk[kPageItems + 15].lastAccess, 0u);
  EXPECT_EQ(copy.size(), kItems + Listing::kChunk + 3);
  EXPECT_EQ(read[kPageItems + 15].lastAccess, kPageItems + 15);
  EXPECT_EQ(read[kItems + Listing::kChunk + 1].lastAccess, 1000001u);
}
