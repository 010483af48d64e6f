#include "cache/firefox/FirefoxCacheSource.h"

#include "base/PathText.h"
#include "cache/browser/ByteSource.h"
#include "cache/browser/EntryListing.h"
#include "cache/browser/FileTimes.h"
#include "cache/firefox/Cache2EntryReader.h"

namespace {

constexpr std::size_t kEntryNameLength = 40;  // SHA-1 of the key in hex

bool IsEntryName(std::string_view name) {
  if (name.size() != kEntryNameLength) return false;
  for (char c : name) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The body as pieces of at most one chunk, each checked by its chunk hash when it is a whole chunk.
std::vector<BodyPiece> ChunkPieces(std::uint64_t bodyLength, std::uint32_t dataSize,
                                   const std::vector<std::uint16_t>& hashes) {
  std::vector<BodyPiece> pieces;
  for (std::uint64_t at = 0, chunk = 0; at < bodyLength; at += kCache2ChunkSize, ++chunk) {
    BodyPiece piece;
    piece.offset = at;
    piece.length = std::min<std::uint64_t>(kCache2ChunkSize, bodyLength - at);
    const std::uint64_t chunkLength = std::min<std::uint64_t>(kCache2ChunkSize, dataSize - at);
    if (piece.length == chunkLength && chunk < hashes.size()) {
      piece.check = BodyPiece::Check::Lookup2Low16;
      piece.expected = hashes[chunk];
    }
    pieces.push_back(piece);
  }
  return pieces;
}

}  // namespace

bool IsFirefoxCacheFolder(const std::string& folder) { return IsFolder(JoinPath(folder, "entries")); }

FirefoxCacheSource::FirefoxCacheSource(std::string folder, FolderWatchOptions watch)
    : BrowserCacheSource(std::move(folder)),
      files_(std::make_shared<FolderListing>(JoinPath(Folder(), "entries"), watch,
                                             std::string("entries") + kPathSeparator)) {
  ServeEntries(files_);
}

void FirefoxCacheSource::Walk(std::vector<Listed>& out, WalkStatistics& statistics) {
  // One item per file, in the files' order; the items of files that hold no listed entry stay empty.
  out.resize(files_->Count());
  looked_.Reset(files_->Count());
  for (std::uint32_t file = 0; file < files_->Count() && !Ending(); ++file) Look(file, out[file], statistics);
}

bool FirefoxCacheSource::Update(Listing& listing, WalkStatistics& statistics) {
  if (files_->ChangedWhole()) return false;
  listing.resize(files_->Count());
  for (std::uint32_t file : files_->Changed()) Look(file, listing[file], statistics);
  return true;
}

void FirefoxCacheSource::Look(std::uint32_t file, Listed& item, WalkStatistics& statistics) {
  FolderListing& files = *files_;
  looked_.TakeBack(file, item, statistics);
  const std::string_view name = files.Name(file);
  const FileStamp* stamp = files.Stamp(file);
  if (!stamp || !IsEntryName(name)) return;
  looked_.Count(file, statistics);
  const ParsedEntryRef parsed = KeptOrParsed(
      files, file, [&](const ParsedEntry& kept) { return kept.stamps.count == 1 && kept.stamps[0] == *stamp; },
      [&] {
        const std::string id = std::string("entries") + kPathSeparator + std::string(name);
        return Parse(id, JoinPath(JoinPath(Folder(), "entries"), name));
      },
      statistics);
  if (parsed) LookedFiles::List(parsed, parsed->lastAccess.Value(), item, statistics);
}

ParsedEntryRef FirefoxCacheSource::Parse(const std::string& id, const std::string& path) {
  const auto file = FileByteSource::Open(path);
  if (!file) return nullptr;
  auto parsed = CountedRef<ParsedEntry>::Make();
  parsed->SetId(id);  // the entry file's path below the cache folder
  parsed->idIsFile = true;
  parsed->stamps.Add(file->Stamp());
  const CacheFileTime written = CacheFileTime::FromValue(StampFileTime(file->Stamp()));
  parsed->lastModified = written;
  parsed->lastAccess = written;

  const auto layout = ReadCache2Entry(*file);
  if (!layout) return parsed;  // being written, encrypted or corrupt: not listed while it stays so
  const Cache2Metadata& metadata = layout->metadata;
  parsed->lastAccess = CacheFileTime::FromValue(UnixSecondsToFileTime(metadata.lastFetched));
  parsed->lastModified = CacheFileTime::FromValue(UnixSecondsToFileTime(metadata.lastModified));
  if (metadata.expiration != kCache2NoExpiration) {
    parsed->expire = CacheFileTime::FromValue(UnixSecondsToFileTime(metadata.expiration));
  }
  parsed->useCount = metadata.fetchCount;

  const std::string* head = metadata.Element("response-head");
  const auto response = head ? ParseCrlfHeaders(*head) : std::nullopt;
  if (!response) return parsed;
  std::uint64_t bodyLength = layout->dataSize;
  if (const std::string* altData = metadata.Element("alt-data")) {
    const auto offset = AltDataOffset(*altData);
    if (!offset || *offset > layout->dataSize) return parsed;
    bodyLength = *offset;
  }
  if (!IsWholeResponse(*response, bodyLength)) return parsed;
  parsed->pieces = ChunkPieces(bodyLength, layout->dataSize, metadata.chunkHashes);
  parsed->bodyFile = 0;

  FinishEntry(*parsed, Folder(), UrlFromCache2Key(metadata.key), *response, bodyLength, file.get());
  return parsed;
}
