#include "cache/chromium/blockfile/BlockfileFiles.h"

#include "base/PathText.h"

namespace blockfile {

namespace {

// Block files are read in chunks of about this many bytes.
constexpr std::uint32_t kChunkBytes = 256 * 1024;

class OwnedMemorySource : public ByteSource {
 public:
  explicit OwnedMemorySource(const std::string& bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    return MemoryByteSource(Bytes(reinterpret_cast<const std::uint8_t*>(bytes_.data()), bytes_.size()))
        .ReadAt(offset, out);
  }

 private:
  const std::string& bytes_;
};

}  // namespace

std::string FolderFiles::PathOf(const std::string& name) const { return JoinPath(folder_, name); }

std::unique_ptr<ByteSource> FolderFiles::Open(const std::string& name) { return FileByteSource::Open(PathOf(name)); }

std::unique_ptr<ByteSource> MemoryFiles::Open(const std::string& name) {
  const auto found = files_.find(name);
  if (found == files_.end()) return nullptr;
  return std::make_unique<OwnedMemorySource>(found->second);
}

std::unique_ptr<BlockFile> BlockFile::Open(std::unique_ptr<ByteSource> source, bool chunked) {
  if (!source) return nullptr;
  const auto bytes = source->Read(0, kBlockFileHeaderSize);
  const auto header = bytes ? ParseBlockFileHeader(*bytes, source->Size()) : std::nullopt;
  if (!header) return nullptr;
  return std::unique_ptr<BlockFile>(new BlockFile(std::move(source), *header, chunked));
}

BlockFile::BlockFile(std::unique_ptr<ByteSource> source, const BlockFileHeader& header, bool chunked)
    : source_(std::move(source)), header_(header), chunked_(chunked) {
  blocksPerChunk_ = std::max<std::uint32_t>(4, (kChunkBytes / header_.blockSize) & ~3u);
}

std::optional<Bytes> BlockFile::Run(Address address) {
  if (!address.IsBlockRun() || address.BlockSize() != header_.blockSize) return std::nullopt;
  const std::uint32_t start = address.StartBlock();
  const std::uint32_t count = address.BlockCount();
  if (!header_.Allocated(start, count)) return std::nullopt;
  const std::uint64_t length = std::uint64_t{count} * header_.blockSize;
  if (!chunked_) {
    const std::uint64_t key = (std::uint64_t{count} << 32) | start;
    auto found = chunks_.find(key);
    if (found == chunks_.end()) {
      auto bytes = source_->Read(kBlockFileHeaderSize + std::uint64_t{start} * header_.blockSize, length);
      if (!bytes) return std::nullopt;
      found = chunks_.emplace(key, std::move(*bytes)).first;
    }
    return Bytes(found->second);
  }
  const std::uint32_t chunk = start / blocksPerChunk_;
  auto found = chunks_.find(chunk);
  if (found == chunks_.end()) {
    const std::uint32_t first = chunk * blocksPerChunk_;
    const std::uint32_t blocks = std::min(blocksPerChunk_, header_.blockCount - first);
    auto bytes = source_->Read(kBlockFileHeaderSize + std::uint64_t{first} * header_.blockSize,
                               std::uint64_t{blocks} * header_.blockSize);
    if (!bytes) return std::nullopt;
    found = chunks_.emplace(chunk, std::move(*bytes)).first;
  }
  const std::uint64_t at = std::uint64_t{start - chunk * blocksPerChunk_} * header_.blockSize;
  if (!RangeFits(at, length, found->second.size())) return std::nullopt;
  return Bytes(found->second).subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(length));
}

}  // namespace blockfile
