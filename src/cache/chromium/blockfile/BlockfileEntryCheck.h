#pragma once
// What places an entry's data in a blockfile cache, and the check that it still does. The block
// files change with every write to any entry, so their stamps say nothing about one entry; instead
// the records of the entry (and of its sparse children) are read again and compared, before and
// after a copy, and a digest of them keys what the source remembers of the entry.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cache/browser/ParsedEntry.h"
#include "cache/chromium/blockfile/BlockfileReader.h"

namespace blockfile {

struct EntryPin {
  Address address;
  std::uint32_t hash = 0;
  Address rankings;
  std::int32_t keyLength = 0;
  Address longKey;
  std::array<std::int32_t, 3> dataSize{};
  std::array<Address, 3> dataAddress{};
  std::uint32_t flags = 0;
  // A response stored anew under the same key is a new entry to the browser, with a creation time
  // of its own, though it may take the same blocks and sizes.
  std::uint64_t creationTime = 0;
  bool clean = false;  // closed by the browser (not dirty) and in the normal state
  bool operator==(const EntryPin&) const = default;
};
EntryPin PinOf(const EntryView& entry);

// A digest of the pins in order; entries that differ in any pinned field differ in it.
std::uint64_t DigestOf(std::span<const EntryPin> pins);

class PinnedEntryCheck : public EntryCheck {
 public:
  // separateFiles: the f_ files that hold the body, with the stamps they had when it was parsed.
  PinnedEntryCheck(std::string folder, std::vector<EntryPin> pins,
                   std::vector<std::pair<std::string, FileStamp>> separateFiles)
      : folder_(std::move(folder)), pins_(std::move(pins)), separateFiles_(std::move(separateFiles)) {}
  // True when every pinned entry is still in use, clean, and placed as pinned, its streams' blocks
  // still in use, and the separate files unchanged.
  bool StillHolds() const override;

 private:
  std::string folder_;
  std::vector<EntryPin> pins_;
  std::vector<std::pair<std::string, FileStamp>> separateFiles_;
};

}  // namespace blockfile
