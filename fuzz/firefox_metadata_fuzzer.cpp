// A cache2 metadata block with its hash made to match, so that header, key and elements are
// reached: the first two input bytes give the body size it belongs to.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cache/browser/EntryBody.h"
#include "cache/firefox/Cache2Format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t dataSize = (std::uint32_t{data[0]} << 8 | data[1]) * 97;  // up to a few chunks
  std::vector<std::uint8_t> block(data + 2, data + size);
  if (block.size() >= 4) {
    const std::uint32_t hash = Lookup2Hash(block.data() + 4, block.size() - 4);
    block[0] = static_cast<std::uint8_t>(hash >> 24);
    block[1] = static_cast<std::uint8_t>(hash >> 16);
    block[2] = static_cast<std::uint8_t>(hash >> 8);
    block[3] = static_cast<std::uint8_t>(hash);
  }
  if (const auto metadata = ParseCache2Metadata(block, dataSize)) {
    UrlFromCache2Key(metadata->key);
    metadata->Element("response-head");
  }
  return 0;
}
