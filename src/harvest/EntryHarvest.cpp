// The entry harvest: the tests that decide whether a cache entry is wanted, its name in the
// destination folder, and the copy that never overwrites.
#include <optional>
#include <string_view>

#include "base/FileWriter.h"
#include "base/NumberedError.h"
#include "base/PathText.h"
#include "base/SafeFileName.h"
#include "harvest/PassState.h"
#include "harvest/SettledEntries.h"
#include "harvest/cmnWinInet.h"

std::unique_ptr<KeyedCollection> HarvestedKeys = std::make_unique<KeyedCollection>();

namespace {

std::function<void(const HarvestEvent&)> g_observer;
PassStatistics g_statistics;

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

void RemoveAll(std::string& text, std::string_view part) {
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at)) text.erase(at, part.size());
}

}  // namespace

namespace pass_state {
PassStatistics& BeginPass() {
  g_statistics = PassStatistics{};
  return g_statistics;
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
  const std::string lowerName = LowerCaseText(fso.GetFileName(localPath));
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
  if (CollectionHasKey(HarvestedKeys.get(), key)) return;

  // 10. The name in the destination folder.
  std::string name;
  const std::size_t equals = normalized.rfind('=');
  if ((video == VideoKind::Named || video == VideoKind::StreetNamed) && equals != std::string::npos) {
    name = normalized.substr(equals + 1) + ".flv";
  } else {
    name = lowerName;
    RemoveAll(name, "[1]");
  }
  const std::string target = JoinPath(destinationFolder, SafeFileName(name));

  // 11-12. Copy, then remember the key. The copy lets pending events run, and Stop may have
  // released the collection meanwhile: the add then fails and ends the pass.
  CopyFileUnique(localPath, target, true);
  if (!HarvestedKeys) throw NumberedError(NumberedError::kObjectVariableNotSet, "Object variable not set");
  HarvestedKeys->Add("", key);
}

void CopyFileUnique(const std::string& source, const std::string& target, bool skipSameSize) {
  FileSystemObject fso;
  std::string folder = fso.GetParentFolderName(target);
  if (folder.empty()) folder = ".";

  // The whole source goes into a temporary file beside the target first, so that a name only ever
  // appears with complete contents, and a source that fails to read leaves nothing behind.
  FileWriter copy = FileWriter::NewFileIn(folder);
  fso.ReadContents(source, copy.Sink());

  std::string placedAt = target;
  if (copy.PlaceIfNameFree(target) == FileWriter::Placement::NameTaken) {
    // Equal sizes alone do not make the same picture: the contents must match too.
    if (skipSameSize && fso.FileExists(target) && fso.GetFile(target).Size == fso.GetFile(copy.TemporaryPath()).Size &&
        SameContents(copy.TemporaryPath(), target)) {
      pass_state::Notify({source, target, true});
      return;
    }
    const std::string base = fso.GetBaseName(target);
    const std::string extension = fso.GetExtensionName(target);
    for (std::uint64_t n = 1;; ++n) {
      std::string candidate = JoinPath(folder, base + "_" + std::to_string(n));
      if (!extension.empty()) candidate += "." + extension;
      // A name taken between the test and the placing is passed over like any other.
      if (!fso.FileExists(candidate) && copy.PlaceIfNameFree(candidate) == FileWriter::Placement::Placed) {
        placedAt = std::move(candidate);
        break;
      }
    }
  }
  pass_state::Notify({source, placedAt, false});
  ProcessPendingEvents();
}
