#pragma once
// Reading a blockfile cache as it is at one moment: the hash table of the index, the entries its
// chains reach, their keys and where their streams lie. Every address is checked against the
// allocation bitmap of its block file or the size of its file before anything is read through it;
// whatever fails a check is treated as "not there now".
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cache/chromium/blockfile/BlockfileFiles.h"
#include "cache/chromium/blockfile/BlockfileFormat.h"

namespace blockfile {

struct EntryView {
  Address address;
  EntryRecord record;
  RankingsRecord rankings;
  Bytes run;  // the entry's blocks (1–4 × 256 bytes), valid while the reader lives
};

// Where a stream or long key lies: a run of blocks or a file of its own, from offset 0.
struct StreamPlace {
  Address address;
  std::string file;  // data_N or f_xxxxxx
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

class Reader {
 public:
  // chunked: block files are read in large chunks and kept (a walk); otherwise run by run (a check).
  explicit Reader(CacheFiles& files, bool chunked = true) : files_(files), chunked_(chunked) {}
  // Reads the index header and its hash table; false when there is no index that can be read.
  bool OpenIndex();
  const IndexHeader& Header() const { return header_; }

  // Calls visit with every entry the hash table reaches whose records pass their checks. A chain
  // is left at the first entry that fails, loops back, or lies in another bucket.
  void ForEachEntry(const std::function<void(const EntryView&)>& visit);
  // The entry at address with its rankings node: both allocated, their self hashes right, the
  // node pointing back at the entry, the inline key inside the entry's blocks.
  std::optional<EntryView> ReadEntry(Address address);
  // The entry's key, inline or at its long-key address; empty unless it hashes to the entry's hash.
  std::optional<std::string> ReadKey(const EntryView& entry);
  // Where stream index of record lies; empty when the placement is not sane, the blocks are not
  // in use or hold fewer bytes, or the file is missing or shorter than the stream.
  std::optional<StreamPlace> PlaceStream(const EntryRecord& record, int index);
  // The bytes of stream index (at most cap of them, else empty).
  std::optional<std::vector<std::uint8_t>> ReadStream(const EntryRecord& record, int index, std::uint64_t cap);
  // The entry whose key is key; empty when there is none that passes the checks.
  std::optional<EntryView> FindEntry(std::string_view key);

 private:
  BlockFile* Blocks(std::uint32_t number);
  std::optional<Bytes> Run(Address address);
  std::optional<std::vector<std::uint8_t>> ReadPlace(const StreamPlace& place);

  CacheFiles& files_;
  bool chunked_;
  IndexHeader header_;
  std::vector<std::uint32_t> table_;
  std::map<std::uint32_t, std::unique_ptr<BlockFile>> blocks_;  // null: cannot be opened
};

}  // namespace blockfile
