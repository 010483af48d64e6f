// The entry harvest: the tests that decide whether a cache entry is wanted, its name in the
// destination folder, and the copy that never overwrites.
#include <algorithm>
#include <optional>
#include <string_view>

#include "base/FileWriter.h"
#include "base/NumberedError.h"
#include "base/PathText.h"
#include "base/SafeFileName.h"
#include "base/VirtualFiles.h"
#include "harvest/DestinationNames.h"
#include "harvest/PassState.h"
#include "harvest/SettledEntries.h"
#include "harvest/cmnWinInet.h"

std::unique_ptr<KeyedCollection> HarvestedKeys = std::make_unique<KeyedCollection>();

namespace {

std::function<void(const HarvestEvent&)> g_observer;
PassStatistics g_statistics;
// The serial of the collection the running pass began with; 0 for none.
std::uint64_t g_passCapture = 0;

std::uint64_t CurrentCapture() { return HarvestedKeys ? HarvestedKeys->Serial() : 0; }

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

enum class VideoKind { None, Download, Named, StreetNamed };

VideoKind RecognizeVideo(std::string_view address) {
  if (Contains(address, "videodownload?")) return VideoKind::Download;
  if (Contains(address, "get_video") && Contains(address, "youtube")) return VideoKind::Named;
  if (Contains(address, "getvideo") && Contains(address, "streetvoice")) return VideoKind::StreetNamed;
  return VideoKind::None;
}

// The text at a string field of the record in the receive buffer, read no further than the end of
// the entry that the last fetch wrote.
std::string EntryString(std::uint32_t offset) {
  if (offset == 0 || !CacheBuffer || offset >= CacheEntrySize) return {};
  return CacheBuffer->ExtractString(CacheBuffer->Handle() + offset, static_cast<std::int32_t>(CacheEntrySize - offset));
}

std::string NormalizeAddress(std::string address) {
  const std::size_t at = address.find('@');
  if (at != std::string::npos) address.erase(0, at + 1);
  if (address.size() >= 8 && LowerCaseAscii(std::string_view(address).substr(0, 8)) == "file:///") address.erase(0, 8);
  return address;
}

// The file name of the local path, in the text of file names here. A browser cache entry's name
// was taken from its address, in UTF-8; a WinInet path is in the ANSI code page already.
std::string NameOf(const FileSystemObject& fso, const std::string& localPath) {
  std::string name = fso.GetFileName(localPath);
#ifdef _WIN32
  const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii && virtual_files::ProviderFor(localPath)) name = FileNameTextFromUtf8(name);
#endif
  return name;
}

void RemoveAll(std::string& text, std::string_view part) {
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at)) text.erase(at, part.size());
}

// The longest name a copy in folder may have. On Windows the whole path must also stay within
// MAX_PATH, which the file functions that take ANSI paths allow at most.
std::size_t NameLimitIn(const std::string& folder) {
  std::size_t limit = FileNameLimitIn(folder);
#ifdef _WIN32
  constexpr std::size_t kMaxPath = 260;
  if (limit == 0) limit = 255;
  const std::size_t room = folder.size() + 2 < kMaxPath ? kMaxPath - folder.size() - 2 : 1;
  limit = std::min(limit, std::max<std::size_t>(room, 1));
#endif
  return limit;
}

}  // namespace

namespace pass_state {
PassStatistics& BeginPass() {
  g_statistics = PassStatistics{};
  g_passCapture = CurrentCapture();
  return g_statistics;
}
void EnsureSameCapture() {
  if (CurrentCapture() != g_passCapture) throw CaptureEnded{};
}
PassStatistics& Current() { return g_statistics; }
void Notify(const HarvestEvent& event) {
  if (event.skippedAsPresent) {
    ++g_statistics.present;
  } else {
    ++g_statistics.copied;
  }
  if (g_observer) g_observer(event);
}
}  // namespace pass_state

void SetHarvestObserver(std::function<void(const HarvestEvent&)> observer) { g_observer = std::move(observer); }

const PassStatistics& LastPassStatistics() { return g_statistics; }

CopyFailure::CopyFailure(const NumberedError& cause, PassErrorKind kind, std::string action, std::string path,
                         std::string reason)
    : NumberedError(cause),
      kind_(kind),
      action_(std::move(action)),
      path_(std::move(path)),
      reason_(reason.empty() ? ErrorReason(cause) : std::move(reason)),
      reasonCode_(reason_ == ErrorReason(cause) ? cause.SystemError() : 0) {}

