#include "cache/chromium/common/ChromiumResponseInfo.h"

namespace {

constexpr std::uint32_t kResponseInfoTruncated = 1u << 12;
constexpr std::uint32_t kResponseInfoHasExtraFlags = 1u << 31;
constexpr std::uint32_t kExtraFlagOriginalResponseTime = 1u << 2;

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
