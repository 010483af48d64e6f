// Writes a small seed corpus for each fuzz target: real-format entries built by the fixtures.
#include <filesystem>
#include <iostream>

#include "BlockfileFuzzInput.h"
#include "support/BlockfileFixtures.h"
#include "support/CacheFixtures.h"
#include "support/SqlCacheFixtures.h"

using namespace fixtures;
namespace fs = std::filesystem;

namespace {

void Seed(const fs::path& root, const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(root / target);
  WriteBytes((root / target / name).string(), bytes);
}

// A blockfile cache small enough for one fuzz input: each block file cut down to the blocks in use.
std::string SmallBlockfileCache() {
  BlockfileCache cache(16);
  BlockfileEntry small{.key = "1/0/_dk_http://s http://s http://s/a.gif", .body = PictureBytes(200, 7)};
  BlockfileEntry medium{.key = "1/0/http://s/b.jpg", .body = PictureBytes(1500, 8)};
  medium.headers.push_back("Content-Encoding: gzip");
  BlockfileEntry longKey{.key = "1/0/http://s/" + std::string(1000, 'k') + ".png", .body = PictureBytes(300, 9)};
  BlockfileEntry dirty{.key = "1/0/http://s/d.jpg", .body = PictureBytes(100, 10)};
  dirty.dirty = 1;
  for (const auto* entry : {&small, &medium, &longKey, &dirty}) cache.Add(*entry);
  auto files = cache.Files();
  files.erase("data_3");
  for (auto& [name, bytes] : files) {
    if (name.rfind("data_", 0) != 0) continue;
    const std::uint32_t blockSize = static_cast<std::uint8_t>(bytes[12]) | (static_cast<std::uint8_t>(bytes[13]) << 8);
    std::uint32_t used = 0;
    for (std::uint32_t block = 0; block < 8112 * 8; ++block) {
      if (bytes[80 + block / 8] & (1 << (block % 8))) used = block + 1;
    }
    used = (used + 3) / 4 * 4;
    for (int i = 0; i < 4; ++i) bytes[20 + static_cast<std::size_t>(i)] = static_cast<char>((used >> (8 * i)) & 0xff);
    bytes.resize(8192 + std::size_t{used} * blockSize);
  }
  return blockfile_fuzz::Frame(files);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_fuzz_seeds FOLDER\n";
    return 2;
  }
  const fs::path root = argv[1];

  ChromiumEntry chromium{.key = "1/0/_dk_http://s http://s http://s/a.jpg", .body = PictureBytes(700, 1)};
  Seed(root, "chromium_entry", "with_sha", ChromiumEntryBytes(chromium));
  chromium.keySha256 = false;
  chromium.headers = {"HTTP/1.1 206 Partial Content", "Content-Range: bytes 0-699/700", "Content-Encoding: gzip"};
  Seed(root, "chromium_entry", "without_sha", ChromiumEntryBytes(chromium));
  Seed(root, "chromium_response_info", "ok",
       ChromiumResponseInfo({"HTTP/1.1 200 OK", "Content-Type: image/png", "Content-Length: 10"}, false, 1));
  Seed(root, "chromium_response_info", "truncated", ChromiumResponseInfo({"HTTP/1.1 404 Not Found"}, true, 2));
  Seed(root, "chromium_sparse", "ranges",
       ChromiumSparseBytes("1/0/http://s/v.webm",
                           {{0, PictureBytes(300, 2)}, {300, PictureBytes(200, 3)}, {250, "xyz"}}));

  FirefoxEntry firefox{.key = "O^partitionKey=%28http%2Cs%29,:http://s/a.jpg", .body = PictureBytes(900, 4)};
  firefox.extraElements = {{"alt-data", "1;800,javascript/moz-script-bytecode"}};
  Seed(root, "firefox_entry", "current", FirefoxEntryBytes(firefox));
  firefox.legacyTrailer = true;
  firefox.version = 1;
  Seed(root, "firefox_entry", "legacy", FirefoxEntryBytes(firefox));
  const std::string bytes = FirefoxEntryBytes(FirefoxEntry{.key = ":http://s/b.png", .body = PictureBytes(194, 5)});
  // The metadata block alone, behind the two size bytes the target reads (194 = 2 * 97).
  Seed(root, "firefox_metadata", "block", std::string("\0\2", 2) + bytes.substr(194, bytes.size() - 194 - 8));

  const std::string picture = PictureBytes(2000, 6) + std::string(2000, 'z');
  Seed(root, "body_decoder", "gzip", std::string(1, '\0') + Gzip(picture));
  Seed(root, "body_decoder", "deflate", std::string(1, '\1') + Deflate(picture, false));
  Seed(root, "body_decoder", "br", std::string(1, '\2') + Brotli(picture));
  Seed(root, "blockfile_cache", "small", SmallBlockfileCache());
  // A shard with a whole picture, a gzip one in two pieces, a range entry and one being written.
  {
    const auto folder = fs::temp_directory_path() / "tavrin-sql-seed";
    fs::remove_all(folder);
    {
      SqlCacheWriter shard(folder.string(), 1);
      const auto head = [](std::vector<std::string> lines) {
        return ChromiumResponseInfo(lines, false, 13300000000000000);
      };
      shard.Put({.key = "1/0/_dk_http://s http://s http://s/a.jpg",
                 .head = head({"HTTP/1.1 200 OK", "Content-Type: image/jpeg", "Content-Length: 900"}),
                 .blobs = SqlPieces(PictureBytes(900, 11))});
      shard.Put({.key = "1/0/http://s/b.bmp",
                 .head = head({"HTTP/1.1 200 OK", "Content-Type: image/bmp", "Content-Encoding: gzip"}),
                 .blobs = SqlPieces(Gzip(PictureBytes(3000, 12)), 700)});
      shard.Put({.key = "1/0/http://s/c.flv",
                 .head = head({"HTTP/1.1 206 Partial Content", "Content-Range: bytes 0-599/600"}),
                 .blobs = SqlPieces(PictureBytes(600, 13), 256)});
      shard.Put({.key = "1/0/http://s/d.gif", .blobs = SqlPieces(PictureBytes(300, 14))});
    }
    Seed(root, "chromium_sql", "shard", ReadBytes((folder / "sqldb0").string()));
    fs::remove_all(folder);
  }
  return 0;
}