namespace {

PassErrorKind KindOfWriteError(const NumberedError& error) {
  if (IsExhaustion(error.SystemError())) return PassErrorKind::Exhausted;
  switch (error.Number()) {
    case NumberedError::kFileNotFound:
    case NumberedError::kPathNotFound:
      return PassErrorKind::FolderMissing;
    case NumberedError::kDiskFull:
      return PassErrorKind::DiskFull;
    case NumberedError::kPermissionDenied:
      return PassErrorKind::PermissionDenied;
    default:
      return PassErrorKind::Other;
  }
}

// "type/subtype" of the characters a header token allows. Anything else a server sent (control
// characters, spaces, a missing subtype) is not kept as the copy's media type.
bool IsMediaType(std::string_view text) {
  const auto token = [](std::string_view part) {
    return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
             std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
  };
  const std::size_t slash = text.find('/');
  return slash != std::string_view::npos && token(text.substr(0, slash)) && token(text.substr(slash + 1));
}

// The media type of a response: the Content-Type header's value before any parameter, lower case.
std::string MediaTypeOf(std::string_view headers) {
  const std::string lower = LowerCaseAscii(headers);
  for (std::size_t at = 0; at < lower.size();) {
    std::size_t end = lower.find('\n', at);
    if (end == std::string::npos) end = lower.size();
    std::string_view line = std::string_view(lower).substr(at, end - at);
    at = end + 1;
    if (line.substr(0, 13) != "content-type:") continue;
    line.remove_prefix(13);
    line = line.substr(0, line.find_first_of(";\r"));
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    return IsMediaType(line) ? std::string(line) : std::string();
  }
  return {};
}

}  // namespace

bool CollectionHasKey(const KeyedCollection* collection, const std::string& key) {
  try {
    if (!collection) return false;
    collection->Item(key);
    return true;
  } catch (...) {
    return false;
  }
}

void HarvestEntry(FileSystemObject& fso, const CacheEntryRecord& record, const std::string& destinationFolder,
                  std::int32_t minimumSizeKb, const DateValue& captureStart, const std::string& extensionList) {
  // 1-2. The local path and the address.
  if (record.lpszSourceUrlName == 0) return settled_entries::MarkDecided();
  const std::string localPath = EntryString(record.lpszLocalFileName);
  // The name and the extension are those of the lower-cased path; only its last component is
  // lower-cased, as nothing else of it is used. The file itself is read from the path as stored:
  // on a case-sensitive file system the lower-cased path may name nothing.
  const std::string lowerName = LowerCaseText(NameOf(fso, localPath));
  const std::string extension = fso.GetExtensionName(lowerName);
  // The address is read only once it matters: for video recognition when the extension alone does
  // not admit the entry, otherwise after the cheaper size and time tests. The outcome is the same
  // as reading it first; most entries of a pass never get that far.
  std::optional<std::string> address;
  auto Address = [&]() -> const std::string& {
    if (!address) address = EntryString(record.lpszSourceUrlName);
    return *address;
  };

  // 3-5. Video recognition and the extension test.
  const bool recognizesVideo = Contains(extensionList, ";*.flv;");
  const bool extensionListed = Contains(extensionList, ";*." + extension + ";") || Contains(extensionList, ";*.*;");
  VideoKind video = VideoKind::None;
  if (recognizesVideo && !extensionListed) video = RecognizeVideo(Address());
  if (!extensionListed && video == VideoKind::None) return settled_entries::MarkDecided();

  // 6. Size: whole kilobytes of the low size word read as signed, truncated toward zero.
  const std::int32_t kilobytes = static_cast<std::int32_t>(record.dwSizeLow) / 1024;
  if (!(static_cast<std::int64_t>(kilobytes) + 1 > minimumSizeKb)) return settled_entries::MarkDecided();

  // 7. Time: strictly after the capture started.
  if (!(FileTimeToLocalDate(record.LastAccessTime) > captureStart)) return settled_entries::MarkDecided();
  if (recognizesVideo && extensionListed) video = RecognizeVideo(Address());

  // 8-9. De-dup by the normalised address.
  const std::string normalized = NormalizeAddress(Address());
  const std::string key = "C" + normalized;
  if (CollectionHasKey(HarvestedKeys.get(), key)) return settled_entries::MarkDecided();

  // 10. The name in the destination folder.
  std::string name;
  const std::size_t equals = normalized.rfind('=');
  if ((video == VideoKind::Named || video == VideoKind::StreetNamed) && equals != std::string::npos) {
    name = normalized.substr(equals + 1) + ".flv";
  } else {
    name = lowerName;
    RemoveAll(name, "[1]");
  }
  // Shortened to what the destination's file system takes for one name (eCryptfs: 143 bytes).
  const std::string target = JoinPath(destinationFolder, SafeFileName(name, NameLimitIn(destinationFolder)));

  // 11-12. Copy, then remember the key. The copy lets pending events run, and Stop or Start may
  // have ended the capture meanwhile: the key then belongs to no collection of this pass.
  const std::string headers = record.lpHeaderInfo ? EntryString(record.lpHeaderInfo) : std::string();
  CopyFileUnique(localPath, target, true, {Address(), MediaTypeOf(headers)});
  pass_state::EnsureSameCapture();
  if (!HarvestedKeys) throw NumberedError(NumberedError::kObjectVariableNotSet, "Object variable not set");
  HarvestedKeys->Add("", key);
  // Harvested now: until it changes, the entry is ignored for its key by every later pass of this
  // capture.
  settled_entries::MarkDecided();
}

