#include "cache/chromium/blockfile/BlockfileFormat.h"

#include <cstdio>

#include "cache/chromium/common/SuperFastHash.h"

namespace blockfile {

namespace {

constexpr std::size_t kEntrySelfHashOffset = 92;
constexpr std::size_t kRankingsSelfHashOffset = 32;

bool ReadI32(Bytes bytes, std::uint64_t offset, std::int32_t& out) {
  std::uint32_t value = 0;
  if (!ReadLe32(bytes, offset, value)) return false;
  out = static_cast<std::int32_t>(value);
  return true;
}

bool ReadAddress(Bytes bytes, std::uint64_t offset, Address& out) {
  std::uint32_t value = 0;
  if (!ReadLe32(bytes, offset, value)) return false;
  out = Address(value);
  return true;
}

// True when the record's self hash, at hashOffset over the bytes before it, is unset or right.
bool SelfHashHolds(Bytes bytes, std::size_t hashOffset) {
  std::uint32_t stored = 0;
  if (!ReadLe32(bytes, hashOffset, stored)) return false;
  return stored == 0 || stored == SuperFastHash(bytes.data(), hashOffset);
}

}  // namespace

std::uint32_t Address::BlockSize() const {
  switch (FileType()) {
    case kRankings:
      return 36;
    case kBlock256:
      return 256;
    case kBlock1K:
      return 1024;
    case kBlock4K:
      return 4096;
    default:
      return 0;
  }
}

bool Address::IsBlockRun() const {
  if (!IsInitialized() || BlockSize() == 0 || (value_ & 0x0C000000u) != 0) return false;
  return StartBlock() / 4 == (StartBlock() + BlockCount() - 1) / 4;
}

std::string Address::FileName() const {
  char name[24];
  if (IsSeparateFile()) {
    std::snprintf(name, sizeof name, "f_%06x", static_cast<unsigned>(FileNumber()));
  } else {
    std::snprintf(name, sizeof name, "data_%u", static_cast<unsigned>(FileNumber()));
  }
  return name;
}

std::uint32_t BlockTypeForSize(std::uint64_t size) {
  if (size < 1024) return Address::kBlock256;
  if (size < 4096) return Address::kBlock1K;
  if (size <= kLargestBlockData) return Address::kBlock4K;
  return Address::kSeparateFile;
}

std::optional<IndexHeader> ParseIndexHeader(Bytes bytes, std::uint64_t fileSize) {
  std::uint32_t magic = 0;
  IndexHeader header;
  std::uint32_t table = 0;
  if (!ReadLe32(bytes, 0, magic) || magic != kIndexMagic || !ReadLe32(bytes, 4, header.version) ||
      !ReadI32(bytes, 8, header.entryCount) || !ReadI32(bytes, 16, header.lastFile) ||
      !ReadI32(bytes, 20, header.thisId) || !ReadLe32(bytes, 28, table) || !ReadI32(bytes, 32, header.crash)) {
    return std::nullopt;
  }
  const std::uint32_t major = header.version >> 16;
  if (major != 2 && major != 3) return std::nullopt;
  if (table == 0) table = 65536;
  if (table > kLargestTable || (table & (table - 1)) != 0) return std::nullopt;
  if (fileSize < kIndexHeaderSize + 4ull * table) return std::nullopt;
  header.tableLength = table;
  return header;
}

bool BlockFileHeader::Allocated(std::uint32_t start, std::uint32_t count) const {
  if (count == 0 || start > blockCount || count > blockCount - start) return false;
  for (std::uint32_t block = start; block < start + count; ++block) {
    if ((bitmap[block >> 3] & (1u << (block & 7))) == 0) return false;
  }
  return true;
}

std::optional<BlockFileHeader> ParseBlockFileHeader(Bytes bytes, std::uint64_t fileSize) {
  std::uint32_t magic = 0, version = 0, blockSize = 0, blockCount = 0, files = 0;
  BlockFileHeader header;
  if (bytes.size() < kBlockFileHeaderSize || !ReadLe32(bytes, 0, magic) || magic != kBlockFileMagic ||
      !ReadLe32(bytes, 4, version) || (version >> 16) != 2 || !ReadLe32(bytes, 8, files) ||
      !ReadLe32(bytes, 12, blockSize) || !ReadLe32(bytes, 20, blockCount) || !ReadI32(bytes, 56, header.updating)) {
    return std::nullopt;
  }
  if (blockSize != 36 && blockSize != 256 && blockSize != 1024 && blockSize != 4096) return std::nullopt;
  if (blockCount > kMostBlocksPerFile) return std::nullopt;
  if (fileSize < kBlockFileHeaderSize + std::uint64_t{blockCount} * blockSize) return std::nullopt;
  header.thisFile = static_cast<std::int16_t>(files & 0xFFFFu);
  header.nextFile = static_cast<std::int16_t>(files >> 16);
  header.blockSize = blockSize;
  header.blockCount = blockCount;
  for (std::size_t i = 0; i < header.bitmap.size(); ++i) header.bitmap[i] = bytes[kBitmapOffset + i];
  return header;
}

std::optional<EntryRecord> ParseEntryRecord(Bytes bytes) {
  if (bytes.size() < kEntryHeaderSize || !SelfHashHolds(bytes, kEntrySelfHashOffset)) return std::nullopt;
  EntryRecord r;
  ReadLe32(bytes, 0, r.hash);
  ReadAddress(bytes, 4, r.next);
  ReadAddress(bytes, 8, r.rankings);
  ReadI32(bytes, 12, r.reuseCount);
  ReadI32(bytes, 16, r.refetchCount);
  ReadI32(bytes, 20, r.state);
  ReadLe64(bytes, 24, r.creationTime);
  ReadI32(bytes, 32, r.keyLength);
  ReadAddress(bytes, 36, r.longKey);
  for (std::size_t i = 0; i < 4; ++i) {
    ReadI32(bytes, 40 + 4 * i, r.dataSize[i]);
    ReadAddress(bytes, 56 + 4 * i, r.dataAddress[i]);
  }
  ReadLe32(bytes, 72, r.flags);
  return r;
}

std::optional<RankingsRecord> ParseRankingsRecord(Bytes bytes) {
  if (bytes.size() < kRankingsSize || !SelfHashHolds(bytes, kRankingsSelfHashOffset)) return std::nullopt;
  RankingsRecord r;
  ReadLe64(bytes, 0, r.lastUsed);
  ReadAddress(bytes, 16, r.next);
  ReadAddress(bytes, 20, r.previous);
  ReadAddress(bytes, 24, r.contents);
  ReadI32(bytes, 28, r.dirty);
  return r;
}

std::optional<SparseHeader> ParseSparseHeader(Bytes bytes) {
  std::uint64_t signature = 0;
  std::uint32_t magic = 0;
  SparseHeader h;
  if (bytes.size() < kSparseHeaderSize || !ReadLe64(bytes, 0, signature) || !ReadLe32(bytes, 8, magic) ||
      magic != kSparseMagic || !ReadI32(bytes, 12, h.parentKeyLength) || !ReadI32(bytes, 16, h.lastBlock) ||
      !ReadI32(bytes, 20, h.lastBlockLength)) {
    return std::nullopt;
  }
  h.signature = static_cast<std::int64_t>(signature);
  return h;
}

bool StreamPlacementIsSane(std::int32_t size, Address address) {
  if (size < 0) return false;
  if (size == 0) return !address.IsInitialized();
  if (!address.IsInitialized()) return false;
  if (static_cast<std::uint64_t>(size) <= kLargestBlockData)
    return address.IsBlockRun() && address.FileType() != Address::kRankings;
  return address.IsSeparateFile();
}

}  // namespace blockfile
