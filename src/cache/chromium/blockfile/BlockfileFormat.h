#pragma once
// The records of Chromium's blockfile disk cache, parsed from byte spans: cache addresses, the
// index header, block-file headers with their allocation bitmaps, entry and rankings records, and
// the header of sparse data. Records that carry a self hash are checked against it here.
//
// On disk (integers little-endian), a blockfile folder holds "index" (a 368-byte header, then a
// hash table of entry addresses whose collisions chain through each entry's "next"), the block
// files "data_0" to "data_3" (36-byte rankings records, and blocks of 256 bytes, 1 KiB and 4 KiB;
// each file opens with an 8 KiB header whose bitmap marks the blocks in use), and one "f_xxxxxx"
// file per stream above 16 KiB. A 32-bit cache address names either a run of 1 to 4 blocks or an
// f_ file. An entry record holds its key (inline, or at an address when long), the address of its
// rankings record (which holds the last-used time) and the addresses of its streams: 0 the
// response info, 1 the body, 2 the sparse bitmap of a resource stored in 1 MiB children.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "cache/browser/ByteReading.h"
#include "cache/chromium/common/ChromiumFolderFormat.h"

namespace blockfile {

inline constexpr std::uint32_t kIndexMagic = kBlockfileIndexMagic;
inline constexpr std::uint32_t kBlockFileMagic = 0xC104CAC3u;
inline constexpr std::uint32_t kSparseMagic = 0xC103CAC3u;
inline constexpr std::size_t kIndexHeaderSize = 368;
inline constexpr std::size_t kBlockFileHeaderSize = 8192;
inline constexpr std::size_t kBitmapOffset = 80;
inline constexpr std::uint32_t kMostBlocksPerFile = (kBlockFileHeaderSize - kBitmapOffset) * 8;  // 64,896
inline constexpr std::size_t kEntryBlockSize = 256;
inline constexpr std::size_t kEntryHeaderSize = 96;  // the fields before the inline key
inline constexpr std::size_t kRankingsSize = 36;
inline constexpr std::size_t kSparseHeaderSize = 64;
inline constexpr std::uint64_t kLargestBlockData = 16384;  // anything larger has a file of its own
inline constexpr std::uint32_t kLargestTable = 1u << 24;

// A CacheAddr: where a record, a key or a stream lies.
class Address {
 public:
  enum Type : std::uint32_t { kSeparateFile = 0, kRankings = 1, kBlock256 = 2, kBlock1K = 3, kBlock4K = 4 };
  Address() = default;
  explicit Address(std::uint32_t value) : value_(value) {}
  std::uint32_t Value() const { return value_; }
  bool IsInitialized() const { return (value_ & 0x80000000u) != 0; }
  std::uint32_t FileType() const { return (value_ >> 28) & 7; }
  bool IsSeparateFile() const { return FileType() == kSeparateFile; }
  // The f_ file number, or the data_N file number of a block run.
  std::uint32_t FileNumber() const { return IsSeparateFile() ? value_ & 0x0FFFFFFFu : (value_ >> 16) & 0xFFu; }
  std::uint32_t StartBlock() const { return value_ & 0xFFFFu; }
  std::uint32_t BlockCount() const { return ((value_ >> 24) & 3u) + 1; }
  // 36, 256, 1024 or 4096 for the block types the HTTP cache uses; 0 otherwise.
  std::uint32_t BlockSize() const;
  // An initialized address of a block type the HTTP cache uses, reserved bits clear, its run
  // inside one group of four blocks.
  bool IsBlockRun() const;
  std::uint64_t Offset() const { return kBlockFileHeaderSize + std::uint64_t{StartBlock()} * BlockSize(); }
  std::uint64_t Length() const { return std::uint64_t{BlockCount()} * BlockSize(); }
  // "data_N" or "f_xxxxxx".
  std::string FileName() const;
  bool operator==(const Address&) const = default;

 private:
  std::uint32_t value_ = 0;
};

// The block type whose blocks hold size bytes of a stream or key, by the browser's rule.
std::uint32_t BlockTypeForSize(std::uint64_t size);

struct IndexHeader {
  std::uint32_t version = 0;
  std::int32_t entryCount = 0;
  std::int32_t lastFile = 0;
  std::int32_t thisId = 0;
  std::uint32_t tableLength = 0;  // hash-table slots, a power of two
  std::int32_t crash = 0;
};
// The header of an index file of fileSize bytes; empty unless the magic and a version 2 or 3 are
// there and the file holds the whole hash table.
std::optional<IndexHeader> ParseIndexHeader(Bytes bytes, std::uint64_t fileSize);
inline std::uint64_t TableOffset() { return kIndexHeaderSize; }

struct BlockFileHeader {
  std::int16_t thisFile = 0;
  std::int16_t nextFile = 0;
  std::uint32_t blockSize = 0;
  std::uint32_t blockCount = 0;  // max_entries: blocks the file holds
  std::int32_t updating = 0;
  std::array<std::uint8_t, kBlockFileHeaderSize - kBitmapOffset> bitmap{};
  // True when blocks [start, start + count) lie inside the file and are all marked in use.
  bool Allocated(std::uint32_t start, std::uint32_t count) const;
};
// The 8192-byte header of data_N; empty unless magic, version, block size and block count are
// those of a block file, and its blocks fit in a file of fileSize bytes.
std::optional<BlockFileHeader> ParseBlockFileHeader(Bytes bytes, std::uint64_t fileSize);

struct EntryRecord {
  std::uint32_t hash = 0;
  Address next;
  Address rankings;
  std::int32_t reuseCount = 0;
  std::int32_t refetchCount = 0;
  std::int32_t state = 0;          // 0 normal, 1 evicted, 2 doomed
  std::uint64_t creationTime = 0;  // microseconds since 1601
  std::int32_t keyLength = 0;
  Address longKey;
  std::array<std::int32_t, 4> dataSize{};
  std::array<Address, 4> dataAddress{};
  std::uint32_t flags = 0;  // kSparseParent, kSparseChild
  static constexpr std::uint32_t kSparseParent = 1;
  static constexpr std::uint32_t kSparseChild = 2;
};
// The fields of an EntryStore (the first 96 bytes); empty when its self hash is set and wrong.
std::optional<EntryRecord> ParseEntryRecord(Bytes bytes);

struct RankingsRecord {
  std::uint64_t lastUsed = 0;  // microseconds since 1601
  Address next;
  Address previous;
  Address contents;
  std::int32_t dirty = 0;
};
// A RankingsNode; empty when its self hash is set and wrong.
std::optional<RankingsRecord> ParseRankingsRecord(Bytes bytes);

struct SparseHeader {
  std::int64_t signature = 0;
  std::int32_t parentKeyLength = 0;
  std::int32_t lastBlock = -1;
  std::int32_t lastBlockLength = 0;
};
// The 64 bytes before a sparse bitmap in stream 2; empty when the magic is wrong.
std::optional<SparseHeader> ParseSparseHeader(Bytes bytes);

// The browser's own sanity rule for a stream: no negative size, an address exactly when the size
// is not 0, and a block run for sizes up to 16 KiB, a file of its own above.
bool StreamPlacementIsSane(std::int32_t size, Address address);

}  // namespace blockfile
