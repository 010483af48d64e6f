#pragma once
// The files of one blockfile cache: where they come from (the cache folder, or memory for tests
// and fuzzing), and the block files data_N opened for one walk, whose blocks are read in large
// chunks so that a walk over thousands of records costs a few reads.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "cache/browser/ByteSource.h"
#include "cache/chromium/blockfile/BlockfileFormat.h"

namespace blockfile {

class CacheFiles {
 public:
  virtual ~CacheFiles() = default;
  // The file of that name, opened read-only; null when it is missing or cannot be opened.
  virtual std::unique_ptr<ByteSource> Open(const std::string& name) = 0;
};

class FolderFiles : public CacheFiles {
 public:
  explicit FolderFiles(std::string folder) : folder_(std::move(folder)) {}
  std::unique_ptr<ByteSource> Open(const std::string& name) override;
  std::string PathOf(const std::string& name) const;

 private:
  std::string folder_;
};

class MemoryFiles : public CacheFiles {
 public:
  explicit MemoryFiles(std::map<std::string, std::string> files) : files_(std::move(files)) {}
  std::unique_ptr<ByteSource> Open(const std::string& name) override;

 private:
  std::map<std::string, std::string> files_;
};

// One data_N file: its header and allocation bitmap as read when it was opened, and its blocks.
class BlockFile {
 public:
  // Null when the file's header is not that of a block file. A chunked file reads whole chunks of
  // blocks and keeps them (for walks); an unchunked one reads just the runs asked for (for checks).
  static std::unique_ptr<BlockFile> Open(std::unique_ptr<ByteSource> source, bool chunked = true);
  const BlockFileHeader& Header() const { return header_; }
  // The bytes of the run at address: empty unless the run has this file's block size, lies in
  // it, is marked in use and can be read. The span stays valid while this object lives.
  std::optional<Bytes> Run(Address address);

 private:
  BlockFile(std::unique_ptr<ByteSource> source, const BlockFileHeader& header, bool chunked);
  std::unique_ptr<ByteSource> source_;
  BlockFileHeader header_;
  std::uint32_t blocksPerChunk_ = 0;  // a multiple of four: no run crosses a chunk
  bool chunked_ = true;
  std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> chunks_;  // by chunk, or by run when unchunked
};

}  // namespace blockfile
