#include "cache/chromium/ChromiumSimpleCacheSource.h"

#include <algorithm>
#include <unordered_set>

#include "base/PathText.h"
#include "cache/browser/ByteSource.h"
#include "cache/browser/EntryListing.h"
#include "cache/browser/FileTimes.h"
#include "cache/chromium/SimpleCacheFormat.h"
#include "cache/chromium/SimpleEntryReader.h"

namespace {

constexpr std::size_t kEntryNameLength = 18;  // 16 hex digits, "_", one suffix character

std::optional<std::vector<std::uint8_t>> FilePrefix(const std::string& path, std::uint64_t length) {
  const auto file = FileByteSource::Open(path);
  if (!file || file->Size() < length) return std::nullopt;
  return file->Read(0, length);
}

// Chromium's blockfile format keeps an "index" file in the same place; a folder that holds one is
// never read as a simple cache, even when it also holds files named like simple entries.
bool HasBlockfileIndex(const std::string& folder) {
  const auto head = FilePrefix(JoinPath(folder, "index"), 4);
  std::uint32_t magic = 0;
  return head && ReadLe32(*head, 0, magic) && magic == kBlockfileIndexMagic;
}

}  // namespace

bool IsChromiumSimpleCacheFolder(const std::string& folder) {
  if (!IsFolder(folder)) return false;
  if (const auto head = FilePrefix(JoinPath(folder, "index"), 8)) {
    std::uint64_t magic = 0;
    std::uint32_t shortMagic = 0;
    if (ReadLe32(*head, 0, shortMagic) && shortMagic == kBlockfileIndexMagic) return false;
    if (ReadLe64(*head, 0, magic) && magic == kSimpleInitialMagic) return true;
  }
  if (HasBlockfileIndex(folder)) return false;
  if (IsFolder(JoinPath(folder, "index-dir"))) return true;
  bool entryFound = false;
  ListFolderFiles(folder, [&](std::string_view name, const FileStamp&) {
    entryFound = entryFound || (name.size() == kEntryNameLength && name.ends_with("_0") && EntryHashOfFileName(name));
  });
  return entryFound;
}

ChromiumSimpleCacheSource::ChromiumSimpleCacheSource(std::string folder, FolderWatchOptions watch)
    : BrowserCacheSource(std::move(folder)), files_(std::make_shared<FolderListing>(Folder(), watch)) {
  ServeEntries(files_);
}

bool ChromiumSimpleCacheSource::Refresh() {
  const bool filesChanged = files_->Refresh();
  indexChanged_ = RefreshIndex();
  return filesChanged || indexChanged_;
}

bool ChromiumSimpleCacheSource::RefreshIndex() {
  const std::string path = JoinPath(JoinPath(Folder(), "index-dir"), "the-real-index");
  const auto stamp = StampOfPath(path);
  if (stamp == indexStamp_) return false;
  indexStamp_ = stamp;
  lastUsed_ = SimpleIndexTimes();
  if (!stamp) return true;
  const auto file = FileByteSource::Open(path);
  const auto bytes = file ? file->Read(0, file->Size()) : std::nullopt;
  if (file) indexStamp_ = file->Stamp();
  // An index being rewritten fails its checksum; the entries' own times serve until it is whole.
  if (auto parsed = bytes ? ParseSimpleIndex(*bytes) : std::nullopt) lastUsed_ = std::move(*parsed);
  return true;
}

std::uint64_t ChromiumSimpleCacheSource::IndexLastUsed(std::uint64_t hash) const {
  const auto found = lastUsed_.Find(hash);
  return found ? WindowsEpochMicrosecondsToFileTime(*found) : 0;
}

void ChromiumSimpleCacheSource::Walk(std::vector<Listed>& out, WalkStatistics& statistics) {
  met_.clear();
  blockfile_ = HasBlockfileIndex(Folder());
  if (blockfile_) return;
  const FolderListing& files = *files_;
  // The hashes of the entries that have a "_s" file (few do).
  std::unordered_set<std::uint64_t> sparse;
  for (std::uint32_t file = 0; file < files.Count(); ++file) {
    const std::string_view name = files.Name(file);
    if (name.size() == kEntryNameLength && name[17] == 's' && files.Stamp(file)) {
      if (const auto hash = EntryHashOfFileName(name)) sparse.insert(*hash);
    }
  }
  // One item per file, in the files' order; the items of files that hold no listed entry stay empty.
  out.resize(files.Count());
  met_.resize(files.Count());
  for (std::uint32_t file = 0; file < files.Count() && !Ending(); ++file) {
    std::optional<std::uint32_t> sparseFile;
    if (!sparse.empty()) {
      const auto hash = EntryHashOfFileName(files.Name(file));
      if (hash && sparse.count(*hash)) {
        std::string name(files.Name(file));
        name[17] = 's';
        sparseFile = files.Number(name);
      }
    }
    Look(file, sparseFile, out[file], statistics);
  }
}

