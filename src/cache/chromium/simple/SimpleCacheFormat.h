#pragma once
// The pieces of Chromium's simple-cache files, parsed from byte spans. Every length found in the
// bytes is checked against the bytes there are.
//
// On disk (integers little-endian), a simple cache folder holds per entry, named by a 64-bit hash
// of its key in 16 hex digits:
//   hhhhhhhhhhhhhhhh_0  header (magic, version, key length, key hash), the key, stream 1 (the body),
//                       an end record (magic, flags, CRC, size), stream 0 (the pickled response
//                       info), the key's SHA-256 when the flags say so, and stream 0's end record;
//   hhhhhhhhhhhhhhhh_s  a sparse resource: header, key, then ranges, each a range header and its bytes;
// and beside them "index" (a marker that starts with the initial magic) and
// "index-dir/the-real-index" (every entry's hash with its last-used time). "_1" files are not read.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cache/browser/ByteReading.h"
#include "cache/chromium/common/ChromiumFolderFormat.h"
#include "cache/chromium/common/ChromiumResponseInfo.h"

inline constexpr std::uint64_t kSimpleFinalMagic = 0xf4fa6f45970d41d8ull;
inline constexpr std::uint64_t kSimpleSparseMagic = 0xeb97bf016553676bull;
inline constexpr std::uint64_t kSimpleIndexMagic = 0x656e74657220796full;
inline constexpr std::size_t kSimpleHeaderSize = 24;
inline constexpr std::size_t kSimpleEofSize = 24;
inline constexpr std::size_t kSimpleKeySha256Size = 32;
inline constexpr std::size_t kSimpleSparseRangeHeaderSize = 32;

struct SimpleFileHeader {
  std::uint32_t version = 0;
  std::uint32_t keyLength = 0;
  std::uint32_t keyHash = 0;
};
// The 24-byte header at the start of "_0" and "_s" files; empty when the magic is wrong.
std::optional<SimpleFileHeader> ParseSimpleFileHeader(Bytes bytes);

struct SimpleFileEof {
  static constexpr std::uint32_t kHasCrc32 = 1;
  static constexpr std::uint32_t kHasKeySha256 = 2;
  std::uint32_t flags = 0;
  std::uint32_t dataCrc = 0;
  std::uint32_t streamSize = 0;
};
// A 24-byte end-of-stream record; empty when the magic is wrong.
std::optional<SimpleFileEof> ParseSimpleFileEof(Bytes bytes);

struct SparseRangeHeader {
  std::uint64_t offset = 0;  // in the resource
  std::uint64_t length = 0;
  std::uint32_t dataCrc = 0;
};
std::optional<SparseRangeHeader> ParseSparseRangeHeader(Bytes bytes);

// The index's last-used times (microseconds since 1601) by entry hash, sorted by hash, so that a
// large index is kept in 16 bytes an entry.
class SimpleIndexTimes {
 public:
  explicit SimpleIndexTimes(std::vector<std::pair<std::uint64_t, std::int64_t>> times = {});
  // The time of hash; empty when the index does not hold it.
  std::optional<std::int64_t> Find(std::uint64_t hash) const;

 private:
  std::vector<std::pair<std::uint64_t, std::int64_t>> times_;
};

// The index's last-used times; empty when the bytes are not an index of the layout read here or
// fail their checksum. Of two records of one hash the later counts.
std::optional<SimpleIndexTimes> ParseSimpleIndex(Bytes bytes);

// The entry hash that names "hhhhhhhhhhhhhhhh_0": the 16 hex digits before the suffix.
std::optional<std::uint64_t> EntryHashOfFileName(std::string_view name);
