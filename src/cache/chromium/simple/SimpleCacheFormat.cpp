#include "cache/chromium/simple/SimpleCacheFormat.h"

#include <zlib.h>

#include <algorithm>

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

SimpleIndexTimes::SimpleIndexTimes(std::vector<std::pair<std::uint64_t, std::int64_t>> times)
    : times_(std::move(times)) {
  // Sorted by hash, records of one hash in their order; of those only the last is kept.
  std::stable_sort(times_.begin(), times_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < times_.size(); ++i) {
    if (i + 1 < times_.size() && times_[i + 1].first == times_[i].first) continue;
    times_[kept++] = times_[i];
  }
  times_.resize(kept);
}

std::optional<std::int64_t> SimpleIndexTimes::Find(std::uint64_t hash) const {
  const auto found = std::lower_bound(times_.begin(), times_.end(), hash,
                                      [](const auto& item, std::uint64_t key) { return item.first < key; });
  if (found == times_.end() || found->first != hash) return std::nullopt;
  return found->second;
}

std::optional<SimpleIndexTimes> ParseSimpleIndex(Bytes bytes) {
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
  std::vector<std::pair<std::uint64_t, std::int64_t>> lastUsed;
  lastUsed.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t hash = 0, time = 0;
    const std::uint64_t at = kIndexHeaderSize + kIndexRecordSize * i;
    if (!ReadLe64(bytes, at, hash) || !ReadLe64(bytes, at + 8, time)) return std::nullopt;
    lastUsed.emplace_back(hash, static_cast<std::int64_t>(time));
  }
  return SimpleIndexTimes(std::move(lastUsed));
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