bool ChromiumSimpleCacheSource::Update(std::vector<Listed>& listing, WalkStatistics& statistics) {
  // New last-use times for every entry, files numbered anew, or a folder the last walk found to
  // be a blockfile cache: walked whole.
  if (indexChanged_ || files_->ChangedWhole() || blockfile_) return false;
  const FolderListing& files = *files_;
  for (std::uint32_t file : files.Changed()) {
    const std::string_view name = files.Name(file);
    if (name == "index") return false;  // a blockfile index may have come
  }
  listing.resize(files.Count());
  for (std::uint32_t file : files.Changed()) {
    std::string name(files.Name(file));
    if (name.size() != kEntryNameLength || (name[17] != '0' && name[17] != 's')) continue;
    // A "_s" file is part of the entry of its "_0" file.
    const char suffix = name[17];
    name[17] = 's';
    const auto sparse = files.Number(name);
    name[17] = '0';
    const auto entry = suffix == '0' ? std::optional(file) : files.Number(name);
    if (entry) Look(*entry, sparse, listing[*entry], statistics);
  }
  return true;
}

void ChromiumSimpleCacheSource::Look(std::uint32_t file, std::optional<std::uint32_t> sparse, Listed& item,
                                     WalkStatistics& statistics) {
  FolderListing& files = *files_;
  // What the item counted is taken back, and counted again as the files are now.
  if (item.parsed) --statistics.listed;
  if (met_.size() <= file) met_.resize(files.Count());
  if (met_[file]) --statistics.files;
  item = {};
  met_[file] = false;
  const std::string_view name = files.Name(file);
  const FileStamp* stamp = files.Stamp(file);
  if (!stamp || name.size() != kEntryNameLength || name[16] != '_' || name[17] != '0') return;
  const auto hash = EntryHashOfFileName(name);
  if (!hash) return;
  ++statistics.files;
  met_[file] = true;
  StampSet stamps;
  stamps.Add(*stamp);
  const FileStamp* sparseStamp = sparse ? files.Stamp(*sparse) : nullptr;
  if (sparseStamp) stamps.Add(*sparseStamp);

  const ParsedEntryRef parsed = KeptOrParsed(
      files, file, [&](const ParsedEntry& kept) { return kept.stamps == stamps; },
      [&] { return Parse(std::string(name), sparseStamp != nullptr); }, statistics);
  if (parsed && parsed->listed) {
    ++statistics.listed;
    item = {parsed, std::max(parsed->lastAccess.Value(), IndexLastUsed(*hash))};
  }
}

ParsedEntryRef ChromiumSimpleCacheSource::Parse(const std::string& name, bool hasSparse) {
  auto parsed = CountedRef<ParsedEntry>::Make();
  const std::string entryPath = JoinPath(Folder(), name);
  const auto file = FileByteSource::Open(entryPath);
  if (!file) return nullptr;
  parsed->SetId(name);
  parsed->idIsFile = true;
  parsed->stamps.Add(file->Stamp());
  std::unique_ptr<FileByteSource> sparseFile;
  if (hasSparse) {
    const std::string sparseName = name.substr(0, 16) + "_s";
    sparseFile = FileByteSource::Open(JoinPath(Folder(), sparseName));
    if (!sparseFile) return nullptr;
    parsed->AddFile(sparseName);
    parsed->stamps.Add(sparseFile->Stamp());
  }
  const CacheFileTime written = CacheFileTime::FromValue(StampFileTime(file->Stamp()));
  parsed->lastModified = written;
  parsed->lastAccess = written;

  const auto layout = ReadSimpleEntry(*file);
  if (!layout) return parsed;  // in progress, corrupt or not an entry: not listed while it stays so
  const auto info = ParseResponseInfo(layout->stream0);
  if (!info || info->truncated) return parsed;
  const auto response = ParseNulSeparatedHeaders(info->headerBlock);
  if (!response) return parsed;
  parsed->lastSync = CacheFileTime::FromValue(WindowsEpochMicrosecondsToFileTime(info->responseTime));

  std::uint64_t storedLength = 0;
  if (layout->bodyLength > 0) {
    if (!IsWholeResponse(*response, layout->bodyLength)) return parsed;
    BodyPiece piece;
    piece.offset = layout->bodyOffset;
    piece.length = layout->bodyLength;
    piece.check = layout->bodyHasCrc ? BodyPiece::Check::Crc32 : BodyPiece::Check::None;
    piece.expected = layout->bodyCrc;
    parsed->pieces.push_back(piece);
    parsed->bodyFile = 0;
    storedLength = layout->bodyLength;
  } else if (sparseFile) {
    const auto total = AnnouncedResourceLength(*response);
    const auto ranges = total ? ReadSparseRanges(*sparseFile, layout->key) : std::nullopt;
    if (!ranges) return parsed;
    parsed->pieces = AssembleSparseBody(*ranges, *total);
    if (parsed->pieces.empty()) return parsed;
    parsed->bodyFile = 1;
    storedLength = *total;
  } else {
    return parsed;
  }

  FinishEntry(*parsed, Folder(), UrlFromSimpleKey(layout->key), *response, storedLength);
  return parsed;
}
