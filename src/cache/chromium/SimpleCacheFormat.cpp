#include "cache/chromium/SimpleCacheFormat.h"

#include <zlib.h>

namespace {

constexpr std::uint32_t kIndexVersion = 9;
constexpr std::size_t kIndexHeaderSize = 40;
constexpr std::size_t kIndexRecordSize = 24;

}  // namespace

std::optional<SimpleFileHeader> ParseSimpleFileHeader(Bytes bytes) {
  std::uint64_t magic = 0;
  SimpleFileHeader header;
  if (!ReadLe64(bytes, 0, magic) || magic != kSimpleInitialMagic) return std::nullopt;
  if (!ReadLe32(bytes, 8, header.version) || !ReadLe32(bytes, 12, header.keyLength) ||
      !ReadLe32(bytes, 16, header.keyHash)) {
    return std::nullopt;
  }
  return header;
}

std::optional<SimpleFileEof> ParseSimpleFileEof(Bytes bytes) {
  std::uint64_t magic = 0;
  SimpleFileEof eof;
  if (!ReadLe64(bytes, 0, magic) || magic != kSimpleFinalMagic) return std::nullopt;
  if (!ReadLe32(bytes, 8, eof.flags) || !ReadLe32(bytes, 12, eof.dataCrc) || !ReadLe32(bytes, 16, eof.streamSize)) {
    return std::nullopt;
  }
  return eof;
}

std::optional<SparseRangeHeader> ParseSparseRangeHeader(Bytes bytes) {
  std::uint64_t magic = 0;
  SparseRangeHeader header;
  if (!ReadLe64(bytes, 0, magic) || magic != kSimpleSparseMagic) return std::nullopt;
  if (!ReadLe64(bytes, 8, header.offset) || !ReadLe64(bytes, 16, header.length) ||
      !ReadLe32(bytes, 24, header.dataCrc)) {
    return std::nullopt;
  }
  return header;
}

std::optional<std::unordered_map<std::uint64_t, std::int64_t>> ParseSimpleIndex(Bytes bytes) {
  std::uint32_t payloadSize = 0, crc = 0, version = 0;
  std::uint64_t magic = 0, count = 0;
  if (!ReadLe32(bytes, 0, payloadSize) || !ReadLe32(bytes, 4, crc) || !ReadLe64(bytes, 8, magic) ||
      !ReadLe32(bytes, 16, version) || !ReadLe64(bytes, 20, count)) {
    return std::nullopt;
  }
  if (bytes.size() < kIndexHeaderSize + 8) return std::nullopt;
  if (magic != kSimpleIndexMagic || version != kIndexVersion || payloadSize != bytes.size() - 8) return std::nullopt;
  if (static_cast<std::uint32_t>(crc32(0, bytes.data() + 8, static_cast<uInt>(bytes.size() - 8))) != crc)
    return std::nullopt;
  if (count > (bytes.size() - kIndexHeaderSize) / kIndexRecordSize) return std::nullopt;
  std::unordered_map<std::uint64_t, std::int64_t> lastUsed;
  lastUsed.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t hash = 0, time = 0;
    const std::uint64_t at = kIndexHeaderSize + kIndexRecordSize * i;
    if (!ReadLe64(bytes, at, hash) || !ReadLe64(bytes, at + 8, time)) return std::nullopt;
    lastUsed[hash] = static_cast<std::int64_t>(time);
  }
  return lastUsed;
}

std::optional<std::uint64_t> EntryHashOfFileName(std::string_view name) {
  if (name.size() < 16) return std::nullopt;
  std::uint64_t hash = 0;
  for (std::size_t i = 0; i < 16; ++i) {
    const char c = name[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return std::nullopt;
    hash = (hash << 4) | static_cast<std::uint64_t>(digit);
  }
  return hash;
}
