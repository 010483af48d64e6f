#include "cache/chromium/blockfile/BlockfileCacheSource.h"

#include <cstdio>

#include "base/PathText.h"
#include "cache/browser/ByteSource.h"
#include "cache/browser/EntryListing.h"
#include "cache/browser/FileTimes.h"
#include "cache/browser/HttpResponse.h"
#include "cache/chromium/common/ChromiumResponseInfo.h"

using namespace blockfile;

namespace {

// Stream 0 holds headers and a few fields; a larger one is corrupt.
constexpr std::uint64_t kLargestStream0 = 16u << 20;
// A sparse child covers 1 MiB of the resource in 1 KiB blocks; a parent has at most 1024 children.
constexpr std::uint64_t kChildSpan = 1u << 20;
constexpr std::uint32_t kSparseBlock = 1024;
constexpr std::uint32_t kMostChildren = 1024;
constexpr std::uint64_t kLargestSparseStream = kSparseHeaderSize + kMostChildren / 8;

std::string Hex(std::uint64_t value, bool padded) {
  char text[24];
  std::snprintf(text, sizeof text, padded ? "%08llx" : "%llx", static_cast<unsigned long long>(value));
  return text;
}

// The header and bitmap of a sparse stream 2; empty when it is not one.
std::optional<std::pair<SparseHeader, std::vector<std::uint8_t>>> SparseStream(Reader& reader,
                                                                               const EntryRecord& record) {
  auto bytes = reader.ReadStream(record, 2, kLargestSparseStream);
  if (!bytes) return std::nullopt;
  const auto header = ParseSparseHeader(*bytes);
  if (!header) return std::nullopt;
  return std::make_pair(*header, std::vector<std::uint8_t>(bytes->begin() + kSparseHeaderSize, bytes->end()));
}

bool BitSet(const std::vector<std::uint8_t>& bitmap, std::uint32_t bit) {
  return bit / 8 < bitmap.size() && (bitmap[bit / 8] & (1u << (bit % 8))) != 0;
}

}  // namespace

bool IsChromiumBlockfileFolder(const std::string& folder) {
  return HoldsChromiumFormat(folder, ChromiumFolderKind::Blockfile);
}

BlockfileCacheSource::BlockfileCacheSource(std::string folder, FolderWatchOptions watch)
    : BrowserCacheSource(std::move(folder)), files_(Folder(), watch) {
  ServeEntries(memo_);
}

bool BlockfileCacheSource::Refresh() {
  const bool filesChanged = files_.Refresh();
  // The browser keeps the index mapped into memory and changes it in place, which need not be
  // notified; its header (the entry count, the heads of the use lists) changes with every entry
  // added, removed or used, so it is read at every pass. Records and streams are written to the
  // block files, which is notified.
  const auto index = FileByteSource::Open(JoinPath(Folder(), "index"));
  auto header = index && index->Size() >= kIndexHeaderSize ? index->Read(0, kIndexHeaderSize) : std::nullopt;
  const bool headerChanged = header != indexHeader_;
  indexHeader_ = std::move(header);
  return filesChanged || headerChanged;
}

void BlockfileCacheSource::Walk(std::vector<Listed>& out, WalkStatistics& statistics) {
  memo_->BeginWalk();
  WalkEntries(out, statistics);
  memo_->EndWalk();
  statistics.listed = out.size();
}

void BlockfileCacheSource::WalkEntries(std::vector<Listed>& out, WalkStatistics& statistics) {
  FolderFiles files(Folder());
  Reader reader(files);
  if (!reader.OpenIndex()) {  // no index, or one being created: nothing to list now
    ++statistics.unread;
    return;
  }
  // New and changed entries are read again, run by run, rather than from the walk's chunks, which
  // may have been read before the browser finished writing them.
  Reader fresh(files, false);
  reader.ForEachEntry([&](const EntryView& entry) {
    ++statistics.files;
    // An entry the browser has open, or left open when it died, is not to be trusted now; a
    // sparse child is part of its parent.
    if (entry.rankings.dirty != 0 || entry.record.state != 0 || (entry.record.flags & EntryRecord::kSparseChild))
      return;
    const EntryPin pin = PinOf(entry);
    std::vector<EntryPin> pins;  // with the sparse children's, which are part of the entry
    Children children;
    if ((entry.record.flags & EntryRecord::kSparseParent) && entry.record.dataSize[1] == 0) {
      children = FindChildren(reader, entry);
      pins.push_back(pin);
      for (const auto& child : children) {
        if (child) pins.push_back(PinOf(*child));
      }
    }
    StampSet stamps;
    stamps.SetRecords(pins.empty() ? DigestOf(std::span(&pin, 1)) : DigestOf(pins));
    const std::string id = Hex(entry.address.Value(), true);
    ParsedEntryRef parsed;
    if (!memo_->Recall(id, stamps, parsed)) {
      ++statistics.parsed;
      if (pins.empty()) pins.push_back(pin);
      parsed = Parse(fresh, entry, children, std::move(pins), stamps, id);
      if (!parsed) {  // could not be read as it stands now: tried again next walk
        ++statistics.unread;
        return;
      }
      memo_->Remember(parsed);
    }
    if (parsed && parsed->listed) {
      const std::uint64_t used = entry.rankings.lastUsed ? entry.rankings.lastUsed : entry.record.creationTime;
      out.push_back({parsed, WindowsEpochMicrosecondsToFileTime(static_cast<std::int64_t>(used))});
    }
  });
}

