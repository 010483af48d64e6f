// The entry harvest: the tests that decide whether a cache entry is wanted, its name in the
// destination folder, and the copy that never overwrites.
#include <algorithm>
#include <optional>
#include <string_view>

#include "base/FileWriter.h"
#include "base/NumberedError.h"
#include "base/PathText.h"
#include "base/SafeFileName.h"
#include "base/WidePath.h"
#include "harvest/CaptureSession.h"
#include "harvest/DestinationNames.h"
#include "harvest/PassState.h"
#include "harvest/cmnWinInet.h"

std::unique_ptr<KeyedCollection> HarvestedKeys = std::make_unique<KeyedCollection>();

namespace {

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

// The file name of the local path. A browser cache entry's name was taken from its address, in
// UTF-8, which is the text of paths here too.
std::string NameOf(const FileSystemObject& fso, const std::string& localPath) { return fso.GetFileName(localPath); }

void RemoveAll(std::string& text, std::string_view part) {
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at)) text.erase(at, part.size());
}

// The longest name a copy in folder may have. On Windows the whole path also stays within
// MAX_PATH while the folder leaves a name room enough: this program reaches longer paths, but many
// a program the user opens a copy with does not. In a folder deeper than that, names are not
// crushed to a few characters for programs that could not open the folder anyway. MAX_PATH counts
// UTF-16 units, and a UTF-8 name has no more units than bytes.
std::size_t NameLimitIn(const std::string& folder) {
  std::size_t limit = FileNameLimitIn(folder);
#ifdef _WIN32
  constexpr std::size_t kMaxPath = 260;
  constexpr std::size_t kLeastRoom = 64;
  if (limit == 0) limit = 255;
  const std::size_t units = WideFromUtf8(folder).size() + 2;  // a separator and the final null
  if (units + kLeastRoom <= kMaxPath) limit = std::min(limit, kMaxPath - units);
#endif
  return limit;
}

}  // namespace

namespace pass_state {
void EnsureSameCapture() {
  if (CaptureSession::Current().PassEnded()) throw CaptureEnded{};
}
}  // namespace pass_state

void SetHarvestObserver(std::function<void(const CopyOutcome&)> observer) {
  CaptureSession::Current().SetObserver(std::move(observer));
}

void EndRunningPass() { CaptureSession::Current().EndPass(); }

const PassStatistics& LastPassStatistics() { return CaptureSession::Current().Statistics(); }

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
  return collection && collection->Contains(key);
}

void HarvestEntry(FileSystemObject& fso, const CacheEntryRecord& record, const std::string& destinationFolder,
                  std::int32_t minimumSizeKb, const DateValue& captureStart, const std::string& extensionList) {
  // The local path and the address.
  if (record.lpszSourceUrlName == 0) return CaptureSession::Current().MarkEntryDecided();
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

  // Video recognition and the extension test.
  const bool recognizesVideo = Contains(extensionList, ";*.flv;");
  const bool extensionListed = Contains(extensionList, ";*." + extension + ";") || Contains(extensionList, ";*.*;");
  VideoKind video = VideoKind::None;
  if (recognizesVideo && !extensionListed) video = RecognizeVideo(Address());
  if (!extensionListed && video == VideoKind::None) return CaptureSession::Current().MarkEntryDecided();

  // Size: whole kilobytes of the low size word read as signed, truncated toward zero.
  const std::int32_t kilobytes = static_cast<std::int32_t>(record.dwSizeLow) / 1024;
  if (!(static_cast<std::int64_t>(kilobytes) + 1 > minimumSizeKb)) return CaptureSession::Current().MarkEntryDecided();

  // Time: strictly after the capture started.
  if (!(FileTimeToLocalDate(record.LastAccessTime) > captureStart)) return CaptureSession::Current().MarkEntryDecided();
  if (recognizesVideo && extensionListed) video = RecognizeVideo(Address());

  // De-dup by the normalised address.
  const std::string normalized = NormalizeAddress(Address());
  const std::string key = "C" + normalized;
  if (CollectionHasKey(HarvestedKeys.get(), key)) return CaptureSession::Current().MarkEntryDecided();

  // The name in the destination folder.
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

  // Copy, then remember the key. The copy lets pending events run, and Stop or Start may
  // have ended the capture meanwhile: the key then belongs to no collection of this pass.
  const std::string headers = record.lpHeaderInfo ? EntryString(record.lpHeaderInfo) : std::string();
  CopyFileUnique(localPath, target, true, {Address(), MediaTypeOf(headers)});
  pass_state::EnsureSameCapture();
  if (!HarvestedKeys) throw NumberedError(NumberedError::kObjectVariableNotSet, "Object variable not set");
  HarvestedKeys->Add("", key);
  // Harvested now: until it changes, the entry is ignored for its key by every later pass of this
  // capture.
  CaptureSession::Current().MarkEntryDecided();
}

