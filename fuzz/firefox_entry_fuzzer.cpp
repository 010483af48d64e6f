// A whole cache2 entry file: trailer, metadata block, key, elements and response head.
#include <cstddef>
#include <cstdint>

#include "cache/browser/HttpResponse.h"
#include "cache/firefox/Cache2EntryReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryByteSource file(Bytes(data, size));
  const auto layout = ReadCache2Entry(file);
  if (!layout) return 0;
  UrlFromCache2Key(layout->metadata.key);
  if (const std::string* altData = layout->metadata.Element("alt-data")) AltDataOffset(*altData);
  if (const std::string* head = layout->metadata.Element("response-head")) {
    if (const auto response = ParseCrlfHeaders(*head)) IsWholeResponse(*response, layout->dataSize);
  }
  return 0;
}
