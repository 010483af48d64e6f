#include "cache/chromium/simple/SimpleEntryReader.h"

#include <algorithm>

#include "cache/browser/Crc32.h"
#include "cache/chromium/common/SuperFastHash.h"
#include "cache/chromium/simple/SimpleCacheFormat.h"

namespace {

// Keys are URLs with a short prefix; anything longer is not a key we can use.
constexpr std::uint32_t kLongestKey = 1u << 20;
// Stream 0 holds headers and a few fields; a larger one is corrupt.
constexpr std::uint32_t kLargestStream0 = 16u << 20;
// A range file with more ranges than this is treated as corrupt rather than walked.
constexpr std::size_t kMostSparseRanges = 1u << 16;

std::optional<std::string> ReadKey(ByteSource& file, SimpleFileHeader& header) {
  const auto head = file.Read(0, kSimpleHeaderSize);
  if (!head) return std::nullopt;
  const auto parsed = ParseSimpleFileHeader(*head);
  if (!parsed || parsed->keyLength > kLongestKey) return std::nullopt;
  header = *parsed;
  const auto key = file.Read(kSimpleHeaderSize, header.keyLength);
  // The header keeps the key's hash: a key damaged on disk would name the copy wrongly.
  if (!key || SuperFastHash(key->data(), key->size()) != header.keyHash) return std::nullopt;
  return std::string(AsText(*key));
}

}  // namespace

std::optional<SimpleEntryLayout> ReadSimpleEntry(ByteSource& file) {
  const std::uint64_t size = file.Size();
  SimpleFileHeader header;
  auto key = ReadKey(file, header);
  if (!key) return std::nullopt;
  const std::uint64_t bodyOffset = kSimpleHeaderSize + std::uint64_t{header.keyLength};
  if (size < bodyOffset + 2 * kSimpleEofSize) return std::nullopt;

  // The last record ends stream 0; a file still being written has none yet.
  const auto lastBytes = file.Read(size - kSimpleEofSize, kSimpleEofSize);
  const auto eof0 = lastBytes ? ParseSimpleFileEof(*lastBytes) : std::nullopt;
  if (!eof0 || eof0->streamSize > kLargestStream0) return std::nullopt;
  std::uint64_t end0 = size - kSimpleEofSize;
  if (eof0->flags & SimpleFileEof::kHasKeySha256) {
    if (end0 < kSimpleKeySha256Size) return std::nullopt;
    end0 -= kSimpleKeySha256Size;
  }
  if (end0 < eof0->streamSize) return std::nullopt;
  const std::uint64_t start0 = end0 - eof0->streamSize;
  if (start0 < bodyOffset + kSimpleEofSize) return std::nullopt;
  const std::uint64_t eof1At = start0 - kSimpleEofSize;

  // One read for the body's end record and stream 0.
  const auto middle = file.Read(eof1At, kSimpleEofSize + eof0->streamSize);
  if (!middle) return std::nullopt;
  const auto eof1 = ParseSimpleFileEof(Bytes(*middle).first(kSimpleEofSize));
  if (!eof1) return std::nullopt;

  SimpleEntryLayout layout;
  layout.key = std::move(*key);
  layout.bodyOffset = bodyOffset;
  layout.bodyLength = eof1At - bodyOffset;
  layout.bodyHasCrc = (eof1->flags & SimpleFileEof::kHasCrc32) != 0;
  layout.bodyCrc = eof1->dataCrc;
  layout.stream0.assign(middle->begin() + kSimpleEofSize, middle->end());
  if (eof0->flags & SimpleFileEof::kHasCrc32) {
    if (Crc32(0, layout.stream0.data(), layout.stream0.size()) != eof0->dataCrc) return std::nullopt;
  }
  return layout;
}

std::optional<std::vector<SparseRange>> ReadSparseRanges(ByteSource& file, const std::string& key) {
  SimpleFileHeader header;
  const auto fileKey = ReadKey(file, header);
  if (!fileKey || *fileKey != key) return std::nullopt;
  std::vector<SparseRange> ranges;
  std::uint64_t at = kSimpleHeaderSize + std::uint64_t{header.keyLength};
  const std::uint64_t size = file.Size();
  while (at < size) {
    if (ranges.size() >= kMostSparseRanges) return std::nullopt;
    const auto bytes = file.Read(at, kSimpleSparseRangeHeaderSize);
    const auto range = bytes ? ParseSparseRangeHeader(*bytes) : std::nullopt;
    if (!range) return std::nullopt;
    const std::uint64_t dataAt = at + kSimpleSparseRangeHeaderSize;
    if (!RangeFits(dataAt, range->length, size)) return std::nullopt;  // still being written, or corrupt
    ranges.push_back({range->offset, range->length, range->dataCrc, dataAt});
    at = dataAt + range->length;
  }
  return ranges;
}

std::vector<BodyPiece> AssembleSparseBody(std::vector<SparseRange> ranges, std::uint64_t total) {
  std::sort(ranges.begin(), ranges.end(),
            [](const SparseRange& a, const SparseRange& b) { return a.offset < b.offset; });
  std::vector<BodyPiece> pieces;
  std::uint64_t covered = 0;
  for (const SparseRange& range : ranges) {
    if (range.length > UINT64_MAX - range.offset) return {};                    // a range that ends past any resource
    if (range.length == 0 || range.offset + range.length <= covered) continue;  // nothing new
    if (range.offset > covered || range.offset + range.length > total) return {};  // a gap, or past the end
    BodyPiece piece;
    piece.offset = range.fileOffset;
    piece.length = range.length;
    piece.check = BodyPiece::Check::Crc32;
    piece.expected = range.dataCrc;
    piece.skip = covered - range.offset;  // overlapping bytes are checked but written once
    pieces.push_back(piece);
    covered = range.offset + range.length;
  }
  if (covered != total) return {};
  return pieces;
}
