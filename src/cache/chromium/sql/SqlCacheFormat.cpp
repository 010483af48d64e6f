#include "cache/chromium/sql/SqlCacheFormat.h"

#include <zlib.h>

#include <cctype>

#include "cache/chromium/common/ChromiumFolderFormat.h"
#include "cache/chromium/common/SuperFastHash.h"

namespace sqlcache {

namespace {

std::optional<unsigned> DecimalAt(std::string_view text, std::size_t& at) {
  unsigned value = 0;
  const std::size_t from = at;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && at - from < 4) {
    value = value * 10 + static_cast<unsigned>(text[at] - '0');
    ++at;
  }
  if (at == from) return std::nullopt;
  return value;
}

}  // namespace

std::string ShardFileName(unsigned shard) { return "sqldb" + std::to_string(shard); }

std::optional<unsigned> ShardOfFileName(std::string_view name) {
  if (!name.starts_with("sqldb")) return std::nullopt;
  std::size_t at = 5;
  const auto shard = DecimalAt(name, at);
  if (!shard || (name[5] == '0' && at > 6)) return std::nullopt;
  const std::string_view rest = name.substr(at);
  if (!rest.empty() && rest != "-journal" && rest != "-wal") return std::nullopt;
  return shard;
}

bool HeaderSaysWal(Bytes header) { return header.size() >= 20 && header[18] == 2 && header[19] == 2; }

std::int32_t KeyHash(std::string_view key) { return static_cast<std::int32_t>(SuperFastHash(key)); }

std::int32_t CheckSum(Bytes data, std::int32_t keyHash) {
  const auto hash = static_cast<std::uint32_t>(keyHash);
  const std::uint8_t bigEndian[4] = {static_cast<std::uint8_t>(hash >> 24), static_cast<std::uint8_t>(hash >> 16),
                                     static_cast<std::uint8_t>(hash >> 8), static_cast<std::uint8_t>(hash)};
  uLong crc = crc32(0, nullptr, 0);
  // zlib takes at most 4 GiB a call; a head or a piece is far smaller.
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  crc = crc32(crc, bigEndian, 4);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(crc));
}

BodyCoverage CoverBody(const HttpResponse& response, std::int64_t bodyEnd, const std::vector<BlobRow>& blobs) {
  BodyCoverage coverage;
  for (const BlobRow& blob : blobs) {
    if (blob.start < 0 || blob.end <= blob.start || blob.end - blob.start != blob.length) return coverage;  // Torn
  }
  if (response.status == 206) {
    const std::string* range = response.Find("Content-Range");
    const auto parsed = range ? ParseContentRange(*range) : std::nullopt;
    if (!parsed || !parsed->total || *parsed->total == 0) {
      coverage.verdict = BodyCoverage::Verdict::Partial;
      return coverage;
    }
    const auto total = static_cast<std::int64_t>(*parsed->total);
    std::int64_t covered = 0;
    for (const BlobRow& blob : blobs) {
      if (covered >= total || blob.start != covered) break;
      coverage.pieces.push_back(blob);
      covered = blob.end;
    }
    if (covered < total) {
      coverage.pieces.clear();
      // Rows that claim bytes up to the end but do not show them may have been read while the
      // browser wrote them; otherwise the range entry simply holds part of the resource.
      coverage.verdict = bodyEnd >= total ? BodyCoverage::Verdict::Torn : BodyCoverage::Verdict::Partial;
      return coverage;
    }
    coverage.verdict = BodyCoverage::Verdict::Whole;
    coverage.storedLength = static_cast<std::uint64_t>(total);
    return coverage;
  }
  std::int64_t covered = 0;
  for (const BlobRow& blob : blobs) {
    if (blob.start != covered) return coverage;  // a gap, or pieces that overlap
    covered = blob.end;
  }
  if (covered != bodyEnd) return coverage;
  coverage.pieces = blobs;
  coverage.storedLength = static_cast<std::uint64_t>(covered);
  coverage.verdict = BodyCoverage::Verdict::Whole;
  return coverage;
}

}  // namespace sqlcache
