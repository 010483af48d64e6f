#include "cache/chromium/blockfile/BlockfileReader.h"

#include <algorithm>
#include <unordered_set>

#include "cache/chromium/common/SuperFastHash.h"

namespace blockfile {

namespace {

// Keys are URLs with a short prefix; the browser accepts URLs of up to 2 MiB.
constexpr std::int32_t kLongestKey = 4 << 20;
constexpr std::uint32_t kLongestChain = 1u << 16;
constexpr std::size_t kShortChain = 16;

}  // namespace

bool Reader::OpenIndex() {
  const auto index = files_.Open("index");
  if (!index) return false;
  const auto head = index->Read(0, kIndexHeaderSize);
  const auto header = head ? ParseIndexHeader(*head, index->Size()) : std::nullopt;
  if (!header) return false;
  const auto table = index->Read(TableOffset(), 4ull * header->tableLength);
  if (!table) return false;
  header_ = *header;
  table_.resize(header_.tableLength);
  for (std::uint32_t i = 0; i < header_.tableLength; ++i) ReadLe32(*table, 4ull * i, table_[i]);
  return true;
}

BlockFile* Reader::Blocks(std::uint32_t number) {
  auto found = blocks_.find(number);
  if (found == blocks_.end()) {
    found = blocks_.emplace(number, BlockFile::Open(files_.Open("data_" + std::to_string(number)), chunked_)).first;
  }
  return found->second.get();
}

std::optional<Bytes> Reader::Run(Address address) {
  if (!address.IsBlockRun()) return std::nullopt;
  BlockFile* file = Blocks(address.FileNumber());
  return file ? file->Run(address) : std::nullopt;
}

void Reader::ForEachEntry(const std::function<void(const EntryView&)>& visit) {
  // An entry can only be met in the chain of its own bucket (checked below), so a chain that
  // comes back to an entry it passed is a loop: remembered per chain, in a set once it is long.
  std::vector<std::uint32_t> chain;
  std::unordered_set<std::uint32_t> longChain;
  const std::uint32_t mask = header_.tableLength - 1;
  for (std::uint32_t bucket = 0; bucket < table_.size(); ++bucket) {
    Address address(table_[bucket]);
    chain.clear();
    longChain.clear();
    for (std::uint32_t length = 0; address.IsInitialized() && length < kLongestChain; ++length) {
      if (chain.size() < kShortChain) {
        if (std::find(chain.begin(), chain.end(), address.Value()) != chain.end()) break;
        chain.push_back(address.Value());
        if (chain.size() == kShortChain) longChain.insert(chain.begin(), chain.end());
      } else if (!longChain.insert(address.Value()).second) {
        break;
      }
      const auto entry = ReadEntry(address);
      if (!entry || (entry->record.hash & mask) != bucket) break;
      visit(*entry);
      address = entry->record.next;
    }
  }
}

std::optional<EntryView> Reader::ReadEntry(Address address) {
  if (address.FileType() != Address::kBlock256) return std::nullopt;
  const auto run = Run(address);
  if (!run) return std::nullopt;
  const auto record = ParseEntryRecord(*run);
  if (!record || record->rankings.FileType() != Address::kRankings || record->rankings.BlockCount() != 1) {
    return std::nullopt;
  }
  if (record->keyLength <= 0 || record->keyLength > kLongestKey) return std::nullopt;
  if (!record->longKey.IsInitialized() &&
      static_cast<std::uint64_t>(record->keyLength) >= run->size() - kEntryHeaderSize) {
    return std::nullopt;  // an inline key and its NUL must fit the entry's blocks
  }
  const auto node = Run(record->rankings);
  const auto rankings = node ? ParseRankingsRecord(*node) : std::nullopt;
  if (!rankings || !(rankings->contents == address)) return std::nullopt;
  return EntryView{address, *record, *rankings, *run};
}

std::optional<std::string> Reader::ReadKey(const EntryView& entry) {
  const auto length = static_cast<std::uint64_t>(entry.record.keyLength);
  std::string key;
  if (!entry.record.longKey.IsInitialized()) {
    key.assign(AsText(entry.run.subspan(kEntryHeaderSize, static_cast<std::size_t>(length))));
  } else {
    const Address at = entry.record.longKey;
    if (at.IsSeparateFile()) {
      const auto file = files_.Open(at.FileName());
      const auto bytes = file ? file->Read(0, length) : std::nullopt;
      if (!bytes) return std::nullopt;
      key.assign(AsText(*bytes));
    } else {
      const auto run = Run(at);
      if (!run || length >= run->size()) return std::nullopt;
      key.assign(AsText(run->subspan(0, static_cast<std::size_t>(length))));
    }
  }
  if (SuperFastHash(key) != entry.record.hash) return std::nullopt;
  return key;
}

std::optional<StreamPlace> Reader::PlaceStream(const EntryRecord& record, int index) {
  if (index < 0 || index > 3) return std::nullopt;
  const std::int32_t size = record.dataSize[static_cast<std::size_t>(index)];
  const Address address = record.dataAddress[static_cast<std::size_t>(index)];
  if (!StreamPlacementIsSane(size, address)) return std::nullopt;
  StreamPlace place{address, {}, 0, static_cast<std::uint64_t>(size)};
  if (size == 0) return place;
  place.file = address.FileName();
  if (address.IsSeparateFile()) {
    const auto file = files_.Open(place.file);
    if (!file || file->Size() < place.length) return std::nullopt;
    return place;
  }
  BlockFile* blocks = Blocks(address.FileNumber());
  if (!blocks || blocks->Header().blockSize != address.BlockSize() ||
      !blocks->Header().Allocated(address.StartBlock(), address.BlockCount()) || place.length > address.Length()) {
    return std::nullopt;
  }
  place.offset = address.Offset();
  return place;
}

std::optional<std::vector<std::uint8_t>> Reader::ReadPlace(const StreamPlace& place) {
  if (place.length == 0) return std::vector<std::uint8_t>{};
  if (place.address.IsSeparateFile()) {
    const auto file = files_.Open(place.file);
    return file ? file->Read(0, place.length) : std::nullopt;
  }
  const auto run = Run(place.address);
  if (!run || place.length > run->size()) return std::nullopt;
  return std::vector<std::uint8_t>(run->begin(), run->begin() + static_cast<std::ptrdiff_t>(place.length));
}

std::optional<std::vector<std::uint8_t>> Reader::ReadStream(const EntryRecord& record, int index, std::uint64_t cap) {
  const auto place = PlaceStream(record, index);
  if (!place || place->length > cap) return std::nullopt;
  return ReadPlace(*place);
}

std::optional<EntryView> Reader::FindEntry(std::string_view key) {
  if (table_.empty()) return std::nullopt;
  const std::uint32_t hash = SuperFastHash(key);
  Address address(table_[hash & (header_.tableLength - 1)]);
  std::unordered_set<std::uint32_t> met;
  for (std::uint32_t length = 0; address.IsInitialized() && length < kLongestChain; ++length) {
    if (!met.insert(address.Value()).second) return std::nullopt;
    const auto entry = ReadEntry(address);
    if (!entry) return std::nullopt;
    if (entry->record.hash == hash) {
      const auto found = ReadKey(*entry);
      if (found && *found == key) return entry;
    }
    address = entry->record.next;
  }
  return std::nullopt;
}

}  // namespace blockfile
