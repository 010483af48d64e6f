#include "harvest/cache/chromium/SimpleCacheFormat.h"

#include <zlib.h>

namespace {

constexpr std::uint32_t kResponseInfoTruncated = 1u << 12;
constexpr std::uint32_t kResponseInfoHasExtraFlags = 1u << 31;
constexpr std::uint32_t kExtraFlagOriginalResponseTime = 1u << 2;
constexpr std::uint32_t kIndexVersion = 9;
constexpr std::size_t kIndexHeaderSize = 40;
constexpr std::size_t kIndexRecordSize = 24;

// The header block at offset: an i32 length and that many bytes, starting "HTTP/".
std::optional<std::string_view> HeaderBlockAt(Bytes payload, std::uint64_t offset) {
  std::uint32_t length = 0;
  if (!ReadLe32(payload, offset, length) || length > 0x7fffffffu) return std::nullopt;
  if (!RangeFits(offset + 4, length, payload.size())) return std::nullopt;
  const std::string_view block = AsText(payload.subspan(static_cast<std::size_t>(offset + 4), length));
  if (!block.starts_with("HTTP/")) return std::nullopt;
  return block;
}

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

std::optional<ResponseInfo> ParseResponseInfo(Bytes stream0) {
  std::uint32_t payloadSize = 0;
  if (!ReadLe32(stream0, 0, payloadSize) || payloadSize > stream0.size() - 4) return std::nullopt;
  const Bytes payload = stream0.subspan(4, payloadSize);

  ResponseInfo info;
  if (!ReadLe32(payload, 0, info.flags)) return std::nullopt;
  info.truncated = (info.flags & kResponseInfoTruncated) != 0;

  // The layout written now: flags, extra flags when flagged, request and response times, the
  // original response time when flagged, then the header block.
  std::uint64_t offset = 4;
  std::uint32_t extra = 0;
  if (info.flags & kResponseInfoHasExtraFlags) {
    if (!ReadLe32(payload, offset, extra)) return std::nullopt;
    offset += 4;
  }
  std::uint64_t responseTime = 0;
  if (ReadLe64(payload, offset + 8, responseTime)) info.responseTime = static_cast<std::int64_t>(responseTime);
  offset += 16;
  if (extra & kExtraFlagOriginalResponseTime) offset += 8;
  if (const auto block = HeaderBlockAt(payload, offset)) {
    info.headerBlock = *block;
    return info;
  }

  // Older layouts put other fields first: take the first "HTTP/" that a fitting length precedes
  // and whose block ends with the double NUL.
  info.responseTime = 0;
  const std::string_view text = AsText(payload);
  for (std::size_t at = text.find("HTTP/", 4); at != std::string_view::npos; at = text.find("HTTP/", at + 1)) {
    const auto block = HeaderBlockAt(payload, at - 4);
    if (block && block->size() >= 2 && block->ends_with(std::string_view("\0\0", 2))) {
      info.headerBlock = *block;
      return info;
    }
  }
  return std::nullopt;
}

std::string UrlFromSimpleKey(std::string_view key) {
  // "credential/upload/" prefix: two decimal numbers, each ended by "/".
  std::string_view rest = key;
  for (int field = 0; field < 2; ++field) {
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || digits >= rest.size() || rest[digits] != '/') {
      rest = key;  // an older key that is the URL alone
      break;
    }
    rest.remove_prefix(digits + 1);
  }
  // An isolation prefix ("_dk_" and its kin) names the sites first; the URL follows the last space.
  if (rest.starts_with("_")) {
    const std::size_t space = rest.rfind(' ');
    if (space == std::string_view::npos) return {};
    rest.remove_prefix(space + 1);
  }
  return std::string(rest);
}

std::optional<SparseRangeHeader> ParseSparseRangeHeader(Bytes bytes) {
  std::uint64_t magic = 0;
  SparseRangeHeader header;
  if (!ReadLe64(bytes, 0, magic) || magic != kSimpleSparseMagic) return std::nullopt;
  if (!ReadLe64(bytes, 8, header.offset) || !ReadLe64(bytes, 16, header.length) || !ReadLe32(bytes, 24, header.dataCrc)) {
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
  if (static_cast<std::uint32_t>(crc32(0, bytes.data() + 8, static_cast<uInt>(bytes.size() - 8))) != crc) return std::nullopt;
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
