// A "_s" sparse file: its header and key, its ranges, and their assembly into one body.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cache/chromium/simple/SimpleCacheFormat.h"
#include "cache/chromium/simple/SimpleEntryReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes bytes(data, size);
  const auto header = ParseSimpleFileHeader(bytes);
  if (!header || !RangeFits(kSimpleHeaderSize, header->keyLength, size)) return 0;
  // The file's own key, so that the ranges behind it are reached.
  const std::string key(AsText(bytes.subspan(kSimpleHeaderSize, header->keyLength)));
  MemoryByteSource file(bytes);
  const auto ranges = ReadSparseRanges(file, key);
  if (!ranges) return 0;
  std::uint64_t total = 0;
  for (const SparseRange& range : *ranges) {
    if (range.length <= UINT64_MAX - range.offset && range.offset + range.length > total)
      total = range.offset + range.length;
  }
  AssembleSparseBody(*ranges, total);
  AssembleSparseBody(*ranges, total / 2 + 1);
  return 0;
}
