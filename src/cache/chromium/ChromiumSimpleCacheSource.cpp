#include "cache/chromium/ChromiumSimpleCacheSource.h"

#include <algorithm>

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
    : BrowserCacheSource(std::move(folder)), files_(Folder(), watch) {}

bool ChromiumSimpleCacheSource::Refresh() {
  const bool filesChanged = files_.Refresh();
  const bool indexChanged = RefreshIndex();
  return filesChanged || indexChanged;
}

bool ChromiumSimpleCacheSource::RefreshIndex() {
  const std::string path = JoinPath(JoinPath(Folder(), "index-dir"), "the-real-index");
  const auto stamp = StampOfPath(path);
  if (stamp == indexStamp_) return false;
  indexStamp_ = stamp;
  lastUsed_.clear();
  if (!stamp) return true;
  const auto file = FileByteSource::Open(path);
  const auto bytes = file ? file->Read(0, file->Size()) : std::nullopt;
  if (file) indexStamp_ = file->Stamp();
  // An index being rewritten fails its checksum; the entries' own times serve until it is whole.
  if (auto parsed = bytes ? ParseSimpleIndex(*bytes) : std::nullopt) lastUsed_ = std::move(*parsed);
  return true;
}

std::uint64_t ChromiumSimpleCacheSource::IndexLastUsed(std::uint64_t hash) const {
  const auto found = lastUsed_.find(hash);
  return found == lastUsed_.end() ? 0 : WindowsEpochMicrosecondsToFileTime(found->second);
}

void ChromiumSimpleCacheSource::Walk(std::vector<Listed>& out, WalkStatistics& statistics) {
  if (HasBlockfileIndex(Folder())) return;
  // Views of the listing's names, which stay put until its next Refresh.
  std::vector<std::pair<std::string_view, FileStamp>> entries;
  std::unordered_map<std::uint64_t, FileStamp> sparse;
  files_.ForEach([&](std::string_view name, const FileStamp& stamp) {
    if (name.size() != kEntryNameLength || name[16] != '_') return;
    const auto hash = EntryHashOfFileName(name);
    if (!hash) return;
    if (name[17] == '0') entries.emplace_back(name, stamp);
    if (name[17] == 's') sparse.emplace(*hash, stamp);
  });

  out.reserve(entries.size());
  for (const auto& [name, stamp] : entries) {
    ++statistics.files;
    const std::uint64_t hash = *EntryHashOfFileName(name);
    StampSet stamps;
    stamps.Add(stamp);
    const auto sparseStamp = sparse.find(hash);
    if (sparseStamp != sparse.end()) stamps.Add(sparseStamp->second);

    std::shared_ptr<const ParsedEntry> parsed;
    if (!Memo().Recall(name, stamps, parsed)) {
      ++statistics.parsed;
      parsed = Parse(std::string(name), sparseStamp != sparse.end());
      if (!parsed) {  // gone while it was read: met again next walk if it comes back
        ++statistics.unread;
        continue;
      }
      Memo().Remember(parsed);
    }
    if (parsed && parsed->listed) {
      out.push_back({parsed, std::max(parsed->lastAccess.Value(), IndexLastUsed(hash))});
    }
  }
}

std::shared_ptr<const ParsedEntry> ChromiumSimpleCacheSource::Parse(const std::string& name, bool hasSparse) {
  auto parsed = std::make_shared<ParsedEntry>();
  const std::string entryPath = JoinPath(Folder(), name);
  const auto file = FileByteSource::Open(entryPath);
  if (!file) return nullptr;
  parsed->id = name;
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