BlockfileCacheSource::Children BlockfileCacheSource::FindChildren(Reader& reader, const EntryView& parent) {
  Children children;
  const auto key = reader.ReadKey(parent);
  const auto sparse = key ? SparseStream(reader, parent.record) : std::nullopt;
  if (!sparse) return children;
  const std::string prefix =
      "Range_" + *key + ":" + Hex(static_cast<std::uint64_t>(sparse->first.signature), false) + ":";
  for (std::uint32_t child = 0; child < kMostChildren; ++child) {
    if (!BitSet(sparse->second, child)) continue;
    if (children.size() <= child) children.resize(child + 1);
    children[child] = reader.FindEntry(prefix + Hex(child, false));
  }
  return children;
}

bool BlockfileCacheSource::AddPiece(const StreamPlace& place, std::uint64_t length, ParsedEntry& parsed,
                                    std::vector<std::pair<std::string, FileStamp>>& separateFiles) {
  const std::string path = JoinPath(Folder(), place.file);
  if (place.address.IsSeparateFile()) {
    const auto stamp = StampOfPath(path);
    if (!stamp || stamp->size < length) return false;
    separateFiles.emplace_back(path, *stamp);
  }
  BodyPiece piece;
  piece.offset = place.offset;
  piece.length = length;
  piece.file = static_cast<std::uint32_t>(parsed.FileCount());
  parsed.AddFile(place.file);
  parsed.pieces.push_back(piece);
  return true;
}

bool BlockfileCacheSource::AddSparsePieces(Reader& reader, const EntryView& parent, const Children& children,
                                           std::uint64_t total, ParsedEntry& parsed,
                                           std::vector<std::pair<std::string, FileStamp>>& separateFiles) {
  const auto own = SparseStream(reader, parent.record);
  if (!own || total == 0 || total > kChildSpan * kMostChildren) return false;
  // From offset 0, child after child: each adds the run of fully written blocks from its start and
  // a last, partly written block right after it; only a full child lets the next one continue.
  std::uint64_t covered = 0;
  for (std::uint32_t number = 0; covered < total; ++number) {
    if (number >= children.size() || !children[number]) return false;
    const EntryView& child = *children[number];
    if (child.rankings.dirty != 0 || child.record.state != 0 || !(child.record.flags & EntryRecord::kSparseChild))
      return false;
    const auto sparse = SparseStream(reader, child.record);
    if (!sparse || sparse->first.signature != own->first.signature) return false;
    std::uint32_t run = 0;
    while (run < kChildSpan / kSparseBlock && BitSet(sparse->second, run)) ++run;
    std::uint64_t length = std::uint64_t{run} * kSparseBlock;
    if (sparse->first.lastBlock >= 0 && static_cast<std::uint32_t>(sparse->first.lastBlock) == run &&
        sparse->first.lastBlockLength > 0 && static_cast<std::uint32_t>(sparse->first.lastBlockLength) < kSparseBlock) {
      length += static_cast<std::uint32_t>(sparse->first.lastBlockLength);
    }
    const auto place = reader.PlaceStream(child.record, 1);
    if (!place || length == 0 || length > place->length) return false;
    const std::uint64_t take = std::min(length, total - covered);
    if (!AddPiece(*place, take, parsed, separateFiles)) return false;
    covered += take;
    if (covered < total && length < kChildSpan) return false;  // a gap follows this child
  }
  return covered == total;
}

ParsedEntryRef BlockfileCacheSource::Parse(Reader& reader, const EntryView& walked, const Children& children,
                                           std::vector<EntryPin> pins, const StampSet& stamps, const std::string& id) {
  // The key and the response are read after the records that place them, never before: the
  // browser writes them before it marks the entry clean.
  const EntryView& entry = walked;
  const auto key = reader.ReadKey(entry);
  if (!key) return nullptr;  // damaged, or changed while it was read
  const auto stream0 = reader.ReadStream(entry.record, 0, kLargestStream0);
  const auto info = stream0 ? ParseResponseInfo(*stream0) : std::nullopt;
  if (!info) return nullptr;
  const auto response = ParseNulSeparatedHeaders(info->headerBlock);
  if (!response) return nullptr;

  // From here on the entry's own records decide: what is learned holds until they change.
  auto parsed = CountedRef<ParsedEntry>::Make();
  parsed->SetId(id);
  parsed->stamps = stamps;  // the digest of the records: what the memo compares
  parsed->lastModified = CacheFileTime::FromValue(
      WindowsEpochMicrosecondsToFileTime(static_cast<std::int64_t>(entry.record.creationTime)));
  if (info->truncated) return parsed;
  parsed->lastSync = CacheFileTime::FromValue(WindowsEpochMicrosecondsToFileTime(info->responseTime));

  std::vector<std::pair<std::string, FileStamp>> separateFiles;
  std::uint64_t storedLength = 0;
  const auto bodySize = static_cast<std::uint64_t>(std::max(entry.record.dataSize[1], 0));
  if (bodySize > 0) {
    if (!IsWholeResponse(*response, bodySize)) return parsed;
    const auto place = reader.PlaceStream(entry.record, 1);
    if (!place || !AddPiece(*place, bodySize, *parsed, separateFiles)) return nullptr;
    storedLength = bodySize;
  } else if (entry.record.flags & EntryRecord::kSparseParent) {
    const auto total = AnnouncedResourceLength(*response);
    if (!total || !AddSparsePieces(reader, entry, children, *total, *parsed, separateFiles)) return parsed;
    storedLength = *total;
  } else {
    return parsed;
  }
  parsed->Extras().check = std::make_shared<PinnedEntryCheck>(Folder(), std::move(pins), std::move(separateFiles));
  FinishEntry(*parsed, Folder(), UrlFromSimpleKey(*key), *response, storedLength);
  return parsed;
}