void CopyFileUnique(const std::string& source, const std::string& target, bool skipSameSize, const CopyOrigin& origin) {
  FileSystemObject fso;
  std::string folder = fso.GetParentFolderName(target);
  if (folder.empty()) folder = ".";

  // The whole source goes into a temporary file beside the target first, so that a name only ever
  // appears with complete contents, and a source that fails to read leaves nothing behind.
  FileWriter copy = [&] {
    try {
      return FileWriter::NewFileIn(folder);
    } catch (const NumberedError& error) {
      throw CopyFailure(error, KindOfWriteError(error), "cannot create a file in", folder);
    }
  }();
  try {
    fso.ReadContents(source, copy.Sink());
  } catch (const NumberedError& error) {
    // A refused write shows in the source's read as a refusal; the writer knows the real cause.
    try {
      copy.RaiseIfFailed();
    } catch (const NumberedError& writeError) {
      throw CopyFailure(writeError, KindOfWriteError(writeError), "cannot write into", folder);
    }
    // Without a system error the entry itself was refused: its body failed a check on the way.
    const PassErrorKind kind =
        IsExhaustion(error.SystemError()) ? PassErrorKind::Exhausted : PassErrorKind::SourceUnreadable;
    throw CopyFailure(error, kind, "cannot read", source,
                      error.SystemError() == 0 ? "the cache entry is damaged or changed while it was read" : "");
  }
  copy.MarkOrigin(origin.url, origin.mimeType);

  // The target, then its numbered copies, until one is free. With skipSameSize, an existing one
  // that holds the same bytes means the picture is already here: a capture repeated into the same
  // folder, or two harvesters at once, never store it again under a further number. Placing is the
  // test of a free name, so a name taken meanwhile by another writer is compared like any other.
  const std::string base = fso.GetBaseName(target);
  const std::string extension = fso.GetExtensionName(target);
  const auto leafOf = [&](std::uint64_t n) {
    if (n == 0) return fso.GetFileName(target);
    std::string name = base + "_" + std::to_string(n);
    if (!extension.empty()) name += "." + extension;
    return name;
  };
  const auto numbered = [&](std::uint64_t n) { return n == 0 ? target : JoinPath(folder, leafOf(n)); };
  // Where the folder's names are known, a name outside them is free without a look at the disk: a
  // first pass into a folder of thousands of pictures would otherwise look up some 17 names for
  // every copy.
  std::optional<KnownDestinationNames> known(std::in_place, folder);
  const auto exists = [&](std::uint64_t n) { return known->MayBeTaken(leafOf(n)) && fso.FileExists(numbered(n)); };
  const auto holdsTheSameBytes = [&](const std::string& name) {
    return fso.FileExists(name) && fso.GetFile(name).Size == copy.Size() && copy.SameContentsAs(name);
  };
  // A copy deleted from the folder leaves a free number below others: before a free name is
  // taken, the numbers after it are compared too, up to a run of free ones, so that the picture
  // kept under a later number is not stored again in the gap.
  const auto presentAfter = [&](std::uint64_t n) -> std::optional<std::string> {
    constexpr int kFreeNumbersLookedPast = 16;
    for (int free = 0; free < kFreeNumbersLookedPast;) {
      if (!exists(++n)) {
        ++free;
      } else if (holdsTheSameBytes(numbered(n))) {
        return numbered(n);
      }
    }
    return std::nullopt;
  };
  std::string candidate = target;
  std::optional<std::string> present;
  try {
    for (std::uint64_t n = 0;; ++n) {
      candidate = numbered(n);
      if (skipSameSize && !exists(n)) present = presentAfter(n);
      if (present) break;
      if (copy.PlaceIfNameFree(candidate) == FileWriter::Placement::Placed) break;
      if (skipSameSize && holdsTheSameBytes(candidate)) {
        present = candidate;
        break;
      }
    }
  } catch (const NumberedError& error) {
    // A name refused is this entry's trouble; so is a name "not found" in a folder that is there
    // (Windows says so of a path beyond its length limit).
    PassErrorKind kind = KindOfWriteError(error);
    if (IsNameRefusal(error.SystemError()) || (kind == PassErrorKind::FolderMissing && fso.FolderExists(folder))) {
      kind = PassErrorKind::NameRefused;
    }
    throw CopyFailure(error, kind, "cannot write", candidate);
  }
  known.reset();
  if (present) return pass_state::Notify({source, *present, true});
  pass_state::Notify({source, candidate, false});
  ProcessPendingEvents();
}