namespace {

CopyOutcome FailedCopy(const std::string& source, const NumberedError& cause, PassErrorKind kind, std::string action,
                       std::string path, std::string reason = {}) {
  CopyOutcome outcome;
  outcome.source = source;
  outcome.failure.emplace(cause, kind, std::move(action), std::move(path), std::move(reason));
  return outcome;
}

// Fills the new file copy in folder with the source's bytes and places it under target or the
// first free numbered name (see CopyWithoutReplacing).
CopyOutcome FillAndPlace(FileSystemObject& fso, FileWriter& copy, const std::string& folder, const std::string& source,
                         const std::string& target, bool skipSameSize, const CopyOrigin& origin) {
  try {
    fso.ReadContents(source, copy.Sink());
  } catch (const NumberedError& error) {
    // A refused write shows in the source's read as a refusal; the writer knows the real cause.
    if (const std::optional<NumberedError> writeError = copy.Failure()) {
      return FailedCopy(source, *writeError, KindOfWriteError(*writeError), "cannot write into", folder);
    }
    // Without a system error the entry itself was refused: its body failed a check on the way.
    const PassErrorKind kind =
        IsExhaustion(error.SystemError()) ? PassErrorKind::Exhausted : PassErrorKind::SourceUnreadable;
    return FailedCopy(source, error, kind, "cannot read", source,
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
  const KnownDestinationNames known(folder);
  const auto exists = [&](std::uint64_t n) { return known.MayBeTaken(leafOf(n)) && fso.FileExists(numbered(n)); };
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
  CopyOutcome outcome;
  outcome.source = source;
  std::string candidate = target;
  try {
    for (std::uint64_t n = 0;; ++n) {
      candidate = numbered(n);
      if (skipSameSize && !exists(n)) {
        if (std::optional<std::string> present = presentAfter(n)) {
          outcome.kind = CopyOutcome::Kind::AlreadyPresent;
          outcome.target = std::move(*present);
          return outcome;
        }
      }
      if (copy.PlaceIfNameFree(candidate) == FileWriter::Placement::Placed) {
        outcome.kind = n == 0 ? CopyOutcome::Kind::Copied : CopyOutcome::Kind::CopiedUnderNumber;
        outcome.target = std::move(candidate);
        return outcome;
      }
      if (skipSameSize && holdsTheSameBytes(candidate)) {
        outcome.kind = CopyOutcome::Kind::AlreadyPresent;
        outcome.target = std::move(candidate);
        return outcome;
      }
    }
  } catch (const NumberedError& error) {
    // A name refused is this entry's trouble; so is a name "not found" in a folder that is there
    // (Windows says so of a path beyond its length limit).
    PassErrorKind kind = KindOfWriteError(error);
    if (IsNameRefusal(error.SystemError()) || (kind == PassErrorKind::FolderMissing && fso.FolderExists(folder))) {
      kind = PassErrorKind::NameRefused;
    }
    return FailedCopy(source, error, kind, "cannot write", candidate);
  }
}

}  // namespace

CopyOutcome CopyWithoutReplacing(const std::string& source, const std::string& target, bool skipSameSize,
                                 const CopyOrigin& origin) {
  FileSystemObject fso;
  std::string folder = fso.GetParentFolderName(target);
  if (folder.empty()) folder = ".";
  // The whole source goes into a temporary file beside the target first, so that a name only ever
  // appears with complete contents, and a source that fails to read leaves nothing behind.
  bool created = false;
  try {
    FileWriter copy = FileWriter::NewFileIn(folder);
    created = true;
    return FillAndPlace(fso, copy, folder, source, target, skipSameSize, origin);
  } catch (const NumberedError& error) {
    if (created) throw;
    return FailedCopy(source, error, KindOfWriteError(error), "cannot create a file in", folder);
  }
}

void CopyFileUnique(const std::string& source, const std::string& target, bool skipSameSize, const CopyOrigin& origin) {
  const CopyOutcome outcome = CopyWithoutReplacing(source, target, skipSameSize, origin);
  if (outcome.failure) throw *outcome.failure;
  CaptureSession::Current().Record(outcome);
  if (outcome.kind != CopyOutcome::Kind::AlreadyPresent) ProcessPendingEvents();
}
