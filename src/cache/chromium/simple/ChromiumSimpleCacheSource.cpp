#include "cache/chromium/simple/ChromiumSimpleCacheSource.h"

#include <algorithm>
#include <unordered_set>

#include "base/PathText.h"
#include "cache/browser/ByteSource.h"
#include "cache/browser/EntryListing.h"
#include "cache/browser/FileTimes.h"
#include "cache/chromium/simple/SimpleCacheFormat.h"
#include "cache/chromium/simple/SimpleEntryReader.h"

namespace {

constexpr std::size_t kEntryNameLength = 18;  // 16 hex digits, "_", one suffix character
// What an entry file's first and last reads take: the header and key of nearly every entry, and
// its end records with the response headers (and the end of a small body).
constexpr std::size_t kEndRead = 4096;

// Another Chromium format keeps its "index" file in the same place; a folder whose index marks it
// is never read as a simple cache, even when it also holds files named like simple entries.
bool IndexMarksAnotherFormat(const std::string& folder) {
  const ChromiumFolderKind kind = ChromiumFormatOfIndex(folder).kind;
  return kind == ChromiumFolderKind::Blockfile || kind == ChromiumFolderKind::Sql;
}

}  // namespace

bool IsChromiumSimpleCacheFolder(const std::string& folder) {
  return HoldsChromiumFormat(folder, ChromiumFolderKind::Simple);
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
  looked_.Reset(0);
  otherFormat_ = IndexMarksAnotherFormat(Folder());
  if (otherFormat_) return;
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
  looked_.Reset(files.Count());
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

bool ChromiumSimpleCacheSource::Update(Listing& listing, WalkStatistics& statistics) {
  // New last-use times for every entry, files numbered anew, or a folder the last walk found to
  // hold another format: walked whole.
  if (indexChanged_ || files_->ChangedWhole() || otherFormat_) return false;
  const FolderListing& files = *files_;
  for (std::uint32_t file : files.Changed()) {
    const std::string_view name = files.Name(file);
    if (name == "index") return false;  // another format's index may have come
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
  looked_.TakeBack(file, item, statistics);
  const std::string_view name = files.Name(file);
  const FileStamp* stamp = files.Stamp(file);
  if (!stamp || name.size() != kEntryNameLength || name[16] != '_' || name[17] != '0') return;
  const auto hash = EntryHashOfFileName(name);
  if (!hash) return;
  looked_.Count(file, statistics);
  StampSet stamps;
  stamps.Add(*stamp);
  const FileStamp* sparseStamp = sparse ? files.Stamp(*sparse) : nullptr;
  if (sparseStamp) stamps.Add(*sparseStamp);

  const ParsedEntryRef parsed = KeptOrParsed(
      files, file, [&](const ParsedEntry& kept) { return kept.stamps == stamps; },
      [&] { return Parse(std::string(name), sparseStamp != nullptr); }, statistics);
  if (parsed) LookedFiles::List(parsed, std::max(parsed->lastAccess.Value(), IndexLastUsed(*hash)), item, statistics);
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

  // Header and key lie at the start, the end records and the headers at the end: one read each.
  file->KeepEnds(kEndRead, kEndRead);
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

  FinishEntry(*parsed, Folder(), UrlFromSimpleKey(layout->key), *response, storedLength,
              parsed->bodyFile == 0 ? file.get() : sparseFile.get());
  return parsed;
}
