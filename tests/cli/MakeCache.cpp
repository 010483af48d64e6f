// Writes a Firefox cache folder for the command-line checks:
//   tavrin-make-cache FOLDER COUNT BYTES [NAME [DAMAGED[,DAMAGED...]]]
// COUNT entries of BYTES bytes each, in pairs whose addresses end in the same file name
// (http://h/a/NAME<i>.jpg and http://h/b/NAME<i>.jpg) but whose pictures differ. The entries
// numbered DAMAGED (from 0) fail their checksum when their bodies are read.
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "support/CacheFixtures.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: tavrin-make-cache FOLDER COUNT BYTES [NAME]\n", stderr);
    return 2;
  }
  const std::string folder = argv[1], name = argc > 4 ? argv[4] : "pic";
  const int count = std::stoi(argv[2]);
  std::set<int> damaged;
  std::istringstream list(argc > 5 ? argv[5] : "");
  for (std::string item; std::getline(list, item, ',');) damaged.insert(std::stoi(item));
  const std::size_t bytes = std::stoul(argv[3]);
  for (int i = 0; i < count; ++i) {
    const std::string key = ":http://h/" + std::string(i % 2 ? "b/" : "a/") + name + std::to_string(i / 2) + ".jpg";
    fixtures::WriteFirefoxEntry(folder, {.key = key,
                                         .body = fixtures::PictureBytes(bytes, static_cast<std::uint32_t>(i + 1)),
                                         .wrongChunkHash = damaged.count(i) != 0});
  }
  return 0;
}
