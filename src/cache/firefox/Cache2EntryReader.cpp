#include "cache/firefox/Cache2EntryReader.h"

namespace {

// The tail read first holds trailer and metadata of nearly every entry.
constexpr std::uint64_t kTailRead = 16 * 1024;
// Metadata holds headers and a key; a larger block is corrupt.
constexpr std::uint64_t kLargestMetadata = 16ull << 20;

}  // namespace

std::optional<Cache2EntryLayout> ReadCache2Entry(ByteSource& file) {
  const std::uint64_t size = file.Size();
  const std::uint64_t tailLength = size < kTailRead ? size : kTailRead;
  const std::uint64_t tailAt = size - tailLength;
  const auto tail = file.Read(tailAt, tailLength);
  if (!tail) return std::nullopt;
  const auto trailer = ParseCache2Trailer(*tail, size);
  if (!trailer || trailer->encrypted) return std::nullopt;

  const std::uint64_t metadataLength = size - trailer->size - trailer->dataSize;
  if (metadataLength > kLargestMetadata) return std::nullopt;
  std::optional<std::vector<std::uint8_t>> separate;
  Bytes block;
  if (trailer->dataSize >= tailAt) {
    block = Bytes(*tail).subspan(static_cast<std::size_t>(trailer->dataSize - tailAt),
                                 static_cast<std::size_t>(metadataLength));
  } else {
    separate = file.Read(trailer->dataSize, metadataLength);
    if (!separate) return std::nullopt;
    block = *separate;
  }
  auto metadata = ParseCache2Metadata(block, trailer->dataSize);
  if (!metadata) return std::nullopt;
  return Cache2EntryLayout{trailer->dataSize, std::move(*metadata)};
}
