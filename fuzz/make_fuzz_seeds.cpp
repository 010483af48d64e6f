// Writes a small seed corpus for each fuzz target: real-format entries built by the fixtures.
#include <filesystem>
#include <iostream>

#include "CacheFixtures.h"

using namespace fixtures;
namespace fs = std::filesystem;

namespace {

void Seed(const fs::path& root, const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(root / target);
  WriteBytes((root / target / name).string(), bytes);
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
       ChromiumSparseBytes("1/0/http://s/v.webm", {{0, PictureBytes(300, 2)}, {300, PictureBytes(200, 3)}, {250, "xyz"}}));

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
  return 0;
}
